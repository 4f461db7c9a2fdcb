#include "Main.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QColor>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QPalette>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "About.h"
#include "AccuracyWindows.h"
#include "BusScanWindow.h"
#include "Calib.h"
#include "Compar.h"
#include "Convert.h"
#include "Fleet.h"
#include "FrameLog.h"
#include "Func.h"
#include "HistoryRecords.h"
#include "HistorySettings.h"
#include "HistoryWriter.h"
#include "LinkSettings.h"
#include "LinkStatsWindow.h"
#include "MeasureLog.h"
#include "ModuleConfig.h"
#include "Modulparams.h"
#include "Monitor.h"
#include "Passw.h"
#include "Remember.h"
#include "Seam.h"
#include "Trend.h"
#include "ui_Main.h"

namespace {

// Font colours of the flag labels: a raised flag is red, a clear one gray.
const QColor FlagRaised(255, 0, 0);
const QColor FlagClear(128, 128, 128);

// The flag labels from top to bottom, lit for the bits of FlagBits.
void ShowFlags(Ui::TForm1* ui, uint8_t bits) {
    QLabel* const labels[FlagCount] = {ui->lbErrInRAM, ui->lbErrFLASH,      ui->lbErrKS,
                                       ui->lbErrTS,    ui->lbErrOutOfRange, ui->lbUpdate};
    for (int i = 0; i < FlagCount; ++i) {
        QPalette palette = labels[i]->palette();
        palette.setColor(QPalette::WindowText, bits & (1u << i) ? FlagRaised : FlagClear);
        labels[i]->setPalette(palette);
    }
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent), tmPoll(new QTimer(this)), ui(new Ui::TForm1),
      rgModeGroup_(new QButtonGroup(this)) {
    ui->setupUi(this);
    trend_ = new TTrend(this);
    log_ = new MeasureLog(ui->miLog, this);

    auto* linkState = new QLabel(ui->StatusBar1);
    linkState->setObjectName(QStringLiteral("StatusPanel1"));
    linkState->setTextFormat(Qt::PlainText); // the port's name comes from the settings file
    ui->StatusBar1->addWidget(linkState, 1);
    // Under the link: the due date of the module it leads to, and what the
    // history has to say.
    due_ = new QLabel(ui->StatusBar1);
    due_->setObjectName(QStringLiteral("StatusPanelDue"));
    due_->setTextFormat(Qt::PlainText);
    ui->StatusBar1->addWidget(due_);
    historyNote_ = new QLabel(ui->StatusBar1);
    historyNote_->setObjectName(QStringLiteral("StatusPanelHistory"));
    historyNote_->setTextFormat(Qt::PlainText);
    ui->StatusBar1->addWidget(historyNote_);
    historyNote_->hide();
    LinkStateSink = [this, linkState](const QString& text) {
        linkState->setText(text);
        ++linkShown_; // the link may have been reopened
        // Another link may lead to another module: known once it answers.
        module_.reset();
        due_->clear();
        if (History::CurrentSink())
            scheduleIdentify(0);
    };

    ShowFlags(ui, 0);

    // The mode group starts with no item selected; the group keeps at most one.
    rgModeGroup_->setObjectName(QStringLiteral("rgModeGroup"));
    rgModeGroup_->addButton(ui->rgMode_0, 0);
    rgModeGroup_->addButton(ui->rgMode_1, 1);
    setRgModeItemIndex(-1);

    // Switched off at start, period 1000 ms, like the text of edPoll.
    tmPoll->setObjectName(QStringLiteral("tmPoll"));
    tmPoll->setInterval(pollInterval_);

    connect(ui->btPoll, &QPushButton::clicked, this, seam::Guarded(this, &TForm1::btPollClick));
    // toggled, not clicked: the box also switches the timer when the program clears it.
    connect(ui->chbPoll, &QCheckBox::toggled, this, seam::Guarded(this, &TForm1::chbPollClick));
    connect(tmPoll, &QTimer::timeout, this, seam::Guarded(this, &TForm1::tmPollTimer));
    connect(ui->edPoll, &QLineEdit::returnPressed, this,
            [this] { seam::Guard([this] { edPollKeyPress(u'\r'); }); });
    ui->edPoll->installEventFilter(this);
    ui->MainMenu1->installEventFilter(this);
    connect(ui->btRead, &QPushButton::clicked, this, seam::Guarded(this, &TForm1::btReadClick));
    connect(ui->btWrite, &QPushButton::clicked, this, seam::Guarded(this, &TForm1::btWriteClick));
    connect(ui->miReadCountRes, &QAction::triggered, this,
            seam::Guarded(this, &TForm1::miReadCountResClick));
    connect(ui->miNullCountRes, &QAction::triggered, this,
            seam::Guarded(this, &TForm1::miNullCountResClick));
    connect(ui->miModPars, &QAction::triggered, this, seam::Guarded(this, &TForm1::miModParsClick));
    connect(ui->miCalib, &QAction::triggered, this, seam::Guarded(this, &TForm1::miCalibClick));
    connect(ui->miCheck, &QAction::triggered, this, seam::Guarded(this, &TForm1::miCheckClick));
    connect(ui->miCalibProtocol, &QAction::triggered, this,
            seam::Guarded(this, &TForm1::miCalibProtocolClick));
    connect(ui->miConfig, &QAction::triggered, this, seam::Guarded(this, &TForm1::miConfigClick));
    connect(ui->miModules, &QAction::triggered, this, seam::Guarded(this, &TForm1::miModulesClick));
    connect(ui->miHistorySettings, &QAction::triggered, this,
            seam::Guarded(this, &TForm1::miHistorySettingsClick));
    connect(ui->miComPars, &QAction::triggered, this, seam::Guarded(this, &TForm1::miComParsClick));
    connect(ui->miAbout, &QAction::triggered, this, seam::Guarded(this, &TForm1::miAboutClick));
    connect(ui->miHelp, &QAction::triggered, this, seam::Guarded(this, &TForm1::miHelpClick));
    connect(ui->miTrend, &QAction::triggered, this, seam::Guarded(this, &TForm1::miTrendClick));
    connect(ui->miLinkStats, &QAction::triggered, this,
            seam::Guarded(this, &TForm1::miLinkStatsClick));
    connect(ui->miMonitor, &QAction::triggered, this, seam::Guarded(this, &TForm1::miMonitorClick));
    ui->miMonitor->setEnabled(FrameLog::global().available());
    ui->miMonitor->setToolTip(FrameLog::global().unavailableReason());
    ui->miMeasure->setToolTipsVisible(true);
    connect(ui->miBusScan, &QAction::triggered, this, seam::Guarded(this, &TForm1::miBusScanClick));
    // The trend and the log watch every poll.
    connect(this, &TForm1::polled, trend_, &TTrend::record);
    connect(this, &TForm1::polled, log_, &MeasureLog::record);

    ReadLinkSettings(ToolSettingsFile());
    CheckCommSettings();
    TellIgnoredSettings(nullptr); // before the port opens on what is in force
    ModuleAddress = reg::FactoryAddress;
    OpenPort(PortName, BaudRate, ParityIndex); // a failed open leaves "Закрыт" in the status line
}

TForm1::~TForm1() {
    LinkStateSink = nullptr;
    ui->edPoll->removeEventFilter(this);
    ui->MainMenu1->removeEventFilter(this);
    delete ui;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // The period is applied when the focus moves on from edPoll to another
    // control of this window. Other windows and the menus do not count: from a
    // dialog, a message box or a menu the focus comes back to edPoll. Only the
    // menu bar may keep it, while it is worked with the keyboard (Alt, a menu
    // opened by its key, or Escape in an open menu); if the focus goes on from
    // there to another control (a click on one), the field has been left.
    const auto leaving = [](QEvent* e) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
        return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
               reason != Qt::MenuBarFocusReason;
    };
    if (watched == ui->edPoll) {
        if (event->type() == QEvent::FocusIn) {
            pollFocusAway_ = false;
        } else if (event->type() == QEvent::FocusOut) {
            if (leaving(event))
                seam::Guard([this] { edPollExit(); });
            else
                pollFocusAway_ = true;
        }
    } else if (watched == ui->MainMenu1 && event->type() == QEvent::FocusOut && pollFocusAway_ &&
               leaving(event)) {
        pollFocusAway_ = false;
        seam::Guard([this] { edPollExit(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Polling

// One block read of the flags and the value; on failure nothing on screen changes.
void TForm1::Poll() {
    uint16_t words[3] = {};
    PollOutcome outcome;
    outcome.mode = measuredMode_;
    try {
        ReadRegisters(reg::FlagsA, 3, words);
    } catch (const ECommError& e) {
        outcome.msecs = PollClocks.wall();
        outcome.elapsed = PollClocks.steady();
        outcome.error = e.message();
        emit polled(outcome);
        throw;
    }
    const uint16_t flagsA = words[0];
    const uint16_t value = words[1];
    const uint16_t flagsB = words[2];

    ui->edValue->setText(QString::number(value));
    ShowFlags(ui, FlagBits(flagsA, flagsB));

    outcome.msecs = PollClocks.wall();
    outcome.elapsed = PollClocks.steady();
    outcome.ok = true;
    outcome.flagsA = flagsA;
    outcome.value = value;
    outcome.flagsB = flagsB;
    emit polled(outcome);
}

void TForm1::btPollClick() {
    Poll();
}

void TForm1::chbPollClick() {
    setTmPollEnabled(ui->chbPoll->isChecked());
}

void TForm1::tmPollTimer() {
    if (PollHold::held())
        return; // the module's link is being moved
    try {
        Poll();
    } catch (const ECommError&) {
        // Switch polling off first, so that no tick comes while the error is shown.
        ui->chbPoll->setChecked(false);
        throw;
    }
}

void TForm1::edPollExit() {
    setTmPollInterval(StrToInt(ui->edPoll->text()));
}

void TForm1::edPollKeyPress(char16_t key) {
    if (key == u'\r')
        edPollExit();
}

void TForm1::setTmPollEnabled(bool enabled) {
    if (enabled == pollEnabled_)
        return;
    pollEnabled_ = enabled;
    updatePollTimer();
}

void TForm1::setTmPollInterval(int milliseconds) {
    if (milliseconds == pollInterval_)
        return;
    pollInterval_ = milliseconds;
    // A period of 0 never fires; a negative one is taken the same way.
    if (milliseconds > 0)
        tmPoll->setInterval(milliseconds); // restarts a running count
    updatePollTimer();
}

void TForm1::updatePollTimer() {
    const bool run = pollEnabled_ && pollInterval_ > 0;
    if (run && !tmPoll->isActive())
        tmPoll->start();
    else if (!run && tmPoll->isActive())
        tmPoll->stop();
}

// ---- Measurement parameters

int TForm1::rgModeItemIndex() const {
    return rgModeGroup_->checkedId();
}

void TForm1::setRgModeItemIndex(int index) {
    QAbstractButton* button = rgModeGroup_->button(index);
    if (button) {
        button->setChecked(true);
        return;
    }
    // An exclusive group does not let its checked button go; clear it outside.
    rgModeGroup_->setExclusive(false);
    for (QAbstractButton* b : rgModeGroup_->buttons())
        b->setChecked(false);
    rgModeGroup_->setExclusive(true);
}

void TForm1::btReadClick() {
    uint16_t words[2] = {};
    ReadRegisters(reg::Mode, 2, words);
    const uint16_t mode = words[0];
    const uint16_t integrationTime = words[1];

    // Mode 1 is the first item, 2 the second, anything above the last; 0 is none.
    const int last = static_cast<int>(rgModeGroup_->buttons().size()) - 1;
    setRgModeItemIndex(std::min(static_cast<int>(mode) - 1, last));
    ui->edIntTime->setText(QString::number(integrationTime));
    measuredMode_ = mode;
}

void TForm1::btWriteClick() {
    const int index = rgModeItemIndex();
    if (index < 0)
        throw Exception(QStringLiteral("Выберите режим измерения!"));
    const uint16_t words[2] = {static_cast<uint16_t>(index + 1),
                               ParseWord(ui->edIntTime->text(), 1)};
    WriteRegisters(reg::Mode, 2, words);
    measuredMode_ = 0; // which mode the module measures in is known once it applies the new one
    WriteRegister(reg::Apply, UnlockKey);
    measuredMode_ = words[0];
}

// ---- Restart counter

void TForm1::miReadCountResClick() {
    uint16_t count = 0;
    ReadRegister(reg::RestartCounter, count);
    if (module_)
        History::Record(History::RestartsEntry(module_->serial, module_->type, count, false));
    seam::message(this,
                  QStringLiteral("Значение счетчика\nрестартов равно ") + QString::number(count),
                  QString(), seam::Icon::Information);
}

void TForm1::miNullCountResClick() {
    WriteRegister(reg::RestartCounter, 0);
    if (module_)
        History::Record(History::RestartsEntry(module_->serial, module_->type, 0, true));
    seam::message(this, QStringLiteral("Операция завершена успешно!"), QString(),
                  seam::Icon::Information);
}

// ---- Menu items that open the dialogs. Each dialog is made anew, shown
// modally and destroyed; polling goes on behind it.

// The dialog may move the tool to the module's new link, or open the port
// settings for a search: after a reopened link the mode is unknown.
void TForm1::miModParsClick() {
    const int shownBefore = linkShown_;
    TModPars dialog(this, Password); // asks for the passport password first
    dialog.exec();
    if (linkShown_ != shownBefore)
        measuredMode_ = 0;
}

// The wizard switches the module between current and voltage while polling
// goes on, and writes the user's mode back without applying it: which mode
// the module measures in is unknown from its start until the next read or
// write of the parameters.
void TForm1::miCalibClick() {
    if (!AccuracyWindows::program().mayCalibrate(this) || !CalibrationPasswordAccepted(this))
        return;
    measuredMode_ = 0;
    const ModuleRecordId before = ReadModuleRecordId(); // for the protocol
    auto* wizard = new TCalibr1(this); // reads the mode and time it restores at the end
    wizard->exec();
    measuredMode_ = 0;
    const CalibrationResult result = wizard->calibrationResult();
    wizard->deleteLater();
    AccuracyWindows::program().afterCalibration(this, before, result);
    ui->miCalibProtocol->setEnabled(AccuracyWindows::program().hasCalibration());
}

// The check switches the module between its ranges while polling goes on.
void TForm1::miCheckClick() {
    measuredMode_ = 0;
    AccuracyWindows::program().runCheck(this);
    measuredMode_ = 0;
}

// The last calibration's record stays until the program ends.
void TForm1::miCalibProtocolClick() {
    measuredMode_ = 0; // the check as left switches the module's ranges
    AccuracyWindows::program().calibrationProtocol(this);
    measuredMode_ = 0;
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (AccuracyWindows::program().mayQuit(this))
        event->accept();
    else
        event->ignore();
}

// A write from a file sets the mode and may move the tool to the module's
// new link: the mode is unknown until it is read.
void TForm1::miConfigClick() {
    TModConfig dialog(this);
    dialog.exec();
    measuredMode_ = 0;
}

// A new link (OK, or a search that reopened the port) may lead to another
// module: its mode is unknown until it is read.
void TForm1::miComParsClick() {
    const int shownBefore = linkShown_;
    TParCOM dialog(this);
    if (dialog.exec() == QDialog::Accepted || linkShown_ != shownBefore)
        measuredMode_ = 0;
}

void TForm1::miAboutClick() {
    TAboutBox box(this);
    box.exec();
}

void TForm1::miHelpClick() {
    if (openManual)
        openManual();
}

// ---- The trend window: one for the run, not modal.

void TForm1::miTrendClick() {
    trend_->open();
}

void TForm1::miLinkStatsClick() {
    if (!linkStats_) {
        linkStats_ = new TLinkStats(this);
        linkStats_->openMonitor = [this] { miMonitorClick(); };
    }
    linkStats_->open();
}

void TForm1::miMonitorClick() {
    if (!FrameLog::global().available())
        return;
    if (!monitor_)
        monitor_ = new TMonitor(this);
    monitor_->open();
}

// The scan borrows the line (at other settings, with "Все скорости"): no poll
// goes out meanwhile. A module taken over may be another one: its mode is
// unknown until it is read.
void TForm1::miBusScanClick() {
    const bool polling = tmPollEnabled();
    setTmPollEnabled(false);
    const int shownBefore = linkShown_;
    TBusScan window(this);
    window.exec();
    setTmPollEnabled(polling);
    if (linkShown_ != shownBefore)
        measuredMode_ = 0;
}

// ---- The module's history

void TForm1::scheduleIdentify(int ms) {
    if (identifyPending_)
        return;
    identifyPending_ = true;
    QTimer::singleShot(ms, this, [this] {
        identifyPending_ = false;
        identifyModule();
    });
}

void TForm1::identifyModule() {
    if (!History::CurrentSink())
        return;
    // Not while the link is on the move or a dialog has the line (the scan,
    // a write of the link): once they are done.
    if (PollHold::held() || QApplication::activeModalWidget()) {
        scheduleIdentify(300);
        return;
    }
    ModuleRecordId id;
    try {
        id = ReadModuleRecordId();
    } catch (const std::exception&) {
        return; // no module on this link (yet): nothing to file
    }
    module_ = id;
    const QString where =
        QStringLiteral("%1, %2 бод, адрес %3").arg(PortName).arg(BaudRate).arg(ModuleAddress);
    History::Record(History::SeenEntry(id, where));
    const QString registration = History::RegistrationOf(id.serial);
    showModuleDue(registration,
                  std::nullopt); // from the module's own date until the history answers
    if (History::Writer* writer = History::CurrentWriter()) {
        connect(writer, &History::Writer::moduleFound, this, &TForm1::showModuleDue,
                Qt::UniqueConnection);
        writer->askModule(registration);
    }
}

void TForm1::showModuleDue(const QString& registration,
                           const std::optional<History::ModuleRow>& row) {
    if (!module_ || History::RegistrationOf(module_->serial) != registration)
        return; // an answer about a module the tool has left
    const QDate own =
        QDate::fromString(PackedDateText(module_->calibrationDate), QStringLiteral("dd.MM.yyyy"));
    QDate last = own;
    int months = History::DefaultIntervalMonths;
    if (row) {
        months = row->intervalMonths;
        if (row->lastCalibration.isValid())
            last = row->lastCalibration;
    }
    const QDate today = QDate::currentDate();
    const QDate due = History::DueDate(last, months);
    const QString line =
        due.isValid() ? History::DueLine(due, today) : QStringLiteral("Дата калибровки неизвестна");
    due_->setText(QStringLiteral("Модуль %1: %2").arg(registration, line));
    QPalette palette;
    if (History::DueStateOn(due, today) == History::DueState::Overdue)
        palette.setColor(QPalette::WindowText, FlagRaised);
    due_->setPalette(palette);
}

QString TForm1::dueText() const {
    return due_->text();
}

void TForm1::showHistoryNote(const QString& text) {
    historyNote_->setText(text);
    historyNote_->setToolTip(text);
    historyNote_->setVisible(!text.isEmpty());
}

// The fleet from the store the history writes to (the password asked at
// start included).
void TForm1::miModulesClick() {
    History::Writer* writer = History::CurrentWriter();
    TFleet window(this, writer ? writer->target() : History::LoadTarget(ToolSettingsFile()));
    window.load();
    window.exec();
}

// The writer keeps its queue and takes the new store at once: what waits
// goes there, and the module's due date is asked of it again.
void TForm1::miHistorySettingsClick() {
    const ProfileFile settings = ToolSettingsFile();
    THistorySettings dialog(this, History::LoadTarget(settings), settings);
    if (dialog.exec() != QDialog::Accepted)
        return;
    History::Writer* writer = History::CurrentWriter();
    if (!writer)
        return;
    showHistoryNote(QString());
    writer->retarget(WithRunPassword(this, dialog.target()));
    if (module_)
        writer->askModule(History::RegistrationOf(module_->serial));
}
