// The measurement log: one line for every poll, appended to a text file the
// user chooses, while the checkable menu item that starts it stays checked.
//
// The file is UTF-8 with a byte-order mark, fields separated by ";", so that a
// spreadsheet in a Russian locale opens it as columns: date and time to the
// millisecond, the value, its unit and the six flags as 0/1; a failed poll
// has the error's message in place of the value. Each line is flushed as it
// is written and then put onto the disk away from the poll, so that a crash
// or a power cut loses at most the last line or two. A write that fails ends
// the logging and says so in a box; polling goes on.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <memory>

#include "PollOutcome.h"

class DiskSync;
class QAction;
class QWidget;

class MeasureLog : public QObject {
    Q_OBJECT

  public:
    // `item`: checking it asks for a file and starts the log, clearing it
    // stops the log. `owner` owns the boxes.
    MeasureLog(QAction* item, QWidget* owner);
    ~MeasureLog() override;

    bool isOpen() const { return file_.isOpen(); }
    QString path() const { return file_.fileName(); }

    // One line for the poll, when the log is on. Never throws; a failed
    // write stops the log, clears the item and shows a box once the poll
    // has done its own work.
    void record(const PollOutcome& outcome) noexcept;

    // The header line and the line of one poll, each with its line end.
    static QByteArray HeaderLine();
    static QByteArray Line(const PollOutcome& outcome);

  private:
    void itemTriggered(bool checked);
    void start(const QString& path);
    void stop();
    bool writeLine(const QByteArray& line);

    QAction* item_;
    QWidget* owner_;
    QFile file_;
    std::unique_ptr<DiskSync> sync_; // while file_ is open
};
