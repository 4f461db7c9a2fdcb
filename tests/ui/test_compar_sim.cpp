// The port settings dialog and the automatic search through the real
// communication library against a simulated module. The dialog only offers
// COM1..COM6, so COM1 is mapped to the simulator's device through the
// library's own comm_mb.ini beside it.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "Compar.h"
#include "Controls.h"
#include "Func.h"
#include "Gateway.h"
#include "Mess.h"
#include "PortMap.h"
#include "RecorderUi.h"
#include "SimLink.h"

namespace {

QString ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

// The module of these tests: A0042 at address 5, 9600 bit/s, odd parity.
sim::Options Module() {
    sim::Options o;
    o.address = 5;
    o.baud = 9600;
    o.parity = 1;
    o.serial = reg::EncodeSerial(0, 42);
    return o;
}

const QString Found =
    QStringLiteral("Модуль обнаружен!\nДля установки параметров порта нажмите ОК");

} // namespace

class TestComparSim : public QObject {
    Q_OBJECT

    QString statusLine;
    QList<int> messAliveAtBox;
    // The real library, bound here so that this test owns the loader object
    // (SimLink then uses the entry points as they are).
    QLibrary library{CommLibraryPath()};

    // The link the tool has in force: COM1, mapped to the module's device.
    static bool UseLink(const SimLink& link, int32_t baud, uint8_t parity, uint8_t address) {
        PortName = QStringLiteral("COM1");
        BaudRate = baud;
        ParityIndex = parity;
        ModuleAddress = address;
        return WritePortMap(QStringLiteral("[Ports]\nCOM1=%1\n").arg(link.port()));
    }

    void search(TParCOM& dlg, const QString& number, const QString& address) {
        Control<QComboBox>(dlg, "cbSerNumAlpha")->setCurrentIndex(0); // "A"
        Control<QLineEdit>(dlg, "edNumber")->setText(number);
        Control<QLineEdit>(dlg, "edAddress")->setText(address);
        Control<QPushButton>(dlg, "btAuto")->click();
    }

  private slots:
    void initTestCase() {
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        Comm.init_comm = reinterpret_cast<init_comm_fn>(library.resolve("init_comm"));
        Comm.invoke_modb = reinterpret_cast<invoke_modb_fn>(library.resolve("invoke_modb"));
        Comm.EnumParameters =
            reinterpret_cast<EnumParameters_fn>(library.resolve("EnumParameters"));
        QVERIFY(Comm.init_comm && Comm.invoke_modb && Comm.EnumParameters);
    }
    void cleanupTestCase() { Comm = CommEntryPoints(); }

    void init() {
        QFile::remove(SettingsFilePath());
        QFile::remove(PortMapPath());
        statusLine.clear();
        messAliveAtBox.clear();
        LinkStateSink = [this](const QString& text) { statusLine = text; };
    }
    void cleanup() {
        QFile::remove(SettingsFilePath());
        QFile::remove(PortMapPath());
        LinkStateSink = nullptr;
    }

    // Found by its serial number, applied with "OK", then polled at its address.
    void searchFindsModuleAndOkTakesItOver() {
        SimLink link(Module());
        QVERIFY(link.opened());
        QVERIFY(WritePortMap(QStringLiteral("[Ports]\nCOM1=%1\n").arg(link.port())));
        // What the tool had stored: the factory setting on COM1.
        PortName = QStringLiteral("COM1");
        BaudRate = 19200;
        ParityIndex = 2;
        ModuleAddress = 1;
        SerialLetter = QStringLiteral("A");

        RecorderUi rec;
        rec.onMessage = [this](const ShownMessage&) { messAliveAtBox << TfMess::alive(); };
        TParCOM dlg(nullptr);
        dlg.show();
        QCOMPARE(Control<QComboBox>(dlg, "cbPort")->currentText(), QStringLiteral("COM1"));
        search(dlg, QStringLiteral("42"), QStringLiteral("5"));

        QCOMPARE(rec.texts(), QStringList{Found});
        QCOMPARE(messAliveAtBox, QList<int>{0});
        QCOMPARE(Control<QComboBox>(dlg, "cbSpeed")->currentText(), QStringLiteral("9600"));
        QCOMPARE(Control<QComboBox>(dlg, "cbParity")->currentText(), QStringLiteral("Odd"));
        // The search took nothing over.
        QCOMPARE(statusLine, QStringLiteral("Открыт COM1  19200 бод Even Адрес 1"));
        QCOMPARE(BaudRate, 19200);
        QVERIFY(!QFile::exists(SettingsFilePath()));

        Control<QPushButton>(dlg, "btOk")->click();
        QCOMPARE(rec.texts(), QStringList{Found});
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(PortName, QStringLiteral("COM1"));
        QCOMPARE(BaudRate, 9600);
        QCOMPARE(ParityIndex, uint8_t(1));
        QCOMPARE(ModuleAddress, uint8_t(5));
        QCOMPARE(statusLine, QStringLiteral("Открыт COM1  9600 бод Odd Адрес 5"));
        QCOMPARE(ReadFile(SettingsFilePath()),
                 QStringLiteral("[Port]\nName=COM1\nBaud=9600\nParity=1\n\n[Station]\nAddress=5\n"
                                "\n[Alpha]\nAlpha=A\n"));

        link.module().clearRequests();
        uint16_t values[3] = {};
        ReadRegisters(1024, 3, values);
        const auto requests = link.module().requests();
        QCOMPARE(requests.size(), std::size_t(1));
        QCOMPARE(requests[0].function, uint8_t(3));
        QCOMPARE(requests[0].first, uint16_t(1024));
        QCOMPARE(requests[0].count, uint16_t(3));
        QCOMPARE(values[1], link.module().reg(1025));
    }

