#include "HistoryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include "Errors.h"
#include "Profile.h"

namespace History {

namespace {

const QString timeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ");

QString TimeText(const QDateTime& t) {
    return t.toUTC().toString(timeFormat);
}

QDateTime TimeFrom(const QString& text) {
    QDateTime t = QDateTime::fromString(text, timeFormat);
    t.setTimeSpec(Qt::UTC);
    return t;
}

// The schema step by step: the statements that take a file of version n-1
// to version n. A new file goes through all of them.
const QList<QStringList>& LocalMigrations() {
    static const QList<QStringList> steps = {
        // 1: the entries, kept as they were made.
        {
            QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
            QStringLiteral("INSERT INTO schema_version (version) VALUES (1)"),
            QStringLiteral("CREATE TABLE entries ("
                           " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                           " uid TEXT NOT NULL UNIQUE,"
                           " kind TEXT NOT NULL,"
                           " registration TEXT NOT NULL,"
                           " made TEXT NOT NULL,"
                           " pc TEXT NOT NULL,"
                           " technician TEXT NOT NULL,"
                           " corrects TEXT NOT NULL DEFAULT '',"
                           " summary TEXT NOT NULL,"
                           " details TEXT NOT NULL)"),
            QStringLiteral("CREATE INDEX entries_module ON entries (registration, made)"),
            QStringLiteral("CREATE TRIGGER entries_no_update BEFORE UPDATE ON entries"
                           " BEGIN SELECT RAISE(ABORT, 'entries are never changed'); END"),
            QStringLiteral("CREATE TRIGGER entries_no_delete BEFORE DELETE ON entries"
                           " BEGIN SELECT RAISE(ABORT, 'entries are never deleted'); END"),
        },
        // 2: the module's type and the saved file in columns of their own,
        // and what the fleet asks for indexed.
        {
            QStringLiteral("ALTER TABLE entries ADD COLUMN module_type INTEGER NOT NULL DEFAULT 0"),
            QStringLiteral("ALTER TABLE entries ADD COLUMN file_name TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("ALTER TABLE entries ADD COLUMN file_sha256 TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("CREATE INDEX entries_fleet ON entries (registration, kind, made)"),
            QStringLiteral("CREATE INDEX entries_kind ON entries (kind, registration)"),
            QStringLiteral("CREATE INDEX entries_file ON entries (file_sha256)"),
            QStringLiteral("UPDATE schema_version SET version = 2"),
        },
    };
    return steps;
}

QString Reason(const QSqlError& e) {
    QString text = e.text().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("неизвестная ошибка");
    return text;
}

QString ConnectionName() {
    return QStringLiteral("history-") + NewUid();
}

[[maybe_unused]] QString OdbcValue(const QString& v) {
    QString escaped = v;
    escaped.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + escaped + QLatin1Char('}');
}

const QString columns =
    QStringLiteral("uid, kind, registration, module_type, made, pc, technician, corrects, summary,"
                   " file_name, file_sha256, details");

// A null QString binds as NULL; the columns hold text, empty at the least.
QVariant Text(const QString& s) {
    return s.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(s);
}

Entry EntryFromQuery(const QSqlQuery& q) {
    Entry e;
    e.uid = q.value(0).toString();
    e.kind = KindFromKey(q.value(1).toString()).value_or(Kind::Seen);
    e.registration = q.value(2).toString();
    e.moduleType = q.value(3).toInt();
    e.made = TimeFrom(q.value(4).toString());
    e.pc = q.value(5).toString();
    e.technician = q.value(6).toString();
    e.corrects = q.value(7).toString();
    e.summary = q.value(8).toString();
    e.fileName = q.value(9).toString();
    e.fileSha256 = q.value(10).toString();
    e.details = QJsonDocument::fromJson(q.value(11).toString().toUtf8()).object();
    return e;
}

} // namespace

QString Target::text() const {
    if (backend == Backend::Local)
        return QStringLiteral("файл %1").arg(QuotedPath(file));
    return QStringLiteral("сервер %1:%2/%3").arg(host).arg(port).arg(database);
}

static QString DataFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return QDir(base).filePath(QStringLiteral("QS730_View"));
}

QString DefaultLocalFile() {
    return QDir(DataFolder()).filePath(QStringLiteral("history.sqlite"));
}

QString DefaultQueueFile() {
    return QDir(DataFolder()).filePath(QStringLiteral("history-queue.jsonl"));
}

Target LoadTarget(const ProfileFile& file) {
    const QString s = QStringLiteral("History");
    Target t;
    t.backend = file.readInteger(s, QStringLiteral("Server"), 0, 0, 1) == 1
                    ? Target::Backend::Server
                    : Target::Backend::Local;
    t.file = file.readString(s, QStringLiteral("File"), QString());
    if (t.file.isEmpty())
        t.file = DefaultLocalFile();
    t.host = file.readString(s, QStringLiteral("Host"), QStringLiteral("localhost"));
    t.port = file.readInteger(s, QStringLiteral("Port"), 5432, 1, 65535);
    t.database = file.readString(s, QStringLiteral("Database"), QStringLiteral("qs730_history"));
    t.user = file.readString(s, QStringLiteral("User"), QString());
    t.askPassword = file.readInteger(s, QStringLiteral("AskPassword"), 0, 0, 1) == 1;
    return t;
}

void SaveTarget(ProfileFile& file, const Target& t) {
    const QString s = QStringLiteral("History");
    file.write({
        {s, QStringLiteral("Server"),
         QString::number(t.backend == Target::Backend::Server ? 1 : 0)},
        {s, QStringLiteral("Host"), t.host},
        {s, QStringLiteral("Port"), QString::number(t.port)},
        {s, QStringLiteral("Database"), t.database},
        {s, QStringLiteral("User"), t.user},
        {s, QStringLiteral("AskPassword"), QString::number(t.askPassword ? 1 : 0)},
    });
}

QString Probe(const Target& target) {
    try {
        Store store(target);
        store.open();
    } catch (const Exception& e) {
        return e.message();
    }
    return {};
}

Store::Store(Target target) : target_(std::move(target)), connection_(ConnectionName()) {}

Store::~Store() {
    close();
}

bool Store::isOpen() const {
    return QSqlDatabase::contains(connection_) &&
           QSqlDatabase::database(connection_, false).isOpen();
}

void Store::close() {
    if (!QSqlDatabase::contains(connection_))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
    version_ = 0;
}

void Store::open() {
    close();
    if (target_.backend == Target::Backend::Local)
        openLocal();
    else
        openServer();
}

void Store::openLocal() {
    const QString path = target_.file;
    QFile existing(path);
    if (existing.exists() && existing.size() > 0) {
        // Anything but an SQLite file is left alone, not opened for writing.
        if (!existing.open(QIODevice::ReadOnly) ||
            existing.read(16) != QByteArray("SQLite format 3\0", 16))
            throw Exception(
                QStringLiteral("Файл истории %1 не является базой данных; он оставлен как есть.")
                    .arg(QuotedPath(path)));
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open())
        throw Exception(QStringLiteral("Невозможно открыть файл истории %1: %2")
                            .arg(QuotedPath(path), Reason(db.lastError())));
    migrate();
}

void Store::openServer() {
#ifdef Q_OS_WIN
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connection_);
    QString c = QStringLiteral("Driver={PostgreSQL Unicode};Server=%1;Port=%2;Database=%3;Uid=%4;")
                    .arg(OdbcValue(target_.host))
                    .arg(target_.port)
                    .arg(OdbcValue(target_.database), OdbcValue(target_.user));
    if (!target_.password.isEmpty())
        c += QStringLiteral("Pwd=%1;").arg(OdbcValue(target_.password));
    db.setDatabaseName(c);
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1")
                             .arg(target_.connectTimeoutSeconds));
