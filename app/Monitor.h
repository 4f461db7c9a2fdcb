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

#include "FrameLog.h"
#include "FrameMeaning.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

// The rows: taken from the program's store of frames, at most as many as
// it keeps, read into words once.
class MonitorModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { Time, Direction, ResponseTime, Bytes, Verdict, Meaning, Columns };
    // Rows with a failure answer true to this role.
    static constexpr int FailedRole = Qt::UserRole + 1;

    struct Row {
        int64_t wallMs = -1; // -1: a row of its own, not a frame
        QString direction, responseMs, hex;
        FrameMeaning meaning;
    };

    explicit MonitorModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes in what the store got since the last call; true when rows came.
    bool takeNew();
    // Forgets the rows shown (not the frames the store keeps).
    void clear();

    const Row& row(int i) const { return rows_[static_cast<std::size_t>(i)]; }
    int failedRows() const { return failed_; }

    // One row as a line of text (`separator` between the fields; the time
    // with its date when `withDate`).
    QString rowText(int i, const QString& separator, bool withDate) const;

  private:
    Row rowOf(const FrameRecord& record);

    std::deque<Row> rows_;
    uint64_t seen_ = 0;    // records of the store taken in
    RequestShape request_; // of the latest request, for the replies after it
    int failed_ = 0;
};

class TMonitor : public QWidget {
    Q_OBJECT

  public:
    explicit TMonitor(QWidget* owner);

    // Shows the window, or brings it to the front when it is already shown.
    void open();

    MonitorModel& model() { return model_; }
    QTableView* view() const { return tvFrames; }

    void btPauseClick();
    void btClearClick();
    void chbErrorsOnlyClick();
    void btCopyClick();
    void btSaveClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void refresh();
    void showState();

    QTableView* tvFrames;
    QPushButton* btPause;
    QPushButton* btClear;
    QCheckBox* chbErrorsOnly;
    QPushButton* btCopy;
    QPushButton* btSave;
    QLabel* lbState;
    MonitorModel model_;
    QSortFilterProxyModel* filter_;
    QTimer refresh_;
    bool paused_ = false;
};
