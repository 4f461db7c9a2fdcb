// The main window against a scripted stand-in for the communication library:
// polling, the poll period, the measurement parameters and the restart counter.
#include <QAction>
#include <QCheckBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "Controls.h"
#include "FakeModule.h"
#include "Func.h"
#include "HistoryWriter.h"
#include "Keys.h"
#include "Main.h"
#include "RecorderUi.h"
#include "Trend.h"

namespace {

FakeModule Module;
using Call = FakeModule::Call;
std::map<uint16_t, uint16_t>& Regs = Module.regs;
std::vector<Call>& Calls = Module.calls;

// Makes the next register operation fail after all its attempts.
void FailNextOperation() {
    Module.silentNext = MaxAttempts;
}

const QStringList FlagLabels = {"lbErrInRAM", "lbErrFLASH",      "lbErrKS",
                                "lbErrTS",    "lbErrOutOfRange", "lbUpdate"};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    RecorderUi rec;
    std::unique_ptr<TForm1> form;

    // The window's controls, found by their names.
    template <class T = QWidget> T* w(const char* name) { return Control<T>(form.get(), name); }
    QLineEdit* edValue() { return w<QLineEdit>("edValue"); }
    QLineEdit* edPoll() { return w<QLineEdit>("edPoll"); }
    QLineEdit* edIntTime() { return w<QLineEdit>("edIntTime"); }
    QCheckBox* chbPoll() { return w<QCheckBox>("chbPoll"); }
    QPushButton* btPoll() { return w<QPushButton>("btPoll"); }
    QPushButton* btRead() { return w<QPushButton>("btRead"); }
    QPushButton* btWrite() { return w<QPushButton>("btWrite"); }
    QRadioButton* rgMode_0() { return w<QRadioButton>("rgMode_0"); }
    QRadioButton* rgMode_1() { return w<QRadioButton>("rgMode_1"); }
    QAction* action(const char* name) { return w<QAction>(name); }
    QColor colourOf(const QString& label) {
        return form->findChild<QLabel*>(label)->palette().color(QPalette::WindowText);
    }
    QStringList redLabels() {
        QStringList red;
        for (const QString& name : FlagLabels)
            if (colourOf(name) == QColor(255, 0, 0))
                red << name;
            else if (colourOf(name) != QColor(128, 128, 128))
                red << name + "?";
        return red;
    }
    void setFlags(uint16_t a, uint16_t value, uint16_t b) {
        Regs[1024] = a;
        Regs[1025] = value;
        Regs[1026] = b;
    }
    void applyPeriod(const QString& text) {
        edPoll()->setText(text);
        QTest::keyClick(edPoll(), Qt::Key_Return);
    }
    // Runs `act` once the modal dialog that `opener` shows is up.
    void whileModal(const std::function<void()>& opener, const std::function<void(QWidget*)>& act) {
        auto* timer = new QTimer(form.get());
        connect(timer, &QTimer::timeout, timer, [timer, act] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                timer->stop();
                act(dialog);
                timer->deleteLater();
            }
        });
        timer->start(10);
        opener();
    }

  private slots:
    void init() {
        Module.reset();
        form = std::make_unique<TForm1>();
        Calls.clear();
        rec.clear();
        rec.onMessage = nullptr;
    }
    void cleanup() { form.reset(); }

    void startState() {
        QCOMPARE(form->windowTitle(), QString("QS730_View"));
        QCOMPARE(edValue()->text(), QString("90909"));
        QVERIFY(!edValue()->isEnabled());
        QCOMPARE(redLabels(), QStringList());
        QVERIFY(!chbPoll()->isChecked());
        QVERIFY(!form->tmPollEnabled());
        QVERIFY(!form->tmPoll->isActive());
        QCOMPARE(form->tmPollInterval(), 1000);
        QCOMPARE(edPoll()->text(), QString("1000"));
        QCOMPARE(edPoll()->maxLength(), 5);
        QCOMPARE(form->rgModeItemIndex(), -1);
        QCOMPARE(edIntTime()->text(), QString());
        QCOMPARE(ModuleAddress, uint8_t(1));
        // Nothing is read at start.
        QVERIFY(Calls.empty());
        auto* status = form->findChild<QLabel*>("StatusPanel1");
        QVERIFY(status);
        QVERIFY(status->text().startsWith(QStringLiteral("Открыт ")));
    }

    void menu() {
        QStringList bar;
        for (QAction* a : form->menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, QStringList({QStringLiteral("Команды"), QStringLiteral("Порт"),
                                   QStringLiteral("Измерения"), QStringLiteral("Справка"),
                                   QStringLiteral("!О программе")}));
        // The about item sits on the bar itself and opens no submenu.
        QCOMPARE(form->menuBar()->actions().last(), action("miAbout"));
        QVERIFY(!action("miAbout")->menu());
        QStringList commands;
        for (QAction* a : form->menuBar()->actions().first()->menu()->actions())
            commands << a->objectName();
        QCOMPARE(commands,
                 QStringList({"miModPars", "miReadCountRes", "miNullCountRes", "miCalib", "miCheck",
                              "miCalibProtocol", "miConfig", "miModules", "miHistorySettings"}));
        QCOMPARE(action("miModules")->text(), QStringLiteral("Модули..."));
        QCOMPARE(action("miHistorySettings")->text(), QStringLiteral("Настройки истории..."));
        QCOMPARE(action("miConfig")->text(), QStringLiteral("Конфигурация модуля..."));
        QCOMPARE(form->menuBar()->actions().at(1)->menu()->actions(),
                 QList<QAction*>({action("miComPars"), action("miBusScan")}));
        QCOMPARE(action("miBusScan")->text(), QStringLiteral("Модули на линии..."));
        // The trend window, the link statistics, the exchange monitor and the
        // measurement log, which is off at start.
        QCOMPARE(form->menuBar()->actions().at(2)->menu()->actions(),
                 QList<QAction*>({action("miTrend"), action("miLinkStats"), action("miMonitor"),
                                  action("miLog")}));
        QCOMPARE(action("miTrend")->text(), QStringLiteral("Тренд..."));
        QCOMPARE(action("miLinkStats")->text(), QStringLiteral("Статистика связи..."));
        QCOMPARE(action("miMonitor")->text(), QStringLiteral("Монитор обмена..."));
        QCOMPARE(action("miLog")->text(), QStringLiteral("Записывать в файл..."));
        QVERIFY(action("miLog")->isCheckable());
        QVERIFY(!action("miLog")->isChecked());
    }

    void poll_data() {
        QTest::addColumn<uint>("flagsA");
        QTest::addColumn<uint>("value");
        QTest::addColumn<uint>("flagsB");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("red");
        QTest::newRow("all clear") << 0u << 0u << 0u << "0" << QStringList();
        QTest::newRow("65535 unsigned") << 0u << 65535u << 0u << "65535" << QStringList();
        QTest::newRow("32768 unsigned") << 0u << 32768u << 0u << "32768" << QStringList();
        QTest::newRow("A bit 1 ignored") << 0x0002u << 5u << 0u << "5" << QStringList();
        QTest::newRow("A all four")
            << 0x001Du << 5u << 0u << "5"
            << QStringList({"lbErrInRAM", "lbErrFLASH", "lbErrKS", "lbErrTS"});
        QTest::newRow("A other bits") << 0xFFE2u << 5u << 0u << "5" << QStringList();
        QTest::newRow("A RAM only") << 0x0001u << 5u << 0u << "5" << QStringList({"lbErrInRAM"});
        QTest::newRow("A ADC only") << 0x0010u << 5u << 0u << "5" << QStringList({"lbErrTS"});
        QTest::newRow("B both") << 0u << 7u << 0x0003u << "7"
                                << QStringList({"lbErrOutOfRange", "lbUpdate"});
        QTest::newRow("B other bits") << 0u << 7u << 0xFFFCu << "7" << QStringList();
        QTest::newRow("B invalid only") << 0u << 7u << 0x0002u << "7" << QStringList({"lbUpdate"});
    }
    void poll() {
        QFETCH(uint, flagsA);
        QFETCH(uint, value);
        QFETCH(uint, flagsB);
        QFETCH(QString, text);
        QFETCH(QStringList, red);
        // Raise every flag first, so that clearing is seen too.
        setFlags(0xFFFF, 1, 0xFFFF);
        btPoll()->click();
        QCOMPARE(redLabels().size(), 6);
        setFlags(flagsA, value, flagsB);
        Calls.clear();
        btPoll()->click();
        QCOMPARE(rec.messages.size(), 0);
        QCOMPARE(edValue()->text(), text);
        QCOMPARE(redLabels(), red);
        // One block read of 1024..1026.
        QCOMPARE(Calls.size(), size_t(1));
        QCOMPARE(Calls[0].function, uint8_t(3));
        QCOMPARE(Calls[0].first, uint16_t(1024));
        QCOMPARE(Calls[0].count, uint16_t(3));
    }

    void failedPollKeepsScreenAndPolling() {
        setFlags(0x0001, 1234, 0x0002);
        btPoll()->click();
        chbPoll()->setChecked(true);
        setFlags(0, 99, 0);
        FailNextOperation();
        btPoll()->click();
        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].text, QStringLiteral("Нет ответа!"));
        QCOMPARE(rec.messages[0].caption, QString("QS730_View"));
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
        QCOMPARE(edValue()->text(), QString("1234"));
        QCOMPARE(redLabels(), QStringList({"lbErrInRAM", "lbUpdate"}));
        // A one-shot poll leaves periodic polling as it was.
        QVERIFY(chbPoll()->isChecked());
        QVERIFY(form->tmPoll->isActive());
    }

    void timedPolling() {
        setFlags(0, 42, 0);
        applyPeriod("20");
        QCOMPARE(form->tmPollInterval(), 20);
        QVERIFY(!form->tmPoll->isActive()); // the period alone does not start it
        QTest::mouseClick(chbPoll(), Qt::LeftButton);
        QVERIFY(form->tmPollEnabled());
        QVERIFY(form->tmPoll->isActive());
        QTRY_COMPARE(edValue()->text(), QString("42"));
        setFlags(0, 43, 0);
        QTRY_COMPARE(edValue()->text(), QString("43"));
        QTest::mouseClick(chbPoll(), Qt::LeftButton);
        QVERIFY(!form->tmPoll->isActive());
        Calls.clear();
        QTest::qWait(80);
        QVERIFY(Calls.empty());
    }

    // The scan borrows the line: no poll goes out while its window is open.
    // The stand-in library has no scan_read: the window says it is slower.
    void busScanPausesPolling() {
        applyPeriod("20");
        chbPoll()->setChecked(true);
        bool pausedMeanwhile = false;
        QString note;
        whileModal([&] { action("miBusScan")->trigger(); },
                   [&](QWidget* window) {
                       Calls.clear();
                       QTest::qWait(60);
                       pausedMeanwhile = !form->tmPoll->isActive() && Calls.empty();
                       note = Control<QLabel>(window, "lbNote")->text();
                       Control<QPushButton>(window, "btClose")->click();
                   });
        QVERIFY(pausedMeanwhile);
        QVERIFY(note.startsWith(QStringLiteral("comm_mb.dll не содержит функции scan_read: поиск "
                                               "будет медленнее")));
        QVERIFY(chbPoll()->isChecked());
        QVERIFY(form->tmPoll->isActive());
        QTRY_VERIFY(!Calls.empty());
    }

    void failingTickStopsPollingBeforeTheBox() {
        applyPeriod("10");
        bool boxClearAtMessage = false;
        bool timerStoppedAtMessage = false;
        rec.onMessage = [&](const ShownMessage&) {
            boxClearAtMessage = !chbPoll()->isChecked();
            timerStoppedAtMessage = !form->tmPoll->isActive() && !form->tmPollEnabled();
        };
        FailNextOperation();
        chbPoll()->setChecked(true);
        QTRY_COMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].text, QStringLiteral("Нет ответа!"));
        QCOMPARE(rec.messages[0].caption, QString("QS730_View"));
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
        QVERIFY(boxClearAtMessage);
        QVERIFY(timerStoppedAtMessage);
        // No more ticks until the box is ticked again, then at the period last applied.
        Calls.clear();
        QTest::qWait(60);
        QVERIFY(Calls.empty());
        Regs[1025] = 77;
        chbPoll()->setChecked(true);
        QCOMPARE(form->tmPoll->interval(), 10);
        QTRY_COMPARE(edValue()->text(), QString("77"));
        QCOMPARE(rec.messages.size(), 1);
    }

    void periodZeroNeverTicks() {
        applyPeriod("0");
        QCOMPARE(rec.messages.size(), 0);
        QCOMPARE(form->tmPollInterval(), 0);
        chbPoll()->setChecked(true);
        QVERIFY(form->tmPollEnabled());
        QVERIFY(!form->tmPoll->isActive());
        QTest::qWait(60);
        QVERIFY(Calls.empty());
        // A positive period starts the ticks while the box stays ticked.
        applyPeriod("10");
        QVERIFY(form->tmPoll->isActive());
        QTRY_VERIFY(!Calls.empty());
    }

    void negativePeriodIsTakenAsNever() {
        applyPeriod("-1");
        QCOMPARE(rec.messages.size(), 0);
        QCOMPARE(form->tmPollInterval(), -1);
        chbPoll()->setChecked(true);
        QVERIFY(!form->tmPoll->isActive());
        QTest::qWait(60);
        QVERIFY(Calls.empty());
    }

    void badPeriodText_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("letters") << "abc";
        QTest::newRow("empty") << "";
        QTest::newRow("trailing blank") << "50 ";
    }
    void badPeriodText() {
        QFETCH(QString, text);
        applyPeriod("30");
        chbPoll()->setChecked(true);
        const int id = form->tmPoll->timerId();
        edPoll()->setText(text);
        // Leaving the field for another control of the window.
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(edPoll(), &out);
        QCOMPARE(rec.texts(), QStringList(ErrorBoxTextFor(text)));
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
        QCOMPARE(form->tmPollInterval(), 30);
        QCOMPARE(form->tmPoll->timerId(), id);
        // Enter gives the same error.
        rec.clear();
        QTest::keyClick(edPoll(), Qt::Key_Return);
        QCOMPARE(rec.texts(), QStringList(ErrorBoxTextFor(text)));
    }
    static QString ErrorBoxTextFor(const QString& text) {
        return QStringLiteral("'%1' is not a valid integer value.").arg(text);
    }

    void periodAppliedOnlyOnLeavingOrEnter() {
        edPoll()->setText("250");
        QCOMPARE(form->tmPollInterval(), 1000); // typing alone changes nothing
        // Switching to another window or opening a menu is not leaving the field.
        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QCoreApplication::sendEvent(edPoll(), &away);
        QCOMPARE(form->tmPollInterval(), 1000);
        // Another key than Enter is left to the edit.
        form->edPollKeyPress(u'7');
        QCOMPARE(form->tmPollInterval(), 1000);
        form->edPollKeyPress(13);
        QCOMPARE(form->tmPollInterval(), 250);
        QVERIFY(rec.messages.isEmpty());
    }

    void typedPeriodAppliedBeforeTheBoxIsClicked() {
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        edPoll()->setFocus();
        QTRY_VERIFY(edPoll()->hasFocus());
        edPoll()->setText("15");
        QTest::mouseClick(chbPoll(), Qt::LeftButton);
        QVERIFY(chbPoll()->isChecked());
        QCOMPARE(form->tmPollInterval(), 15);
        QCOMPARE(form->tmPoll->interval(), 15);
        QVERIFY(form->tmPoll->isActive());
    }

    // Keys as they come from the keyboard, on the shown window: Alt moves the
    // focus to the menu bar, a menu opens and closes again; none of that
    // leaves the period field.
    void menusDoNotApplyThePeriod() {
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QVERIFY(TabTo(edPoll()));
        edPoll()->setText("abc");
        QMenuBar* bar = form->menuBar();

        AltAlone();
        QCOMPARE(QApplication::focusWidget(), bar);
        Stroke(Qt::Key_Escape);
        QCOMPARE(QApplication::focusWidget(), edPoll());

        AltAlone();
        Stroke(Qt::Key_Down); // opens "Команды"
        QTRY_VERIFY(QApplication::activePopupWidget());
        Stroke(Qt::Key_Escape);
        Stroke(Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QTRY_COMPARE(QApplication::focusWidget(), edPoll());

        // From the menu bar on to another control: the field has been left.
        QVERIFY(rec.messages.isEmpty());
        AltAlone();
        QTest::mouseClick(chbPoll(), Qt::LeftButton);
        QCOMPARE(rec.texts(), QStringList(ErrorBoxTextFor("abc")));
        QCOMPARE(form->tmPollInterval(), 1000);
        QTest::mouseClick(edPoll(), Qt::LeftButton);
        edPoll()->setText("40");
        AltAlone();
        QCOMPARE(QApplication::focusWidget(), bar);
        QTest::mouseClick(chbPoll(), Qt::LeftButton);
        QCOMPARE(form->tmPollInterval(), 40);

        // A menu opened with the mouse and closed with Escape.
        QTest::mouseClick(edPoll(), Qt::LeftButton);
        edPoll()->setText("abc");
        rec.clear();
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          bar->actionGeometry(bar->actions().at(1)).center()); // "Порт"
        QTRY_VERIFY(QApplication::activePopupWidget());
        Stroke(Qt::Key_Escape); // closes the menu; the menu bar keeps the focus
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QCOMPARE(form->focusWidget(), bar);
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(form->tmPollInterval(), 40);
    }

    // A focused button takes Enter (either one) and Space; the window has no
    // default button for Enter elsewhere.
    void keysOnButtons_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("clicked");
        QTest::newRow("Опросить, Enter")
            << "btPoll" << int(Qt::Key_Return) << QStringList{"btPoll"};
        QTest::newRow("Опросить, Space") << "btPoll" << int(Qt::Key_Space) << QStringList{"btPoll"};
        QTest::newRow("Считать, keypad Enter")
            << "btRead" << int(Qt::Key_Enter) << QStringList{"btRead"};
        QTest::newRow("Записать, Enter")
            << "btWrite" << int(Qt::Key_Return) << QStringList{"btWrite"};
        QTest::newRow("integration time, Enter")
            << "edIntTime" << int(Qt::Key_Return) << QStringList{};
    }
    void keysOnButtons() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QStringList clicked;
        RecordClicks(form.get(), clicked);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QVERIFY(TabTo(w(qPrintable(focus))));
        Stroke(Qt::Key(key));
        QTEST(clicked, "clicked");
    }

    void samePeriodDoesNotRestartTheCount() {
        chbPoll()->setChecked(true);
        QVERIFY(form->tmPoll->isActive());
        const int id = form->tmPoll->timerId();
        QTest::qWait(300);
        const int left = form->tmPoll->remainingTime(); // about 700, more on a busy machine
        applyPeriod("1000");
        QCOMPARE(form->tmPoll->timerId(), id);
        QVERIFY(form->tmPoll->remainingTime() <= left);
        // A different period starts the count again.
        applyPeriod("2000");
        QVERIFY(form->tmPoll->remainingTime() > 1500);
        QVERIFY(form->tmPoll->isActive());
    }

    // ---- Measurement parameters

    // The trend's time axis follows the steady clock: a wall clock set back or
    // forward between polls moves no point; the points keep the wall clock's
    // times for what is shown.
    void trendAxisIgnoresTheWallClock_data() {
        QTest::addColumn<QList<qint64>>("wall"); // seconds, of four polls
        QTest::newRow("steady") << QList<qint64>({1000, 1001, 1002, 1003});
        QTest::newRow("set back past the first point") << QList<qint64>({1000, 1001, 400, 401});
        QTest::newRow("set forward an hour") << QList<qint64>({1000, 4601, 4602, 4603});
        QTest::newRow("set back while the steady clock goes on")
            << QList<qint64>({1000, 1000, 1000, 999});
    }
    void trendAxisIgnoresTheWallClock() {
        QFETCH(QList<qint64>, wall);
        const PollClock saved = PollClocks;
        int tick = 0;
        PollClocks.wall = [&] { return wall.value(tick) * 1000; };
        PollClocks.steady = [&] { return 50000 + qint64(tick) * 1000; };
        for (tick = 0; tick < wall.size(); ++tick) {
            if (tick == 2)
                FailNextOperation(); // a failed poll between takes no place
            btPoll()->click();
        }
        PollClocks = saved;
        rec.clear();
        const TrendModel& m = form->findChild<TTrend*>()->model();
        QList<int> xs;
        for (const TrendColumn& c : m.columns(301))
            xs << c.x;
        QCOMPARE(xs, QList<int>({0, 100, 300}));
        QList<qint64> shown;
        for (int i = 0; i < m.size(); ++i)
            shown << m.at(i).msecs / 1000;
        QCOMPARE(shown, QList<qint64>({wall[0], wall[1], wall[3]}));
    }

    void readParameters_data() {
        QTest::addColumn<uint>("mode");
        QTest::addColumn<uint>("time");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::newRow("mode 0: none") << 0u << 100u << -1 << "100";
        QTest::newRow("current") << 1u << 0u << 0 << "0";
        QTest::newRow("voltage") << 2u << 65535u << 1 << "65535";
        QTest::newRow("mode 7: last") << 7u << 40000u << 1 << "40000";
        QTest::newRow("mode 65535: last") << 65535u << 1u << 1 << "1";
    }
    void readParameters() {
        QFETCH(uint, mode);
        QFETCH(uint, time);
        QFETCH(int, index);
        QFETCH(QString, text);
        form->setRgModeItemIndex(index == 0 ? 1 : 0); // something else selected before
        Regs[264] = mode;
        Regs[265] = time;
        btRead()->click();
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(form->rgModeItemIndex(), index);
        QCOMPARE(rgMode_0()->isChecked(), index == 0);
        QCOMPARE(rgMode_1()->isChecked(), index == 1);
        QCOMPARE(edIntTime()->text(), text);
        QCOMPARE(Calls.size(), size_t(1));
        QCOMPARE(Calls[0].function, uint8_t(3));
        QCOMPARE(Calls[0].first, uint16_t(264));
        QCOMPARE(Calls[0].count, uint16_t(2));
    }

    void failedReadChangesNothing() {
        form->setRgModeItemIndex(1);
        edIntTime()->setText("12");
        Regs[264] = 1;
        FailNextOperation();
        btRead()->click();
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("Нет ответа!")));
        QCOMPARE(form->rgModeItemIndex(), 1);
        QCOMPARE(edIntTime()->text(), QString("12"));
    }

    void writeParameters_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("time");
        QTest::addColumn<uint>("mode");
        QTest::addColumn<uint>("written");
        QTest::newRow("current 100") << 0 << "100" << 1u << 100u;
        QTest::newRow("voltage 65535") << 1 << "65535" << 2u << 65535u;
        QTest::newRow("empty time is 0") << 0 << "" << 1u << 0u;
        QTest::newRow("no number is 0") << 1 << "abc" << 2u << 0u;
    }
    void writeParameters() {
        QFETCH(int, index);
        QFETCH(QString, time);
        QFETCH(uint, mode);
        QFETCH(uint, written);
        form->setRgModeItemIndex(index);
        edIntTime()->setText(time);
        btWrite()->click();
        QVERIFY(rec.messages.isEmpty());
        // One block write of mode and time, then the apply command.
        QCOMPARE(Calls.size(), size_t(2));
        QCOMPARE(Calls[0].function, uint8_t(16));
        QCOMPARE(Calls[0].first, uint16_t(264));
        QCOMPARE(Calls[0].values, std::vector<uint16_t>({uint16_t(mode), uint16_t(written)}));
        QCOMPARE(Calls[1].function, uint8_t(16));
        QCOMPARE(Calls[1].first, uint16_t(1911));
        QCOMPARE(Calls[1].values, std::vector<uint16_t>({0x5A3C}));
    }

    void writeRefusals_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("message");
        QTest::newRow("no mode") << -1 << "100" << QStringLiteral("Выберите режим измерения!");
        QTest::newRow("65536") << 0 << "65536"
                               << QStringLiteral("Значение 65536 выходит за пределы 0 - 65535!");
        QTest::newRow("-1") << 1 << "-1"
                            << QStringLiteral("Значение -1 выходит за пределы 0 - 65535!");
    }
    void writeRefusals() {
        QFETCH(int, index);
        QFETCH(QString, time);
        QFETCH(QString, message);
        form->setRgModeItemIndex(index);
        edIntTime()->setText(time);
        btWrite()->click();
        QCOMPARE(rec.texts(), QStringList(message));
        QCOMPARE(rec.messages[0].caption, QString("QS730_View"));
        QVERIFY(Calls.empty());
    }

    void modeZeroReadBackRefusesWrite() {
        Regs[264] = 0;
        Regs[265] = 5;
        btRead()->click();
        Calls.clear();
        btWrite()->click();
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("Выберите режим измерения!")));
        QVERIFY(Calls.empty());
    }

    void failedBlockWriteSendsNoApply() {
        form->setRgModeItemIndex(0);
        edIntTime()->setText("100");
        FailNextOperation();
        btWrite()->click();
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("Нет ответа!")));
        QCOMPARE(Calls.size(), size_t(MaxAttempts));
        for (const Call& c : Calls)
            QCOMPARE(c.first, uint16_t(264));
    }

    void radioGroupSelection() {
        form->setRgModeItemIndex(1);
        QCOMPARE(form->rgModeItemIndex(), 1);
        form->setRgModeItemIndex(0);
        QVERIFY(!rgMode_1()->isChecked());
        form->setRgModeItemIndex(-1);
        QCOMPARE(form->rgModeItemIndex(), -1);
        QVERIFY(!rgMode_0()->isChecked());
        // The user's click selects one item; the group stays exclusive after clearing.
        rgMode_1()->click();
        rgMode_0()->click();
        QCOMPARE(form->rgModeItemIndex(), 0);
        QVERIFY(!rgMode_1()->isChecked());
    }

    // ---- Restart counter

    // The wizard switches the module's mode behind the main window, and a new
    // link may lead to another module: the unit of the polls is unknown from
    // then on until the mode is read again.
    void unitForgottenWhenTheModeMayHaveChanged_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QStringList>("answers"); // of the input boxes
        QTest::addColumn<QString>("closeWith");
        QTest::addColumn<int>("modeDuring"); // of a poll while the dialog is open
        QTest::addColumn<int>("modeAfter");
        QTest::newRow("calibration wizard")
            << "miCalib" << QStringList(QStringLiteral("калиб")) << "btCancel" << 0 << 0;
        QTest::newRow("module configuration") << "miConfig" << QStringList() << "btClose" << 1 << 0;
        QTest::newRow("port settings, OK") << "miComPars" << QStringList() << "btOk" << 1 << 0;
        QTest::newRow("port settings, cancelled")
            << "miComPars" << QStringList() << "btCancel" << 1 << 1;
    }
    void unitForgottenWhenTheModeMayHaveChanged() {
        QFETCH(QString, item);
        QFETCH(QStringList, answers);
        QFETCH(QString, closeWith);
        QFETCH(int, modeDuring);
        QFETCH(int, modeAfter);
        QTemporaryDir noDevices;
        const QString savedRoot = SerialDeviceRoot;
        SerialDeviceRoot = noDevices.path();
        const bool hadSettings = QFile::exists(SettingsFilePath());
        QList<int> modes;
        connect(form.get(), &TForm1::polled, this, [&](const PollOutcome& o) { modes << o.mode; });
        Regs[264] = 1; // current
        Regs[265] = 100;
        btRead()->click();
        btPoll()->click();
        rec.answers = answers;
        whileModal([&] { action(item.toLatin1().constData())->trigger(); },
                   [&](QWidget* dialog) {
                       btPoll()->click();
                       Control<QPushButton>(dialog, closeWith.toLatin1().constData())->click();
                   });
        QTRY_VERIFY(!QApplication::activeModalWidget());
        btPoll()->click();
        btRead()->click(); // known again
        btPoll()->click();
        SerialDeviceRoot = savedRoot;
        if (!hadSettings)
            QFile::remove(SettingsFilePath());
        QCOMPARE(modes, QList<int>({1, modeDuring, modeAfter, 1}));
        QVERIFY2(rec.texts().isEmpty(), qPrintable(rec.texts().join(" | ")));
    }

    // "Настройки истории...": OK saves the choice and the history writes to
    // the new store at once; "Отмена" changes nothing.
    void historySettingsApplyAtOnce_data() {
        QTest::addColumn<QString>("closeWith");
        QTest::addColumn<bool>("applied");
        QTest::newRow("OK") << "btOK" << true;
        QTest::newRow("Отмена") << "btCancel" << false;
    }
    void historySettingsApplyAtOnce() {
        QFETCH(QString, closeWith);
        QFETCH(bool, applied);
        QTemporaryDir dir;
        QByteArray before;
        const bool hadSettings = QFile::exists(SettingsFilePath());
        if (QFile f(SettingsFilePath()); hadSettings && f.open(QIODevice::ReadOnly))
            before = f.readAll();
        History::Target local;
        local.file = dir.filePath(QStringLiteral("h.sqlite"));
        History::Writer writer(local, dir.filePath(QStringLiteral("q.jsonl")));
        History::SetCurrentSink(&writer);
        whileModal([&] { action("miHistorySettings")->trigger(); },
                   [&](QWidget* dialog) {
                       Control<QRadioButton>(dialog, "rbServer")->setChecked(true);
                       Control<QLineEdit>(dialog, "edHost")->setText(QStringLiteral("127.0.0.1"));
                       Control<QLineEdit>(dialog, "edDatabase")->setText(QStringLiteral("hist"));
                       Control<QLineEdit>(dialog, "edUser")->setText(QStringLiteral("ivanov"));
                       Control<QPushButton>(dialog, closeWith.toLatin1().constData())->click();
                   });
        QTRY_VERIFY(!QApplication::activeModalWidget());
        const History::Target now = writer.target();
        const History::Target saved = History::LoadTarget(ToolSettingsFile());
        History::SetCurrentSink(nullptr);
        QFile::remove(SettingsFilePath());
        if (QFile f(SettingsFilePath()); hadSettings && f.open(QIODevice::WriteOnly))
            f.write(before);
        QCOMPARE(now.backend == History::Target::Backend::Server, applied);
        QCOMPARE(saved.backend == History::Target::Backend::Server, applied);
        if (applied) {
            QCOMPARE(now.host, QStringLiteral("127.0.0.1"));
            QCOMPARE(now.user, QStringLiteral("ivanov"));
        } else {
            QCOMPARE(now.file, local.file);
        }
        QVERIFY2(rec.texts().isEmpty(), qPrintable(rec.texts().join(" | ")));
    }

    void readRestartCounter_data() {
        QTest::addColumn<uint>("count");
        QTest::addColumn<QString>("shown");
        QTest::newRow("0") << 0u << "0";
        QTest::newRow("65535") << 65535u << "65535";
    }
    void readRestartCounter() {
        QFETCH(uint, count);
        QFETCH(QString, shown);
        Regs[260] = count;
        action("miReadCountRes")->trigger();
        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].text,
                 QStringLiteral("Значение счетчика\nрестартов равно ") + shown);
        QCOMPARE(rec.messages[0].caption, QString());
        QCOMPARE(rec.messages[0].icon, seam::Icon::Information);
        QCOMPARE(rec.messages[0].owner, form.get());
        QCOMPARE(Calls.size(), size_t(1));
        QCOMPARE(Calls[0].first, uint16_t(260));
        QCOMPARE(Calls[0].count, uint16_t(1));
    }

    void restartCounterWithoutAnswer() {
        FailNextOperation();
        action("miReadCountRes")->trigger();
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("Нет ответа!")));
        rec.clear();
        FailNextOperation();
        action("miNullCountRes")->trigger();
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("Нет ответа!")));
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
    }

    void clearRestartCounter() {
        Regs[260] = 9;
        action("miNullCountRes")->trigger();
        QCOMPARE(Regs[260], uint16_t(0));
        QCOMPARE(Calls.size(), size_t(1));
        QCOMPARE(Calls[0].function, uint8_t(16));
        QCOMPARE(Calls[0].first, uint16_t(260));
        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].text, QStringLiteral("Операция завершена успешно!"));
        QCOMPARE(rec.messages[0].caption, QString());
        QCOMPARE(rec.messages[0].icon, seam::Icon::Information);
        QCOMPARE(rec.messages[0].owner, form.get());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
