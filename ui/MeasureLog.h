// The measurement log: one line for every poll, appended to a text file the
// user chooses, while the checkable menu item that starts it stays checked.
//
// The file is UTF-8 with a byte-order mark, fields separated by ";", so that a
// spreadsheet in a Russian locale opens it as columns: date and time to the
// millisecond, the value, its unit and the six flags as 0/1; a failed poll
// has the error's message in place of the value. Each line is written and
// synced as soon as its poll is done, away from the poll (LogWriter), so that
// a crash or a power cut loses at most the line being written, or the few
// that came while a slow disk was busy. A write that fails ends the logging
// and says so in a box; polling goes on.
//
// An existing file is continued only when it is such a log (its first line
// is the header); while the log is on, no other log may write into it.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <memory>

#include "LogWriter.h"
#include "PollOutcome.h"

class QAction;
class QWidget;

class MeasureLog : public QObject {
    Q_OBJECT

  public:
    // `item`: checking it asks for a file and starts the log, clearing it
    // stops the log. `owner` owns the boxes.
    MeasureLog(QAction* item, QWidget* owner);
    ~MeasureLog() override;

    bool isOn() const { return writer_ != nullptr; }
    // A log file is still open: the log is on, or the one stopped last is
    // still putting its last lines onto the disk.
    bool busy() const;

    // One line for the poll, when the log is on. Never throws and never
    // waits for the disk; a write that fails stops the log, clears the item
    // and shows a box, after the poll.
    void record(const PollOutcome& outcome) noexcept;

    // The header line and the line of one poll, each with its line end.
    static QByteArray HeaderLine();
    static QByteArray Line(const PollOutcome& outcome);

    // How the lines of the logs started from now on go onto the disk.
    void setDiskWrite(LogWriter::DiskWrite write) { diskWrite_ = std::move(write); }

  private:
    struct Mailbox;

    void itemTriggered(bool checked);
    void start(const QString& path);
    void stop() noexcept;
    // Log `run` into `path` could not write: stops it if it is still on and
    // says so, once per log.
    void failed(int run, const QString& path);
    void failLater(int run, const QString& path) noexcept;

    QAction* item_;
    QWidget* owner_;
    std::shared_ptr<LogWriter> writer_; // while the log is on
    QString path_;                      // of the log that is on
    std::shared_ptr<LogWriter> last_;   // the log stopped last, and its file
    QString lastPath_;
    int run_ = 0; // counts the logs started
    QSet<int> reported_;
    std::shared_ptr<Mailbox> mailbox_; // the writers' way back here
    LogWriter::DiskWrite diskWrite_ = &LogWriter::WriteAndSync;
};
