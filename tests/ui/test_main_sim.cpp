// The main window through the real communication library against a
// simulated module: what the user sees and what reaches the module.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "Controls.h"
#include "Func.h"
#include "Main.h"
#include "Profile.h"
#include "RecorderUi.h"
#include "SimLink.h"

namespace {

const QStringList FlagLabels = {"lbErrInRAM", "lbErrFLASH",      "lbErrKS",
                                "lbErrTS",    "lbErrOutOfRange", "lbUpdate"};

} // namespace

class TestMainSim : public QObject {
    Q_OBJECT

    RecorderUi rec;
    std::unique_ptr<SimLink> link;
    std::unique_ptr<TForm1> form;

    sim::SimModule& module() { return link->module(); }
    template <class T = QWidget> T* w(const char* name) { return Control<T>(form.get(), name); }
    QLineEdit* edValue() { return w<QLineEdit>("edValue"); }
    QLineEdit* edPoll() { return w<QLineEdit>("edPoll"); }
    QLineEdit* edIntTime() { return w<QLineEdit>("edIntTime"); }
    QCheckBox* chbPoll() { return w<QCheckBox>("chbPoll"); }

    QStringList redLabels() {
        QStringList red;
        for (const QString& name : FlagLabels) {
            const QColor c = w<QLabel>(qPrintable(name))->palette().color(QPalette::WindowText);
            if (c == QColor(255, 0, 0))
                red << name;
            else if (c != QColor(128, 128, 128))
                red << name + "?";
        }
        return red;
    }
    void applyPeriod(const QString& text) {
        edPoll()->setText(text);
        QTest::keyClick(edPoll(), Qt::Key_Return);
    }
    void expectNoAnswerBox() {
        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].text, seam::ErrorBoxText(QStringLiteral("Нет ответа!")));
        QCOMPARE(rec.messages[0].caption, QString("QS730_View"));
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
    }
    // Requests as (function, first register, written words).
    QStringList requests() {
        QStringList list;
        for (const sim::Request& r : module().requests()) {
            QString s = QString("%1:%2:%3").arg(r.function).arg(r.first).arg(r.count);
            for (uint16_t v : r.values)
                s += QString(" %1").arg(v);
            list << s;
        }
        return list;
    }

  private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(CommLibraryPath()),
                 qPrintable("the communication library is missing: " + CommLibraryPath()));
    }

    void init() {
        link = std::make_unique<SimLink>(sim::Options{});
        QVERIFY(link->opened());
        // The window opens the link from its settings file, as at start-up.
        ProfileFile ini(SettingsFilePath());
        ini.writeString("Port", "Name", link->port());
        ini.writeInteger("Port", "Baud", 19200);
        ini.writeInteger("Port", "Parity", 2);
        rec.clear();
        form = std::make_unique<TForm1>();
        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join('|')));
        QCOMPARE(form->findChild<QLabel*>("StatusPanel1")->text(),
                 QStringLiteral("Открыт ") + link->port() +
                     QStringLiteral("  19200 бод Even Адрес 1"));
        module().clearRequests();
        rec.onMessage = nullptr;
    }
    void cleanup() {
        form.reset();
        link.reset();
        QFile::remove(SettingsFilePath());
        rec.clear();
    }

    void poll_data() {
        QTest::addColumn<uint>("flagsA");
        QTest::addColumn<uint>("value");
        QTest::addColumn<uint>("flagsB");
        QTest::addColumn<QStringList>("red");
        QTest::newRow("65535") << 0u << 65535u << 0u << QStringList();
        QTest::newRow("32768") << 0u << 32768u << 0u << QStringList();
        QTest::newRow("A 0x0002") << 0x0002u << 1u << 0u << QStringList();
        QTest::newRow("A 0x001D") << 0x001Du << 2u << 0u
                                  << QStringList(
                                         {"lbErrInRAM", "lbErrFLASH", "lbErrKS", "lbErrTS"});
        QTest::newRow("A 0xFFE2") << 0xFFE2u << 3u << 0u << QStringList();
        QTest::newRow("B 0x0003") << 0u << 4u << 0x0003u
                                  << QStringList({"lbErrOutOfRange", "lbUpdate"});
        QTest::newRow("B 0xFFFC") << 0u << 5u << 0xFFFCu << QStringList();
    }
    void poll() {
        QFETCH(uint, flagsA);
        QFETCH(uint, value);
        QFETCH(uint, flagsB);
        QFETCH(QStringList, red);
        module().setReg(1024, flagsA);
        module().setInput(value);
        module().setReg(1026, flagsB);
        w<QPushButton>("btPoll")->click();
        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join('|')));
        QCOMPARE(edValue()->text(), QString::number(value));
        QCOMPARE(redLabels(), red);
        QCOMPARE(requests(), QStringList("3:1024:3"));
    }

    void failedPollLeavesPreviousValue() {
        module().setInput(1234);
        module().setReg(1024, 0x0001);
        w<QPushButton>("btPoll")->click();
        module().setInput(4321);
        module().setReg(1024, 0);
        module().dropNext(MaxAttempts);
        w<QPushButton>("btPoll")->click();
        expectNoAnswerBox();
        QCOMPARE(edValue()->text(), QString("1234"));
        QCOMPARE(redLabels(), QStringList("lbErrInRAM"));
        // The next poll gets through again.
        rec.clear();
        w<QPushButton>("btPoll")->click();
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(edValue()->text(), QString("4321"));
    }

    void failingTimedPollStopsPolling() {
        module().setInput(500);
        applyPeriod("40");
        chbPoll()->setChecked(true);
        QTRY_COMPARE(edValue()->text(), QString("500"));

        bool boxClearAtMessage = false;
        bool timerStoppedAtMessage = false;
        rec.onMessage = [&](const ShownMessage&) {
            boxClearAtMessage = !chbPoll()->isChecked();
            timerStoppedAtMessage = !form->tmPoll->isActive();
        };
        module().setInput(600);
        module().dropNext(MaxAttempts);
        QTRY_COMPARE_WITH_TIMEOUT(rec.messages.size(), 1, 10000);
        expectNoAnswerBox();
        QVERIFY(boxClearAtMessage);
        QVERIFY(timerStoppedAtMessage);
        QCOMPARE(edValue()->text(), QString("500"));

        // Polling stays off until the box is ticked again.
        module().clearRequests();
        QTest::qWait(200);
        QVERIFY(module().requests().empty());
        chbPoll()->setChecked(true);
        QTRY_COMPARE(edValue()->text(), QString("600"));
        QCOMPARE(rec.messages.size(), 1);
        chbPoll()->setChecked(false);
    }

    void period() {
        // 0 and a negative period: the box can be ticked but nothing is polled.
        for (const char* text : {"0", "-1"}) {
            applyPeriod(text);
            chbPoll()->setChecked(true);
            QTest::qWait(150);
            QVERIFY2(module().requests().empty(), text);
            chbPoll()->setChecked(false);
        }
        QVERIFY(rec.messages.isEmpty());
        // Not a number: the conversion error, the previous period stays.
        for (const char* text : {"abc", ""}) {
            rec.clear();
            applyPeriod(text);
            QCOMPARE(rec.texts(),
                     QStringList(QStringLiteral("'%1' is not a valid integer value.").arg(text)));
            QCOMPARE(form->tmPollInterval(), -1);
        }
        // A positive period polls; applying it again does not restart the count.
        applyPeriod("300");
        chbPoll()->setChecked(true);
        QTRY_VERIFY(!module().requests().empty());
        const int id = form->tmPoll->timerId();
        QTest::qWait(100);
        const int left = form->tmPoll->remainingTime();
        applyPeriod("300");
        QCOMPARE(form->tmPoll->timerId(), id);
        QVERIFY(form->tmPoll->remainingTime() <= left);
        chbPoll()->setChecked(false);
    }

    void readParameters_data() {
        QTest::addColumn<uint>("mode");
        QTest::addColumn<uint>("time");
        QTest::addColumn<int>("index");
        QTest::newRow("mode 0") << 0u << 65535u << -1;
        QTest::newRow("mode 1") << 1u << 100u << 0;
        QTest::newRow("mode 2") << 2u << 0u << 1;
        QTest::newRow("mode 7") << 7u << 32768u << 1;
    }
    void readParameters() {
        QFETCH(uint, mode);
        QFETCH(uint, time);
        QFETCH(int, index);
        module().setReg(264, mode);
        module().setReg(265, time);
        w<QPushButton>("btRead")->click();
        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join('|')));
        QCOMPARE(form->rgModeItemIndex(), index);
        QCOMPARE(edIntTime()->text(), QString::number(time));
        QCOMPARE(requests(), QStringList("3:264:2"));
    }

    void writeParameters() {
        form->setRgModeItemIndex(0);
        edIntTime()->setText("100");
        w<QPushButton>("btWrite")->click();
        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join('|')));
        QCOMPARE(requests(), QStringList({"16:264:2 1 100", "16:1911:1 23100"}));
        QCOMPARE(module().reg(264), uint16_t(1));
        QCOMPARE(module().reg(265), uint16_t(100));
    }

    void modeSevenIsWrittenBackAsVoltage() {
        module().setReg(264, 7);
        module().setReg(265, 20);
        w<QPushButton>("btRead")->click();
        module().clearRequests();
        w<QPushButton>("btWrite")->click();
        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join('|')));
        QCOMPARE(requests(), QStringList({"16:264:2 2 20", "16:1911:1 23100"}));
    }

    void integrationTimeChecks() {
        form->setRgModeItemIndex(1);
        for (const char* text : {"65536", "-1"}) {
            rec.clear();
            edIntTime()->setText(text);
            w<QPushButton>("btWrite")->click();
            QCOMPARE(
                rec.texts(),
                QStringList(QStringLiteral("Значение %1 выходит за пределы 0 - 65535!").arg(text)));
            QVERIFY(module().requests().empty());
        }
        rec.clear();
        edIntTime()->setText("");
        w<QPushButton>("btWrite")->click();
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(requests(), QStringList({"16:264:2 2 0", "16:1911:1 23100"}));
    }

    void restartCounter() {
        module().setReg(260, 65535);
        w<QAction>("miReadCountRes")->trigger();
        QCOMPARE(rec.texts(),
                 QStringList(QStringLiteral("Значение счетчика\nрестартов равно 65535")));
        QCOMPARE(rec.messages[0].caption, QString());
        QCOMPARE(rec.messages[0].icon, seam::Icon::Information);
        QCOMPARE(rec.messages[0].owner, form.get());

        rec.clear();
        w<QAction>("miNullCountRes")->trigger();
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("Операция завершена успешно!")));
        QCOMPARE(rec.messages[0].icon, seam::Icon::Information);
        QCOMPARE(module().reg(260), uint16_t(0));

        rec.clear();
        w<QAction>("miReadCountRes")->trigger();
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("Значение счетчика\nрестартов равно 0")));
    }

    void restartCounterWithoutAnswer() {
        module().setReg(260, 3);
        module().dropNext(MaxAttempts);
        w<QAction>("miNullCountRes")->trigger();
        expectNoAnswerBox(); // and no success box
        QCOMPARE(module().reg(260), uint16_t(3));
        rec.clear();
        module().dropNext(MaxAttempts);
        w<QAction>("miReadCountRes")->trigger();
        expectNoAnswerBox();
    }

    // Polling waits while the service dialog moves the module's link, and
    // goes on at the link the technician chose: no poll goes to the old link
    // behind the question, none switches polling off.
    void pollingWaitsWhileTheModuleMoves() {
        applyPeriod("40");
        chbPoll()->setChecked(true);
        rec.replies = {true};
        rec.onQuestion = [](const ShownMessage&) { QTest::qWait(300); }; // ticks come meanwhile
        QTimer::singleShot(0, [] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            Control<QLineEdit>(dialog, "edAdress")->setText(QStringLiteral("7"));
            Control<QComboBox>(dialog, "cbSpeed")->setCurrentText(QStringLiteral("19200"));
            Control<QComboBox>(dialog, "cbParity")->setCurrentText(QStringLiteral("Even"));
            Control<QPushButton>(dialog, "btWrite")->click();
            QMetaObject::invokeMethod(dialog, "reject");
        });
        w<QAction>("miModPars")->trigger();
        rec.onQuestion = nullptr;
        module().clearRequests();
        QTest::qWait(200);
        const bool stillOn = chbPoll()->isChecked();
        chbPoll()->setChecked(false);
        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join('|')));
        QVERIFY(stillOn);
        QVERIFY(requests().contains(QStringLiteral("3:1024:3"))); // polled at address 7
    }
};

QTEST_MAIN(TestMainSim)
#include "test_main_sim.moc"