#else
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection_);
    db.setHostName(target_.host);
    db.setPort(target_.port);
    db.setDatabaseName(target_.database);
    db.setUserName(target_.user);
    if (!target_.password.isEmpty())
        db.setPassword(target_.password);
    db.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=QS730_View")
                             .arg(target_.connectTimeoutSeconds));
#endif
    if (!db.isValid())
        throw Exception(QStringLiteral("Драйвер базы данных для сервера истории не найден."));
    if (!db.open())
        throw Exception(QStringLiteral("Нет связи с сервером истории %1: %2")
                            .arg(target_.text(), Reason(db.lastError())));
    const int v = readVersion();
    if (v < 0)
        throw Exception(QStringLiteral("Нет доступа к истории на сервере %1: %2")
                            .arg(target_.text(), unreadable_));
    if (v == 0)
        throw Exception(QStringLiteral("На сервере истории %1 нет таблиц истории: администратор "
                                       "создаёт их сценарием history-server.sql.")
                            .arg(target_.text()));
    if (v > SchemaVersion)
        throw Exception(QStringLiteral("База истории на %1 новее этой версии программы (схема %2, "
                                       "программа знает схему %3): обновите программу.")
                            .arg(target_.text())
                            .arg(v)
                            .arg(SchemaVersion));
    if (v < SchemaVersion)
        throw Exception(QStringLiteral("База истории на %1 старой схемы %2: администратор "
                                       "обновляет её сценарием history-server.sql.")
                            .arg(target_.text())
                            .arg(v));
    version_ = v;
}

