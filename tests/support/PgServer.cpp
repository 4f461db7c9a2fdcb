#include "PgServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {
QString BinFolder() {
    // The highest version Debian's package installed.
    QDir lib(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    for (auto it = versions.rbegin(); it != versions.rend(); ++it) {
        const QString bin = lib.filePath(*it + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    return {};
}
} // namespace

PgServer::PgServer() : binDir_(BinFolder()) {
    // A port number of our own makes the socket's name; only this folder
    // listens, so any free-looking number does.
    port_ = 20000 + static_cast<int>(QRandomGenerator::global()->bounded(20000));
    if (geteuid() == 0) {
        for (const char* name : {"postgres", "nobody"}) {
            if (const passwd* pw = getpwnam(name)) {
                account_ = QString::fromLatin1(name);
                // The account must reach the folder: it gets the folder.
                if (chown(QFile::encodeName(dir_.path()).constData(), pw->pw_uid, pw->pw_gid) != 0)
                    account_.clear();
                break;
            }
        }
    }
}

PgServer::~PgServer() {
    stop();
}

QString PgServer::socketFolder() const {
    return dir_.path();
}

QString PgServer::bin(const QString& name) const {
    return binDir_ + QLatin1Char('/') + name;
}

bool PgServer::run(const QString& program, const QStringList& args, int timeoutMs,
                   QString* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(dir_.path());
    if (account_.isEmpty())
        p.start(program, args);
    else
        p.start(QStringLiteral("runuser"),
                QStringList{QStringLiteral("-u"), account_, QStringLiteral("--"), program} + args);
    if (!p.waitForStarted(10000)) {
        why_ = program + QStringLiteral(": not started");
        return false;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        why_ = program + QStringLiteral(": timed out");
        return false;
    }
    const QString out = QString::fromLocal8Bit(p.readAll());
    if (output)
        *output = out;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        why_ = program + QStringLiteral(": ") + out;
        return false;
    }
    return true;
}

bool PgServer::start() {
    if (running_)
        return true;
    if (binDir_.isEmpty()) {
        why_ = QStringLiteral("no PostgreSQL in /usr/lib/postgresql (Debian's postgresql)");
        return false;
    }
    const QString data = dir_.filePath(QStringLiteral("data"));
    if (!made_) {
        if (!run(bin(QStringLiteral("initdb")),
                 {QStringLiteral("-D"), data, QStringLiteral("-U"), superUser(),
                  QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                  QStringLiteral("--no-sync")},
                 120000))
            return false;
        made_ = true;
    }
    const QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses= -c fsync=off "
                                           "-c synchronous_commit=off -c full_page_writes=off")
                                .arg(dir_.path())
                                .arg(port_);
    if (!run(bin(QStringLiteral("pg_ctl")),
             {QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-t"),
              QStringLiteral("60"), QStringLiteral("-D"), data, QStringLiteral("-l"),
              dir_.filePath(QStringLiteral("server.log")), QStringLiteral("-o"), options},
             90000)) {
        QFile log(dir_.filePath(QStringLiteral("server.log")));
        if (log.open(QIODevice::ReadOnly))
            why_ += QString::fromLocal8Bit(log.readAll());
        return false;
    }
    running_ = true;
    return true;
}

bool PgServer::stop() {
    if (!running_)
        return true;
    running_ = false;
    return run(bin(QStringLiteral("pg_ctl")),
               {QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-t"),
                QStringLiteral("60"), QStringLiteral("-m"), QStringLiteral("fast"),
                QStringLiteral("-D"), dir_.filePath(QStringLiteral("data"))},
               90000);
}

bool PgServer::psql(const QString& database, const QString& sql) {
    return run(bin(QStringLiteral("psql")),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), dir_.path(),
                QStringLiteral("-p"), QString::number(port_), QStringLiteral("-U"), superUser(),
                QStringLiteral("-d"), database, QStringLiteral("-v"),
                QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), sql},
               60000);
}

bool PgServer::psqlFile(const QString& database, const QString& path) {
    // The server's account reads the script from our folder.
    const QString copy = dir_.filePath(QStringLiteral("script.sql"));
    QFile::remove(copy);
    if (!QFile::copy(path, copy)) {
        why_ = QStringLiteral("cannot copy ") + path;
        return false;
    }
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    return run(bin(QStringLiteral("psql")),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), dir_.path(),
                QStringLiteral("-p"), QString::number(port_), QStringLiteral("-U"), superUser(),
                QStringLiteral("-d"), database, QStringLiteral("-v"),
                QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-f"), copy},
               60000);
}

bool PgServer::createDatabase(const QString& name) {
    return run(bin(QStringLiteral("createdb")),
               {QStringLiteral("-h"), dir_.path(), QStringLiteral("-p"), QString::number(port_),
                QStringLiteral("-U"), superUser(), name},
               60000);
}
