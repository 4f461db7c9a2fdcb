// The main window: the module's value and error flags, the measurement
// parameters, the menu of commands and the link's status line.
#pragma once

#include <QMainWindow>
#include <functional>
#include <optional>

#include "Calibration.h"
#include "HistoryStore.h"
#include "PollOutcome.h"

class MeasureLog;
class QLabel;
class QButtonGroup;
class QTimer;
class TLinkStats;
class TMonitor;
class TTrend;

namespace Ui {
class TForm1;
}

class TForm1 : public QMainWindow {
    Q_OBJECT

  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The poll timer. Its QTimer runs only while polling is switched on and
    // the period is above 0; the switch and the period live in this window.
    QTimer* tmPoll;

    // ---- Polling of the value and the error flags
    void btPollClick();
    void chbPollClick();
    void tmPollTimer();
    void edPollExit();
    void edPollKeyPress(char16_t key); // Enter (13) applies the period

    // ---- Measurement parameters and restart counter
    void btReadClick();
    void btWriteClick();
    void miReadCountResClick();
    void miNullCountResClick();

    // ---- Menu items that open the dialogs
    void miModParsClick();
    void miCalibClick();
    void miCheckClick();
    void miCalibProtocolClick();
    void miConfigClick();
    void miComParsClick();
    void miAboutClick();
    void miHelpClick(); // the technician's manual, also F1
    // What "Справка" opens: the program puts its manual here (app/).
    std::function<void()> openManual;

    // ---- The trend window (the measurement log runs from its own menu item)
    void miTrendClick();
    // ---- The window of the link statistics, made when first asked for
    void miLinkStatsClick();
    // ---- The monitor of the frames on the line, made when first asked for
    void miMonitorClick();
    // ---- The modules on the line: polling pauses while the window is open
    void miBusScanClick();

    // The measurement-mode radio group: 0 "Ток", 1 "Напряжение", -1 none.
    int rgModeItemIndex() const;
    void setRgModeItemIndex(int index);

    // The poll timer's switch and period (milliseconds). Switching it on or
    // off again, or setting the period it already has, changes nothing; a new
    // period restarts the count of a running timer. A period of 0 or below
    // never fires.
    bool tmPollEnabled() const { return pollEnabled_; }
    void setTmPollEnabled(bool enabled);
    int tmPollInterval() const { return pollInterval_; }
    void setTmPollInterval(int milliseconds);

    // ---- The module's history
    // Reads the module's identity (one block read first: a line without a
    // module costs one exchange), puts it into the history and shows its
    // due date under the status line. Only while the history is kept.
    void identifyModule();
    void scheduleIdentify(int ms);
    // The due date of the module the tool talks to, from its history, or
    // from its own calibration date with the default interval.
    void showModuleDue(const QString& registration, const std::optional<History::ModuleRow>& row);
    // What the history has to say: its store is unreachable, or the waiting
    // entries went.
    void showHistoryNote(const QString& text);
    QString dueText() const;
    // The fleet, "Модули"
    void miModulesClick();
    // Where the history is kept; a new choice is in force at once.
    void miHistorySettingsClick();

  signals:
    // After each poll, once the window shows its result: the registers read,
    // or the message of the failed exchange (the error box comes after).
    void polled(const PollOutcome& outcome);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Asks before the last calibration's record goes unsaved.
    void closeEvent(QCloseEvent* event) override;

  private:
    void Poll();

    Ui::TForm1* ui;
    void updatePollTimer();

    QButtonGroup* rgModeGroup_;
    bool pollEnabled_ = false;
    // edPoll gave up the focus to a menu or another window, which does not
    // count as leaving it.
    bool pollFocusAway_ = false;
    int pollInterval_ = 1000;

    // The measurement mode last read or written (register 264), 0 while
    // unknown: also after the calibration wizard or a new link.
    uint16_t measuredMode_ = 0;
    int linkShown_ = 0; // counts the link states shown in the status line
    TTrend* trend_ = nullptr;
    TLinkStats* linkStats_ = nullptr;
    TMonitor* monitor_ = nullptr;
    MeasureLog* log_ = nullptr;
    QLabel* due_ = nullptr;                // the module's due date
    QLabel* historyNote_ = nullptr;        // the history's store unreachable
    std::optional<ModuleRecordId> module_; // identified on connecting
    bool identifyPending_ = false;
};