// 0: no history tables; -1: the file cannot be read.
int Store::readVersion() {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (target_.backend == Target::Backend::Local) {
        // Reads the file's own catalogue: a damaged file fails here.
        QSqlQuery t(db);
        if (!t.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND "
                                   "name = 'schema_version'")) ||
            !t.next()) {
            unreadable_ = Reason(t.lastError());
            return -1;
        }
        if (t.value(0).toInt() == 0)
            return 0;
    } else if (!db.tables().contains(QStringLiteral("schema_version"))) {
        return 0;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next()) {
        unreadable_ = Reason(q.lastError());
        return -1;
    }
    return q.value(0).toInt();
}

void Store::migrate() {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const int v = readVersion();
    const QString path = target_.file;
    if (v < 0)
        throw Exception(QStringLiteral("Файл истории %1 не читается (%2); он оставлен как есть.")
                            .arg(QuotedPath(path), unreadable_));
    if (v > SchemaVersion)
        throw Exception(QStringLiteral("Файл истории %1 записан более новой версией программы "
                                       "(схема %2, эта версия знает схему %3); он оставлен как "
                                       "есть.")
                            .arg(QuotedPath(path))
                            .arg(v)
                            .arg(SchemaVersion));
    if (v < SchemaVersion) {
        if (!db.transaction())
            throw Exception(QStringLiteral("Невозможно открыть файл истории %1: %2")
                                .arg(QuotedPath(path), Reason(db.lastError())));
        const auto& steps = LocalMigrations();
        for (int step = v; step < SchemaVersion; ++step) {
            for (const QString& sql : steps[step]) {
                QSqlQuery q(db);
                if (!q.exec(sql)) {
                    const QString reason = Reason(q.lastError());
                    db.rollback();
                    throw Exception(QStringLiteral("Невозможно обновить файл истории %1: %2")
                                        .arg(QuotedPath(path), reason));
                }
            }
        }
        if (!db.commit()) {
            const QString reason = Reason(db.lastError());
            db.rollback();
            throw Exception(QStringLiteral("Невозможно обновить файл истории %1: %2")
                                .arg(QuotedPath(path), reason));
        }
    }
    version_ = SchemaVersion;
}

void MakeLocalSchema(const QString& connection, int upTo) {
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    const auto& steps = LocalMigrations();
    for (int step = 0; step < upTo && step < steps.size(); ++step)
        for (const QString& sql : steps[step]) {
            QSqlQuery q(db);
            if (!q.exec(sql))
                throw Exception(Reason(q.lastError()));
        }
}

int Store::add(const QList<Entry>& entries) {
    if (!isOpen())
        open();
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const auto fail = [&](const QSqlError& e) {
        const QString reason = Reason(e);
        if (db.isOpen())
            db.rollback();
        throw Exception(
            QStringLiteral("Не удалось записать историю в %1: %2").arg(target_.text(), reason));
    };
    if (!db.transaction())
        fail(db.lastError());
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO entries (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                  "?, ?) ON CONFLICT (uid) DO NOTHING")
                       .arg(columns)))
        fail(q.lastError());
    int added = 0;
    for (const Entry& e : entries) {
        q.addBindValue(Text(e.uid));
        q.addBindValue(KindKey(e.kind));
        q.addBindValue(Text(e.registration));
        q.addBindValue(e.moduleType);
        q.addBindValue(TimeText(e.made));
        q.addBindValue(Text(e.pc));
        q.addBindValue(Text(e.technician));
        q.addBindValue(Text(e.corrects));
        q.addBindValue(Text(e.summary));
        q.addBindValue(Text(e.fileName));
        q.addBindValue(Text(e.fileSha256));
        q.addBindValue(QString::fromUtf8(QJsonDocument(e.details).toJson(QJsonDocument::Compact)));
        if (!q.exec())
            fail(q.lastError());
        if (q.numRowsAffected() > 0)
            added += q.numRowsAffected();
    }
    if (!db.commit())
        fail(db.lastError());
    return added;
}

QList<Entry> Store::moduleHistory(const QString& registration) {
    if (!isOpen())
        open();
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM entries WHERE registration = ? ORDER BY made, id")
                  .arg(columns));
    q.addBindValue(registration);
    if (!q.exec())
        throw Exception(QStringLiteral("Не удалось прочитать историю из %1: %2")
                            .arg(target_.text(), Reason(q.lastError())));
    QList<Entry> out;
    while (q.next())
        out.append(EntryFromQuery(q));
    return out;
}

