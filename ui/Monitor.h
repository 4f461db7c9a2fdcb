// The window "Монитор обмена": every frame on the line, one row each, with
// its time, the module's response time, the bytes and what they mean. Not
// modal; made when its menu item is first chosen and kept for the run. The
// frames are kept from the program's start whether it is shown or not
// (FrameLog.h); the window shows them from there on.
#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <vector>

#include "FrameLog.h"
#include "FrameMeaning.h"
#include "ListenStats.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class FailedRowsFilter;

// Rows with a failure answer true to this role, in both tables of the window.
constexpr int FailedRowRole = Qt::UserRole + 1;

// The rows: taken from the program's store of frames, at most as many as it
// keeps. A row keeps its frame as recorded and is put into words only when
// it is shown, copied or saved: at the fastest polling hundreds of frames
// come between two looks of the window, and only the rows in sight are
// ever drawn.
class MonitorModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { Time, Direction, ResponseTime, Bytes, Verdict, Meaning, Columns };
    // Rows with a failure answer true to this role.
    static constexpr int FailedRole = FailedRowRole;
    // At most this many rows; a row of its own (below) is one of them.
    static constexpr std::size_t Capacity = FrameLog::Capacity;

    explicit MonitorModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes in what the store got since the last call; returns how many rows
    // came. Records the store no longer holds when they are taken (the view was
    // paused or hidden that long) are one row "не показано кадров: N" before
    // the newest ones; N counts also those of the store that do not fit
    // beside it, so that N and the rows after it make up all that came.
    std::size_t takeNew();
    // Forgets the rows shown (not the frames the store keeps).
    void clear();

    int failedRows() const { return failed_; }
    bool failed(int i) const { return row(i).failed; }
    // The frame's time on the computer's clock in ms; -1 for a row of its own.
    int64_t wallMs(int i) const;
    FrameMeaning meaning(int i) const;

    // One row as a line of text (`separator` between the fields; the time
    // with its date when `withDate`).
    QString rowText(int i, const QString& separator, bool withDate) const;

  private:
    enum class Kind : uint8_t {
        Frame,
        Lost, // records the library's ring lost before the tool read them
        Gap,  // records the store lost before the view took them
    };
    struct Row {
        comm_frame frame{};   // a Frame's
        RequestShape request; // for a reply: the request it answers
        uint64_t records = 0; // a Lost or Gap row's count
        Kind kind = Kind::Frame;
        bool failed = false;
    };

    const Row& row(int i) const;
    Row& push();
    void popFront(std::size_t n);
    void take(const FrameRecord& record, bool shown);
    QString text(int i, int column) const;

    // A ring of Capacity rows once the first row comes: no allocation per row.
    std::vector<Row> rows_;
    std::size_t first_ = 0, count_ = 0;
    uint64_t seen_ = 0;    // records of the store taken in
    bool started_ = false; // false until the first take: what went before is no gap
    RequestShape request_; // of the latest request, for the replies after it
    int failed_ = 0;
};

// The rows of a line listened to ("Слушать линию"): each frame heard with
// its time, the silence before it, its part in the exchange, the reply's
// time, the bytes and what they mean; at most Capacity rows, the oldest
// going first; and the counts per address.
class ListenModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { Time, Gap, Direction, ResponseTime, Bytes, Verdict, Meaning, Columns };
    static constexpr std::size_t Capacity = FrameLog::Capacity;

    explicit ListenModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes in frames heard; `lost` frames the library dropped before them
    // are one row of their own.
    void take(const std::vector<comm_heard>& frames, uint64_t lost);
    void clear();

    int failedRows() const { return failed_; }
    bool failed(int i) const { return rows_[static_cast<std::size_t>(i)].failed; }
    FrameMeaning meaning(int i) const;
    const HeardRow& row(int i) const { return rows_[static_cast<std::size_t>(i)]; }
    const ListenPairing& pairing() const { return pairing_; }
    // One row as a line of text, as MonitorModel::rowText.
    QString rowText(int i, const QString& separator, bool withDate) const;

  private:
    QString text(int i, int column) const;

    std::deque<HeardRow> rows_;
    ListenPairing pairing_;
    int failed_ = 0;
};

class TMonitor : public QWidget {
    Q_OBJECT

  public:
    // The window looks for new rows four times a second while they come a
    // few at a time, and once a second while more come between two looks
    // than it shows at once (polls every few milliseconds): then each look
    // draws all the rows in sight anew, in the time of the polls, and nobody
    // reads the rows as they run by anyway.
    static constexpr int QuickLookMs = 250;
    static constexpr int StreamLookMs = 1000;

    explicit TMonitor(QWidget* owner);
    ~TMonitor() override; // listening ends with the window

    // Shows the window, or brings it to the front when it is already shown.
    void open();

    // The rows listened to: how often they are taken from the library.
    static constexpr int ListenLookMs = 100;

    MonitorModel& model() { return model_; }
    ListenModel& heard() { return heard_; }
    bool listening() const;
    // The time until the next look.
    int lookInterval() const { return refresh_.interval(); }
    QTableView* view() const { return tvFrames; }

    void btPauseClick();
    void btClearClick();
    void chbErrorsOnlyClick();
    void btCopyClick();
    void btSaveClick();
    // "Слушать линию" on: listens on the port, speed and parity chosen;
    // off: stops and shows the tool's own frames again.
    void chbListenClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void refresh();
    void showState();
    void takeHeard();
    void stopListening(const QString& why);
    bool listenMode() const;
    void setColumnWidths(); // of the table shown

    QTableView* tvFrames;
    QPushButton* btPause;
    QPushButton* btClear;
    QCheckBox* chbErrorsOnly;
    QPushButton* btCopy;
    QPushButton* btSave;
    QLabel* lbState;
    QCheckBox* chbListen;
    QComboBox* cbListenPort;
    QComboBox* cbListenBaud;
    QComboBox* cbListenParity;
    QLabel* lbListen;    // why listening is off or ended, plain text
    QLabel* lbAddresses; // the counts per address, plain text
    MonitorModel model_;
    FailedRowsFilter* filter_;
    ListenModel heard_;
    FailedRowsFilter* heardFilter_;
    QTimer refresh_;
    QTimer listenTimer_;
    bool paused_ = false;
};
