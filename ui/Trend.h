// The trend window: the input value of every poll against time, with its
// statistics, from the start of the program or the last clearing. One window
// for the whole run, made with the main window, shown by its menu item.
#pragma once

#include <QTimer>
#include <QWidget>
#include <optional>

#include "PollOutcome.h"
#include "TrendModel.h"

namespace Ui {
class TTrend;
}

class TTrend : public QWidget {
    Q_OBJECT

  public:
    explicit TTrend(QWidget* owner, int capacity = TrendModel::DefaultCapacity);
    ~TTrend() override;

    // Takes the poll in. Cheap: the window is redrawn later, and not at all
    // while it is hidden or paused.
    void record(const PollOutcome& outcome) noexcept;

    // Shows the window, or brings it to the front when it is already shown.
    void open();

    const TrendModel& model() const { return model_; }
    // What the window shows: the points as they were when the view was
    // paused, or else all of them.
    const TrendModel& shown() const { return frozen_ ? *frozen_ : model_; }

    void btPauseClick();
    void btClearClick();
    void btSaveClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void refresh();

    Ui::TTrend* ui;
    TrendModel model_;
    std::optional<TrendModel> frozen_;
    QTimer refresh_;
};