bool Store::contains(const QString& uid) {
    if (!isOpen())
        open();
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM entries WHERE uid = ?"));
    q.addBindValue(uid);
    return q.exec() && q.next() && q.value(0).toInt() > 0;
}

bool Store::hasFile(const QString& sha256) {
    if (!isOpen())
        open();
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM entries WHERE file_sha256 = ?"));
    q.addBindValue(sha256);
    return q.exec() && q.next() && q.value(0).toInt() > 0;
}

int Store::count() {
    if (!isOpen())
        open();
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM entries")) || !q.next())
        throw Exception(QStringLiteral("Не удалось прочитать историю из %1: %2")
                            .arg(target_.text(), Reason(q.lastError())));
    return q.value(0).toInt();
}

QList<ModuleRow> Store::fleet(const QDate& today) {
    return fleetRows(QString(), today);
}

std::optional<ModuleRow> Store::module(const QString& registration, const QDate& today) {
    const auto rows = fleetRows(registration, today);
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

QList<ModuleRow> Store::fleetRows(const QString& only, const QDate& today) {
    if (!isOpen())
        open();
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const auto failed = [&](const QSqlQuery& q) {
        return Exception(QStringLiteral("Не удалось прочитать историю из %1: %2")
                             .arg(target_.text(), Reason(q.lastError())));
    };
    const QString filter = only.isEmpty() ? QString() : QStringLiteral(" AND registration = ?");
    QMap<QString, ModuleRow> rows; // by registration

    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT registration, kind, MAX(made), COUNT(*) FROM entries"
                             " WHERE registration <> ''%1 GROUP BY registration, kind")
                  .arg(filter));
    if (!only.isEmpty())
        q.addBindValue(only);
    if (!q.exec())
        throw failed(q);
    while (q.next()) {
        ModuleRow& r = rows[q.value(0).toString()];
        r.registration = q.value(0).toString();
        r.entries += q.value(3).toInt();
        const auto kind = KindFromKey(q.value(1).toString());
        const QDateTime last = TimeFrom(q.value(2).toString());
        if (kind == Kind::Seen)
            r.lastSeen = last;
        else if (kind == Kind::Calibration)
            r.lastCalibration = last.toLocalTime().date();
    }

    // The type and the module's own calibration date from its last connection.
    QSqlQuery s(db);
    s.setForwardOnly(true);
    s.prepare(QStringLiteral("SELECT e.registration, e.module_type, e.details FROM entries e JOIN"
                             " (SELECT MAX(id) AS id FROM entries WHERE kind = ?%1"
                             " GROUP BY registration) l ON e.id = l.id")
                  .arg(filter));
    s.addBindValue(KindKey(Kind::Seen));
    if (!only.isEmpty())
        s.addBindValue(only);
    if (!s.exec())
        throw failed(s);
    while (s.next()) {
        auto it = rows.find(s.value(0).toString());
        if (it == rows.end())
            continue;
        it->moduleType = s.value(1).toInt();
        const QJsonObject d = QJsonDocument::fromJson(s.value(2).toString().toUtf8()).object();
        it->firmware = d.value(QStringLiteral("firmware")).toString();
        const QDate own =
            QDate::fromString(d.value(QStringLiteral("calibrationDate")).toString(), Qt::ISODate);
        if (own.isValid() && (!it->lastCalibration.isValid() || own > it->lastCalibration))
            it->lastCalibration = own;
    }

    // Intervals: the last one set for a module, else for its type.
    QHash<QString, int> forModule;
    QHash<int, int> forType;
    QSqlQuery i(db);
    i.setForwardOnly(true);
    i.prepare(QStringLiteral(
        "SELECT registration, module_type, details FROM entries WHERE kind = ? ORDER BY made, id"));
    i.addBindValue(KindKey(Kind::Interval));
    if (!i.exec())
        throw failed(i);
    while (i.next()) {
        const int months = QJsonDocument::fromJson(i.value(2).toString().toUtf8())
                               .object()
                               .value(QStringLiteral("months"))
                               .toInt();
        if (months <= 0)
            continue;
        if (i.value(0).toString().isEmpty())
            forType[i.value(1).toInt()] = months;
        else
            forModule[i.value(0).toString()] = months;
    }

    QList<ModuleRow> out;
    out.reserve(rows.size());
    for (ModuleRow& r : rows) {
        r.intervalMonths =
            forModule.value(r.registration, forType.value(r.moduleType, DefaultIntervalMonths));
        r.due = DueDate(r.lastCalibration, r.intervalMonths);
        r.state = DueStateOn(r.due, today);
        out.append(r);
    }
    return out;
}

} // namespace History
