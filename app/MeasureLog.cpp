#include "MeasureLog.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QWidget>
#include <limits>

#include "Errors.h"
#include "LogWriter.h"
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

// "dd.MM.yyyy HH:mm:ss,zzz" in local time. The conversion to local time is
// slow next to the rest of a poll, so it is done once a second.
QByteArray TimeText(qint64 msecs) {
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local QByteArray cachedText;
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    if (second != cachedSecond) {
        cachedText = QDateTime::fromSecsSinceEpoch(second)
                         .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))
                         .toUtf8();
        cachedSecond = second;
    }
    const int ms = static_cast<int>(msecs - second * 1000);
    const char tail[4] = {',', static_cast<char>('0' + ms / 100),
                          static_cast<char>('0' + ms / 10 % 10), static_cast<char>('0' + ms % 10)};
    return cachedText + QByteArray(tail, 4);
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
    QByteArray line = TimeText(outcome.msecs);
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
        ok = writeNow(Bom + HeaderLine());
    } else if (ok) {
        // A line cut short (power lost while writing it) is ended first.
        ok = file_.seek(file_.size() - 1);
        const QByteArray lastByte = ok ? file_.read(1) : QByteArray();
        ok = ok && lastByte.size() == 1 && (lastByte[0] == '\n' || writeNow(LineEnd));
    }
    if (!ok) {
        file_.close();
        throw Exception(QStringLiteral("Невозможно открыть файл ") +
                        QDir::toNativeSeparators(path));
    }
    const int run = ++run_;
    writer_ = std::make_unique<LogWriter>(&file_, [this, run] { failLater(run); });
}

void MeasureLog::failLater(int run) noexcept {
    QMetaObject::invokeMethod(
        this,
        [this, run] {
            if (run == run_) // not a log stopped and started anew meanwhile
                failed();
        },
        Qt::QueuedConnection);
}

bool MeasureLog::writeNow(const QByteArray& bytes) {
    return file_.write(bytes) == bytes.size() && file_.flush();
}

void MeasureLog::stop() {
    writer_.reset(); // writes what is waiting
    if (file_.isOpen())
        file_.close();
}

void MeasureLog::record(const PollOutcome& outcome) noexcept {
    if (writer_ && !writer_->add(Line(outcome)))
        failLater(run_);
}

// Runs after the poll, never inside it.
void MeasureLog::failed() {
    if (!writer_)
        return; // already stopped
    const QString text = QStringLiteral("Ошибка записи в файл ") +
                         QDir::toNativeSeparators(file_.fileName()) +
                         QStringLiteral(".\nЗапись в файл остановлена.");
    writer_->dropWaiting(); // a disk that takes no more would keep the window waiting
    stop();
    item_->setChecked(false);
    seam::message(owner_, text, seam::AppTitle, seam::Icon::Error);
}