    // "Отмена" after a search that found the module: the line runs again at
    // the link the status line shows.
    void cancelAfterSearchPutsTheLinkBack() {
        SimLink link(Module());
        QVERIFY(UseLink(link, 19200, 2, 5));
        RecorderUi rec;
        TParCOM dlg(nullptr);
        dlg.show();
        search(dlg, QStringLiteral("42"), QStringLiteral("5"));
        QCOMPARE(rec.texts(), QStringList{Found});
        Control<QPushButton>(dlg, "btCancel")->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(statusLine, QStringLiteral("Открыт COM1  19200 бод Even Адрес 5"));
        link.module().setLink(5, 19200, 2); // the module where the status line says
        uint16_t value = 0;
        QVERIFY_THROWS_NO_EXCEPTION(ReadRegister(0, value));
        QCOMPARE(value, reg::EncodeSerial(0, 42));
    }

    // No module with that serial number: the message, and the link in force
    // before the search is open again.
    void searchWithoutModuleReopensTheLink() {
        SimLink link(Module());
        QVERIFY(UseLink(link, 9600, 1, 5));

        RecorderUi rec;
        rec.onMessage = [this](const ShownMessage&) { messAliveAtBox << TfMess::alive(); };
        TParCOM dlg(nullptr);
        search(dlg, QStringLiteral("43"), QStringLiteral("5"));

        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Модуль не найден!")});
        QCOMPARE(messAliveAtBox, QList<int>{0});
        QCOMPARE(statusLine, QStringLiteral("Открыт COM1  9600 бод Odd Адрес 5"));
        uint16_t value = 0;
        ReadRegister(0, value); // answers again at the stored setting
        QCOMPARE(value, reg::EncodeSerial(0, 42));
        QVERIFY(!QFile::exists(SettingsFilePath()));
    }

    // "OK" on a port the library cannot open changes nothing.
    void okOnPortThatDoesNotOpen() {
        SimLink link(Module());
        QVERIFY(WritePortMap(
            QStringLiteral("[Ports]\nCOM1=%1\nCOM2=/nonexistent/tty\n").arg(link.port())));
        PortName = QStringLiteral("COM1");
        BaudRate = 9600;
        ParityIndex = 1;
        ModuleAddress = 5;
        SerialLetter = QStringLiteral("A");

        RecorderUi rec;
        TParCOM dlg(nullptr);
        dlg.show();
        Control<QComboBox>(dlg, "cbPort")->setCurrentIndex(1);
        Control<QComboBox>(dlg, "cbSerNumAlpha")->setCurrentIndex(3);
        Control<QPushButton>(dlg, "btOk")->click();

        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Невозможно открыть COM2")});
        QVERIFY(dlg.isVisible());
        QCOMPARE(PortName, QStringLiteral("COM1"));
        QCOMPARE(SerialLetter, QStringLiteral("A"));
        QCOMPARE(statusLine, QStringLiteral("Закрыт COM1  9600 бод Odd Адрес 5"));
        QVERIFY(!QFile::exists(SettingsFilePath()));
    }

