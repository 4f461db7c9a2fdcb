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
#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <memory>

#include "PollOutcome.h"

class LogWriter;
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

    // One line for the poll, when the log is on. Never throws and never
    // waits for the disk; a write that fails stops the log, clears the item
    // and shows a box, after the poll.
    void record(const PollOutcome& outcome) noexcept;

    // The header line and the line of one poll, each with its line end.
    static QByteArray HeaderLine();
    static QByteArray Line(const PollOutcome& outcome);

  private:
    void itemTriggered(bool checked);
    void start(const QString& path);
    void stop();
    void failed();
    // Calls failed() after the poll, from any thread, if log `run` is still on.
    void failLater(int run) noexcept;
    bool writeNow(const QByteArray& bytes);

    QAction* item_;
    QWidget* owner_;
    QFile file_;
    std::unique_ptr<LogWriter> writer_; // while the log is on; it alone uses file_ then
    int run_ = 0;                       // counts the logs started
};
