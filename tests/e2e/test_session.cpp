// A technician's whole session, through the real windows, the real library
// and a simulated module reached as COM1: start, poll, change the
// measurement parameters, lose the module's speed and parity and find them
// by its serial number, give it a new address and follow it, calibrate, read
// the passport and look at the about box.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QtTest>
#include <functional>

#include "About.h"
#include "Calib.h"
#include "Compar.h"
#include "Controls.h"
#include "Convert.h"
#include "Func.h"
#include "Main.h"
#include "Modulparams.h"
#include "Passw.h"
#include "PortMap.h"
#include "RecorderUi.h"
#include "SimModule.h"

namespace {

void Click(QObject* parent, const char* button) {
    QTest::mouseClick(Control<QPushButton>(parent, button), Qt::LeftButton);
}

// Runs `act` on the modal window of type T as soon as it is shown (from
// inside its own event loop), once.
template <class T> void WhenShown(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!w || !w->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(w);
    });
    timer->start();
}

void Trigger(TForm1& form, const char* item) {
    Control<QAction>(&form, item)->trigger();
}

QString Status(TForm1& form) {
    return form.statusBar()->findChild<QLabel*>()->text();
}

} // namespace

class TestSession : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        QFile::remove(SettingsFilePath());
        QFile::remove(PortMapPath());
    }
    void cleanup() { init(); }

    void wholeSession() {
        RecorderUi rec;
        sim::SimModule module; // factory settings: address 1, 19200 bit/s, even, A0042
        QVERIFY(WritePortMap(
            QStringLiteral("[Ports]\nCOM1=%1\n").arg(QString::fromStdString(module.devicePath()))));
        QVERIFY(LoadCommLibrary());

        // Start: the defaults reach the module as COM1.
        TForm1 form;
        TPassword password(&form);
        Password = &password;
        form.show();
        QCOMPARE(Status(form), QStringLiteral("Открыт COM1  19200 бод Even Адрес 1"));

        // Poll once.
        module.setAppliedCurrent(12000);
        Click(&form, "btPoll");
        QCOMPARE(Control<QLineEdit>(&form, "edValue")->text(), QStringLiteral("12000"));

        // Switch to voltage, 200 ms, and poll again.
        Control<QRadioButton>(&form, "rgMode_1")->setChecked(true);
        Control<QLineEdit>(&form, "edIntTime")->setText(QStringLiteral("200"));
        Click(&form, "btWrite");
        QCOMPARE(module.reg(reg::Mode), 2);
        QCOMPARE(module.reg(reg::IntegrationTime), 200);
        module.setAppliedVoltage(7500);
        Click(&form, "btPoll");
        QCOMPARE(Control<QLineEdit>(&form, "edValue")->text(), QStringLiteral("7500"));
        QVERIFY(rec.messages.isEmpty());

        // Somebody set the module to 9600 bit/s, odd parity: it no longer answers.
        module.setLink(1, 9600, 1);
        Click(&form, "btPoll");
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Нет ответа!")});
        rec.clear();

        // Find it by its serial number A0042 and take the result over.
        WhenShown<TParCOM>([&](TParCOM* dialog) {
            Control<QComboBox>(dialog, "cbSerNumAlpha")->setCurrentIndex(0);
            Control<QLineEdit>(dialog, "edNumber")->setText(QStringLiteral("42"));
            Click(dialog, "btAuto");
            QCOMPARE(Control<QComboBox>(dialog, "cbSpeed")->currentText(), QStringLiteral("9600"));
            QCOMPARE(Control<QComboBox>(dialog, "cbParity")->currentText(), QStringLiteral("Odd"));
            Click(dialog, "btOk");
        });
        Trigger(form, "miComPars");
        QCOMPARE(rec.texts(), QStringList{QStringLiteral(
                                  "Модуль обнаружен!\nДля установки параметров порта нажмите ОК")});
        rec.clear();
        QCOMPARE(Status(form), QStringLiteral("Открыт COM1  9600 бод Odd Адрес 1"));
        Click(&form, "btPoll");
        QVERIFY(rec.messages.isEmpty());

        // Give the module address 5 in the service dialog. It takes the new
        // address as soon as it has answered; the tool follows it for the
        // speed and parity, then asks whether to switch over: no.
        WhenShown<TPassword>([&](TPassword* dialog) {
            WhenShown<TModPars>([&](TModPars* pars) {
                Click(pars, "btRead");
                QCOMPARE(Control<QLineEdit>(pars, "edAdress")->text(), QStringLiteral("1"));
                Control<QLineEdit>(pars, "edAdress")->setText(QStringLiteral("5"));
                Click(pars, "btWrite");
                pars->reject();
            });
            Control<QLineEdit>(dialog, "edPass")->setText(QStringLiteral("7301"));
            Click(dialog, "btOK");
        });
        Trigger(form, "miModPars");
        QCOMPARE(module.address(), 5);
        QCOMPARE(rec.texts(), QStringList());
        rec.clear();

        // Follow it in the port settings.
        WhenShown<TParCOM>([&](TParCOM* dialog) {
            Control<QLineEdit>(dialog, "edAddress")->setText(QStringLiteral("5"));
            Click(dialog, "btOk");
        });
        Trigger(form, "miComPars");
        QCOMPARE(Status(form), QStringLiteral("Открыт COM1  9600 бод Odd Адрес 5"));
        QFile ini(SettingsFilePath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(ini.readAll(), QByteArray("[Port]\nName=COM1\nBaud=9600\nParity=1\n\n"
                                           "[Station]\nAddress=5\n\n[Alpha]\nAlpha=A\n"));

        // Calibrate with slightly-off references.
        rec.answers = {QStringLiteral("калиб")};
        WhenShown<TCalibr1>([&](TCalibr1* wizard) {
            Click(wizard, "btNext"); // to 2 mA
            module.setAppliedCurrent(2010);
            Click(wizard, "btNext"); // to 20 mA
            module.setAppliedCurrent(20010);
            Click(wizard, "btNext"); // to 1 V
            module.setAppliedVoltage(990);
            Click(wizard, "btNext"); // to 10 V
            module.setAppliedVoltage(10100);
            Click(wizard, "btNext"); // computes, writes and closes
        });
        Trigger(form, "miCalib");
        QCOMPARE(rec.texts(), (QStringList{QStringLiteral("Калибровка проведена успешно!"),
                                           QStringLiteral("Протокол калибровки можно составить "
                                                          "позже:\nКоманды → Протокол последней "
                                                          "калибровки...")}));
        rec.clear();
        QCOMPARE(reg::JoinWords(module.reg(8), module.reg(9)), 10094759u);
        QCOMPARE(reg::JoinWords(module.reg(10), module.reg(11)), 1769777u);
        QCOMPARE(reg::JoinWords(module.reg(12), module.reg(13)), 7987830u);
        QCOMPARE(reg::JoinWords(module.reg(14), module.reg(15)), 1767524u);
        QCOMPARE(module.reg(reg::Mode), 2); // the technician's own settings are back
        QCOMPARE(module.reg(reg::IntegrationTime), 200);

        // Read the passport: the password typed before is still there.
        const QString today = QString::fromStdString(reg::DateText(Today()));
        WhenShown<TPassword>([&](TPassword* dialog) {
            WhenShown<TModPars>([&](TModPars* pars) {
                Click(pars, "btRead");
                QCOMPARE(Control<QLineEdit>(pars, "edName")->text(), QStringLiteral("QS-730"));
                QCOMPARE(Control<QLineEdit>(pars, "edNumber")->text(), QStringLiteral("0042"));
                QCOMPARE(Control<QLineEdit>(pars, "edCheck")->displayText(), today);
                QVERIFY(Control<QLineEdit>(pars, "edNumber")->isEnabled());
                pars->reject();
            });
            QCOMPARE(Control<QLineEdit>(dialog, "edPass")->text(), QStringLiteral("7301"));
            Click(dialog, "btOK");
        });
        Trigger(form, "miModPars");

        // The about box.
        QString product;
        WhenShown<TAboutBox>([&](TAboutBox* box) {
            product = Control<QLabel>(box, "ProductName")->text();
            Click(box, "OKButton");
        });
        Trigger(form, "miAbout");
        QCOMPARE(product, QStringLiteral("Название: QS730_View"));

        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join(QLatin1Char('|'))));
        Password = nullptr;
    }
};

QTEST_MAIN(TestSession)
#include "test_session.moc"