    // A gateway typed in the port box, searched through, taken over with
    // "OK", saved, and shown again by the next dialog: both kinds.
    void networkPortTypedSearchedAndKept() {
        struct Case {
            sim::GatewayKind kind;
            QString note;
        };
        const Case cases[] = {
            {sim::GatewayKind::ModbusTcp,
             QStringLiteral("Через шлюз Modbus TCP скорость и чётность линии задаёт шлюз: "
                            "они не подбираются, модуль ищется только по адресу.")},
            {sim::GatewayKind::RtuTcp,
             QStringLiteral("Через прозрачный сервер скорость не подбирается: модуль ищется "
                            "только по адресу. Скорость и чётность линии задайте в настройках "
                            "шлюза такими же, как у модуля.")},
        };
        for (const Case& c : cases) {
            init();
            sim::Gateway gateway(c.kind, {Module()}, 0, 9600, 1);
            const QString name = QString::fromStdString(gateway.portName());
            PortName = QStringLiteral("COM1");
            BaudRate = 19200;
            ParityIndex = 2;
            ModuleAddress = 1;
            SerialLetter = QStringLiteral("A");

            RecorderUi rec;
            {
                TParCOM dlg(nullptr);
                dlg.show();
                auto* port = Control<QComboBox>(dlg, "cbPort");
                // Typed, as the technician does.
                port->setFocus();
                port->lineEdit()->selectAll();
                QTest::keyClicks(port->lineEdit(), name);
                QCOMPARE(port->currentText(), name);
                search(dlg, QStringLiteral("42"), QStringLiteral("5"));
                QCOMPARE(
                    rec.texts(),
                    QStringList{QStringLiteral("Модуль обнаружен!\n") + c.note +
                                QStringLiteral("\nДля установки параметров порта нажмите ОК")});
                // No module at 6: not found, and the note says why no sweep.
                QVERIFY_THROWS_NO_EXCEPTION(search(dlg, QStringLiteral("42"), QStringLiteral("6")));
                QCOMPARE(rec.texts().last(), QStringLiteral("Модуль не найден!\n") + c.note);
                Control<QLineEdit>(dlg, "edAddress")->setText(QStringLiteral("5"));
                Control<QPushButton>(dlg, "btOk")->click();
                QCOMPARE(dlg.result(), int(QDialog::Accepted));
            }
            QCOMPARE(PortName, name);
            QCOMPARE(statusLine, QStringLiteral("Открыт ") + name + QStringLiteral("  Адрес 5"));
            QVERIFY(ReadFile(SettingsFilePath())
                        .startsWith(QStringLiteral("[Port]\nName=") + name + QStringLiteral("\n")));
            uint16_t value = 0;
            QVERIFY_THROWS_NO_EXCEPTION(ReadRegister(0, value));
            QCOMPARE(value, reg::EncodeSerial(0, 42));

            // The settings file read back: the next dialog shows the gateway.
            PortName = QStringLiteral("COM1");
            ReadLinkSettings(ToolSettingsFile());
            QCOMPARE(PortName, name);
            TParCOM again(nullptr);
            QCOMPARE(Control<QComboBox>(again, "cbPort")->currentText(), name);
            cleanup();
        }
    }

    // Gateways that cannot be reached, or names spelt wrong: the reason
    // names the host, nothing is taken over or saved.
    void networkPortThatDoesNotOpen() {
        const QString refused = QStringLiteral("tcp:127.0.0.1:%1").arg(sim::UnusedPort());
        struct Case {
            QString typed;
            QStringList box;
            QString deviceLine; // the reason below the port
        };
        const Case cases[] = {
            {refused,
             {QStringLiteral("Невозможно открыть ") + refused},
             QStringLiteral("Не удалось соединиться с 127.0.0.1:%1: соединение отвергнуто.")
                 .arg(refused.section(QLatin1Char(':'), 2))},
            {QStringLiteral("tcp:my gateway"),
             {QStringLiteral("Сетевой порт записан неверно: tcp:my gateway. Пишите "
                             "tcp:УЗЕЛ[:ПОРТ] или rtu-tcp:УЗЕЛ:ПОРТ, без пробелов, порт от 1 "
                             "до 65535.")},
             QString()},
            {QStringLiteral("rtu-tcp:10.0.0.5:70000"),
             {QStringLiteral("Сетевой порт записан неверно: rtu-tcp:10.0.0.5:70000. Пишите "
                             "tcp:УЗЕЛ[:ПОРТ] или rtu-tcp:УЗЕЛ:ПОРТ, без пробелов, порт от 1 "
                             "до 65535.")},
             QString()},
        };
        for (const Case& c : cases) {
            init();
            PortName = QStringLiteral("COM1");
            BaudRate = 9600;
            ParityIndex = 1;
            ModuleAddress = 5;
            RecorderUi rec;
            TParCOM dlg(nullptr);
            dlg.show();
            Control<QComboBox>(dlg, "cbPort")->setEditText(c.typed);
            Control<QPushButton>(dlg, "btOk")->click();
            QCOMPARE(rec.texts(), c.box);
            QVERIFY(dlg.isVisible());
            QCOMPARE(PortName, QStringLiteral("COM1"));
            QVERIFY(!QFile::exists(SettingsFilePath()));
            if (!c.deviceLine.isEmpty())
                QVERIFY2(Control<QLabel>(dlg, "lbDevice")->text().contains(c.deviceLine),
                         qPrintable(Control<QLabel>(dlg, "lbDevice")->text()));
            cleanup();
        }
    }
};

QTEST_MAIN(TestComparSim)
#include "test_compar_sim.moc"
