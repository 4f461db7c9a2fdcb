#include "MeasureLog.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QWidget>

#include "DiskSync.h"
#include "Errors.h"
#include "SaveAs.h"
#include "Seam.h"

namespace {

const QByteArray Bom = QByteArrayLiteral("\xEF\xBB\xBF");
const QByteArray LineEnd = QByteArrayLiteral("\r\n");
constexpr char Separator = ';';

// A field as a spreadsheet reads it back: quoted when it holds the
// separator, a quote or a line break.
QByteArray Field(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(Separator) && !utf8.contains('"') && !utf8.contains('\n') &&
        !utf8.contains('\r'))
        return utf8;
    return '"' + utf8.replace('"', "\"\"") + '"';
}

} // namespace

MeasureLog::MeasureLog(QAction* item, QWidget* owner) : QObject(owner), item_(item), owner_(owner) {
    item_->setCheckable(true);
    item_->setChecked(false);
    // triggered, not toggled: only the user's click starts or stops the log.
    connect(item_, &QAction::triggered, this,
            [this](bool checked) { seam::Guard([this, checked] { itemTriggered(checked); }); });
}

MeasureLog::~MeasureLog() {
    stop();
}

QByteArray MeasureLog::HeaderLine() {
    QStringList fields = {QStringLiteral("Дата и время"), QStringLiteral("Значение"),
                          QStringLiteral("Единица")};
    fields += FlagCaptions();
    return fields.join(QLatin1Char(Separator)).toUtf8() + LineEnd;
}

QByteArray MeasureLog::Line(const PollOutcome& outcome) {
    // Milliseconds after a comma, as a Russian-locale spreadsheet reads a time.
    QByteArray line = QDateTime::fromMSecsSinceEpoch(outcome.msecs)
                          .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss,zzz"))
                          .toUtf8();
    line += Separator;
    if (!outcome.ok) {
        line += Field(outcome.error);
        line += QByteArray(FlagCount + 1, Separator); // no unit, no flags
        return line + LineEnd;
    }
    line += QByteArray::number(outcome.value);
    line += Separator;
    line += UnitText(outcome.mode).toUtf8();
    const uint8_t bits = FlagBits(outcome.flagsA, outcome.flagsB);
    for (int i = 0; i < FlagCount; ++i) {
        line += Separator;
        line += (bits & (1u << i)) ? '1' : '0';
    }
    return line + LineEnd;
}

void MeasureLog::itemTriggered(bool checked) {
    if (!checked) {
        stop();
        return;
    }
    item_->setChecked(false); // until the file is open
    const QString suggested =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(QDateTime::currentDateTime().toString(
                QStringLiteral("'QS730_'yyyyMMdd_HHmmss'.csv'")));
    const QString path = AskSaveFileName(owner_, QStringLiteral("Записывать в файл"), suggested,
                                         QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)"),
                                         false); // an existing log is continued, not replaced
    if (path.isEmpty())
        return;
    start(path);
    item_->setChecked(true);
}

void MeasureLog::start(const QString& path) {
    stop();
    file_.setFileName(path);
    // Appending: a log chosen again goes on where it ended.
    bool ok = file_.open(QIODevice::ReadWrite | QIODevice::Append);
    if (ok && file_.size() == 0) {
        ok = writeLine(Bom + HeaderLine());
    } else if (ok) {
        // A line cut short (power lost while writing it) is ended first.
        ok = file_.seek(file_.size() - 1);
        const QByteArray lastByte = ok ? file_.read(1) : QByteArray();
        ok = ok && lastByte.size() == 1 && (lastByte[0] == '\n' || writeLine(LineEnd));
    }
    if (!ok) {
        file_.close();
        throw Exception(QStringLiteral("Невозможно открыть файл ") +
                        QDir::toNativeSeparators(path));
    }
    sync_ = std::make_unique<DiskSync>(file_.handle());
    sync_->request();
}

void MeasureLog::stop() {
    sync_.reset(); // the last sync first, while the file is still open
    if (file_.isOpen())
        file_.close();
}

bool MeasureLog::writeLine(const QByteArray& line) {
    if (file_.write(line) != line.size() || !file_.flush() || (sync_ && sync_->failed()))
        return false;
    if (sync_)
        sync_->request();
    return true;
}

void MeasureLog::record(const PollOutcome& outcome) noexcept {
    if (!file_.isOpen() || writeLine(Line(outcome)))
        return;
    // No reason given: after a write cut short the file's own error text is empty.
    const QString text = QStringLiteral("Ошибка записи в файл ") +
                         QDir::toNativeSeparators(file_.fileName()) +
                         QStringLiteral(".\nЗапись в файл остановлена.");
    stop();
    item_->setChecked(false);
    // The box waits until the poll has done its own work.
    QMetaObject::invokeMethod(
        this, [this, text] { seam::message(owner_, text, seam::AppTitle, seam::Icon::Error); },
        Qt::QueuedConnection);
}
