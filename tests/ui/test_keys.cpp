// Enter and Space on the dialogs' buttons, as real key strokes on shown
// dialogs: a focused button takes Enter itself; only when no button has the
// focus does Enter go to the dialog's default button.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "About.h"
#include "Calib.h"
#include "Compar.h"
#include "Controls.h"
#include "FakeModule.h"
#include "Func.h"
#include "Keys.h"
#include "Modulparams.h"
#include "Passw.h"
#include "RecorderUi.h"

namespace {

// A password dialog that answers at once.
class ScriptedPassword : public QDialog {
  public:
    int exec() override { return 1; }
};

FakeModule Module;
// The writes the module received.
int Writes() {
    return static_cast<int>(Module.log.filter(QStringLiteral("W")).size());
}

} // namespace

class TestKeys : public QObject {
    Q_OBJECT

    ScriptedPassword passportGranted;

    std::unique_ptr<QDialog> Make(const QString& dialog) {
        if (dialog == "service")
            return std::make_unique<TModPars>(nullptr, &passportGranted);
        if (dialog == "wizard")
            return std::make_unique<TCalibr1>();
        if (dialog == "port")
            return std::make_unique<TParCOM>();
        if (dialog == "password")
            return std::make_unique<TPassword>();
        return std::make_unique<TAboutBox>(nullptr, std::nullopt);
    }

  private slots:
    void init() {
        Module.reset();
        SerialLetter = QStringLiteral("A");
    }
    void cleanup() { QFile::remove(SettingsFilePath()); }

    void keysOnButtons_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("focus"); // reached with Tab from where the dialog starts
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("clicked");
        const int enter = Qt::Key_Return;
        QTest::newRow("service: Прочитать, Enter") << "service"
                                                   << "btRead" << enter << QStringList{"btRead"};
        QTest::newRow("service: По умолчанию, keypad Enter")
            << "service"
            << "btDef" << int(Qt::Key_Enter) << QStringList{"btDef"};
        QTest::newRow("service: Записать, Enter") << "service"
                                                  << "btWrite" << enter << QStringList{"btWrite"};
        QTest::newRow("service: address, Enter") << "service"
                                                 << "edAdress" << enter << QStringList{"btWrite"};
        QTest::newRow("service: parity, Enter") << "service"
                                                << "cbParity" << enter << QStringList{"btWrite"};
        QTest::newRow("wizard: Отмена, Enter") << "wizard"
                                               << "btCancel" << enter << QStringList{"btCancel"};
        QTest::newRow("wizard: Отмена, Space")
            << "wizard"
            << "btCancel" << int(Qt::Key_Space) << QStringList{"btCancel"};
        QTest::newRow("wizard: Далее, Enter") << "wizard"
                                              << "btNext" << enter << QStringList{"btNext"};
        QTest::newRow("port: Отмена, Enter") << "port"
                                             << "btCancel" << enter << QStringList{"btCancel"};
        QTest::newRow("port: По умолчанию, Enter") << "port"
                                                   << "Button1" << enter << QStringList{"Button1"};
        QTest::newRow("port: Автоматически, Enter") << "port"
                                                    << "btAuto" << enter << QStringList{"btAuto"};
        QTest::newRow("port: address, Enter") << "port"
                                              << "edAddress" << enter << QStringList{"btOk"};
        QTest::newRow("password: entry, Enter") << "password"
                                                << "edPass" << enter << QStringList{"btOK"};
        QTest::newRow("about: Enter") << "about"
                                      << "OKButton" << enter << QStringList{"OKButton"};
    }
    void keysOnButtons() {
        QFETCH(QString, dialog);
        QFETCH(QString, focus);
        QFETCH(int, key);
        RecorderUi rec;
        const std::unique_ptr<QDialog> dlg = Make(dialog);
        QStringList clicked;
        RecordClicks(dlg.get(), clicked);
        dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
        QVERIFY(TabTo(Control<QWidget>(dlg.get(), qPrintable(focus))));
        Stroke(Qt::Key(key));
        QTEST(clicked, "clicked");
    }

    // What the technician ran into: the factory values filled in, then Enter
    // on "По умолчанию" wrote them, and today's date, into the module.
    void enterAfterFactoryValuesWritesNothing() {
        RecorderUi rec;
        TModPars dlg(nullptr, &passportGranted);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QVERIFY(TabTo(Control<QPushButton>(dlg, "btDef")));
        Stroke(Qt::Key_Space);
        QCOMPARE(Control<QComboBox>(dlg, "cbSpeed")->currentText(), QStringLiteral("19200"));
        Stroke(Qt::Key_Return);
        QCOMPARE(Writes(), 0);
        // From a field, Enter is "Записать".
        QVERIFY(TabTo(Control<QLineEdit>(dlg, "edAdress")));
        Stroke(Qt::Key_Return);
        QVERIFY(Writes() >= 3);
    }
};

QTEST_MAIN(TestKeys)
#include "test_keys.moc"
