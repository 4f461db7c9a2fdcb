// The window "Статистика связи": the figures of the exchanges with the
// module (LinkStats.h), live, with the link state of the status line and
// what the figures point to. Not modal; made when its menu item is first
// chosen and kept for the run.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

class QGridLayout;
class QGroupBox;
class QLabel;
class QPushButton;

class TLinkStats : public QWidget {
    Q_OBJECT

  public:
    explicit TLinkStats(QWidget* owner);

    // Shows the window, or brings it to the front when it is already shown.
    void open();

    void btResetClick();
    void btCopyClick();
    void btMonitorClick();

    // Opens the monitor of the frames on the line ("Монитор обмена...").
    std::function<void()> openMonitor;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    // Redraws when the counts or the link state changed since last time.
    void refresh();
    void showFigures();

    QLabel* lbLinkState;
    QLabel* lbAdvice;
    QPushButton* btReset;
    QPushButton* btCopy;
    QPushButton* btMonitor;
    // One box per group of figures, with a name and a value label per row.
    struct Group {
        QGroupBox* box;
        QGridLayout* grid;
        std::vector<std::pair<QLabel*, QLabel*>> rows;
    };
    std::vector<Group> groups_;
    QTimer refresh_;
    uint64_t shownChanges_ = UINT64_MAX;
};
