#include "MeasureLog.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>
#include <algorithm>
#include <limits>
#include <mutex>

#include "Csv.h"
#include "Errors.h"
#include "LogFile.h"
#include "SaveAs.h"
#include "SaveName.h"
#include "Seam.h"

namespace {

using csv::Bom;
using csv::Field;
using csv::LineEnd;
using csv::Separator;

// How long a new log waits for the one stopped last to close the same file,
// and the program's end for the last lines to reach the disk.
constexpr int CloseWaitMs = 2000;

const QStringList& HeaderFields() {
    static const QStringList fields =
        QStringList{QStringLiteral("Дата и время"), QStringLiteral("Значение"),
                    QStringLiteral("Ед. изм.")} +
        FlagCaptions();
    return fields;
}

// The header of the logs written before the unit's column was renamed.
QByteArray OldHeader() {
    QStringList fields = HeaderFields();
    fields[2] = QStringLiteral("Единица");
    return fields.join(QLatin1Char(Separator)).toUtf8();
}

// A path as the messages show it, in quotes, so that a full stop after it is
// not taken for part of the name.
QString Quoted(const QString& path) {
    return QStringLiteral("«") + QDir::toNativeSeparators(path) + QStringLiteral("»");
}

// Whether `file` is a log of this program: its first line is the header,
// with or without the byte-order mark, in today's words or the old ones.
bool IsThisLog(QFile& file) {
    if (!file.seek(0))
        return false;
    QByteArray first = file.read(4096);
    const qsizetype end = first.indexOf('\n');
    if (end < 0)
        return false;
    first.truncate(end);
    if (first.endsWith('\r'))
        first.chop(1);
    if (first.startsWith(Bom))
        first.remove(0, Bom.size());
    return first == MeasureLog::HeaderLine().chopped(LineEnd.size()) || first == OldHeader();
}

// Where the last whole line of `file` (`size` bytes) ends: after its last
// line break.
qint64 WholeLinesEnd(QFile& file, qint64 size) {
    constexpr qint64 Chunk = 4096;
    for (qint64 end = size; end > 0; end -= Chunk) {
        const qint64 begin = std::max<qint64>(0, end - Chunk);
        if (!file.seek(begin))
            return size;
        const qsizetype at = file.read(end - begin).lastIndexOf('\n');
        if (at >= 0)
            return begin + at + 1;
    }
    return 0;
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

struct MeasureLog::Mailbox {
    std::mutex mutex;
    MeasureLog* log = nullptr; // none once the log's side is gone

    // From a writer's thread: the log `run` into `path` could not write.
    void post(int run, const QString& path) noexcept {
        std::lock_guard lock(mutex);
        if (log)
            log->failLater(run, path);
    }
};

MeasureLog::MeasureLog(QAction* item, QWidget* owner)
    : QObject(owner), item_(item), owner_(owner), mailbox_(std::make_shared<Mailbox>()) {
    mailbox_->log = this;
    item_->setCheckable(true);
    item_->setChecked(false);
    // triggered, not toggled: only the user's click starts or stops the log.
    connect(item_, &QAction::triggered, this,
            [this](bool checked) { seam::Guard([this, checked] { itemTriggered(checked); }); });
}

MeasureLog::~MeasureLog() {
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->log = nullptr;
    }
    stop();
    // The window is gone: the last lines get a little time to reach the
    // disk; a disk that hangs is left to the writer.
    if (last_)
        last_->waitClosed(CloseWaitMs);
}

bool MeasureLog::busy() const {
    return writer_ || (last_ && !last_->waitClosed(0));
}

QByteArray MeasureLog::HeaderLine() {
    return HeaderFields().join(QLatin1Char(Separator)).toUtf8() + LineEnd;
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
    const QString path = AskSaveFileName(owner_, QStringLiteral("Записывать в файл"),
                                         SuggestedSavePath(Saved::MeasureLog),
                                         QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)"),
                                         false); // an existing log is continued, not replaced
    if (path.isEmpty())
        return;
    start(path);
    item_->setChecked(true);
}

void MeasureLog::start(const QString& path) {
    stop();
    // The log stopped last may still be putting its last lines into this file.
    if (last_ && lastPath_ == path)
        last_->waitClosed(CloseWaitMs);
    const bool existed = QFileInfo::exists(path);
    auto file = std::make_unique<QFile>();
    if (!OpenLogFile(*file, path))
        throw Exception(QStringLiteral("Невозможно открыть файл ") + Quoted(path));
    qint64 size = file->size();
    // Appending: a log chosen again goes on where it ended; anything else
    // is left as it is.
    QByteArray opening;
    if (size == 0) {
        opening = Bom + HeaderLine();
    } else if (!IsThisLog(*file)) {
        file->close();
        throw Exception(QStringLiteral("Файл ") + Quoted(path) +
                        QStringLiteral(" не является журналом измерений.\nВыберите другой файл"));
    } else if (const qint64 whole = WholeLinesEnd(*file, size); whole < size) {
        // A line cut short (power lost, or the disk full, while it was
        // written) holds no whole record: it goes, so that no later line is
        // ever read as its end. Only its line break missing, it is ended.
        const bool onlyBreakMissing = file->seek(size - 1) && file->read(1) == "\r";
        if (onlyBreakMissing) {
            opening = "\n";
        } else if (file->resize(whole)) {
            size = whole;
        } else {
            file->close();
            throw Exception(QStringLiteral("Ошибка записи в файл ") + Quoted(path));
        }
    }
    if (!opening.isEmpty() && file->write(opening) != opening.size()) {
        // Nothing of it stays behind: a file made here goes, one that was
        // there gets its length back.
        if (existed)
            file->resize(size);
        file->close();
        if (!existed)
            QFile::remove(path);
        throw Exception(QStringLiteral("Ошибка записи в файл ") + Quoted(path));
    }
    const int run = ++run_;
    path_ = path;
    writer_ = LogWriter::start(std::move(file), diskWrite_,
                               [mailbox = mailbox_, run, path] { mailbox->post(run, path); });
}

void MeasureLog::stop() noexcept {
    if (!writer_)
        return;
    writer_->finish(); // writes what is waiting and closes the file, in its own time
    last_ = std::move(writer_);
    lastPath_ = path_;
}

void MeasureLog::failLater(int run, const QString& path) noexcept {
    QMetaObject::invokeMethod(
        this, [this, run, path] { seam::Guard([&] { failed(run, path); }); }, Qt::QueuedConnection);
}

void MeasureLog::record(const PollOutcome& outcome) noexcept {
    if (writer_ && !writer_->add(Line(outcome)))
        failLater(run_, path_);
}

// Runs after the poll, never inside it; a log stopped already is reported too.
void MeasureLog::failed(int run, const QString& path) {
    if (reported_.contains(run))
        return;
    reported_.insert(run);
    if (run == run_ && writer_) {
        writer_->dropWaiting(); // a disk that takes no more would keep them forever
        stop();
        item_->setChecked(false);
    }
    seam::message(owner_,
                  QStringLiteral("Ошибка записи в файл ") + Quoted(path) +
                      QStringLiteral(".\nЗапись в файл остановлена."),
                  seam::AppTitle, seam::Icon::Error);
}
