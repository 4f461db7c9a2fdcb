// The port settings dialog and the automatic search, against a scripted
// stand-in for the communication library.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimerEvent>
#include <QtTest>
#include <cerrno>

#include "Compar.h"
#include "Controls.h"
#include "FakeDevices.h"
#include "Func.h"
#include "Mess.h"
#include "RecorderUi.h"

namespace {

// The dialog's controls, found by their names.
struct Controls {
    explicit Controls(QWidget& dlg)
        : cbPort(find<QComboBox>(dlg, "cbPort")), cbSpeed(find<QComboBox>(dlg, "cbSpeed")),
          cbParity(find<QComboBox>(dlg, "cbParity")), edAddress(find<QLineEdit>(dlg, "edAddress")),
          btOk(find<QPushButton>(dlg, "btOk")), btCancel(find<QPushButton>(dlg, "btCancel")),
          Button1(find<QPushButton>(dlg, "Button1")), GroupBox1(find<QGroupBox>(dlg, "GroupBox1")),
          Label6(find<QLabel>(dlg, "Label6")), cbSerNumAlpha(find<QComboBox>(dlg, "cbSerNumAlpha")),
          edNumber(find<QLineEdit>(dlg, "edNumber")), btAuto(find<QPushButton>(dlg, "btAuto")) {}
    template <class T> static T* find(QWidget& w, const char* name) { return Control<T>(w, name); }
    QComboBox* cbPort;
    QComboBox* cbSpeed;
    QComboBox* cbParity;
    QLineEdit* edAddress;
    QPushButton* btOk;
    QPushButton* btCancel;
    QPushButton* Button1;
    QGroupBox* GroupBox1;
    QLabel* Label6;
    QComboBox* cbSerNumAlpha;
    QLineEdit* edNumber;
    QPushButton* btAuto;
};
Controls ctl(QWidget& dlg) {
    return Controls(dlg);
}

struct InitCall {
    QString port;
    int32_t baud;
    uint8_t parity;
    int messAlive; // search windows in existence during the call
};

struct EnumCall {
    QString port;
    int32_t typeCode;
    uint16_t serial;
    int32_t address;
    int messAlive;
    bool messVisible;
    int messInk;    // dark pixels of the window as it stands on screen
    int timerTicks; // ticks of a running timer seen so far
};

// The scripted library.
struct Script {
    QList<InitCall> inits;
    QList<EnumCall> enums;
    int initResult = 0;  // what init_comm answers
    QString failingPort; // a port name init_comm refuses
    int32_t enumResult = 0;
    int32_t foundBaud = 0;
    uint8_t foundParity = 0;
    int openErrno = 0; // errno a refused open leaves, as the library does
};
Script script;
int timerTicks = 0;

int32_t FakeInit(const char* port, int32_t baud, uint8_t parity) {
    script.inits.append({QString::fromLocal8Bit(port), baud, parity, TfMess::alive()});
    if (!script.failingPort.isNull() && script.failingPort == QString::fromLocal8Bit(port)) {
        errno = script.openErrno;
        return COMM_OPEN_FAILED;
    }
    return script.initResult;
}

int32_t FakeInvoke(uint8_t, uint8_t, uint16_t, uint16_t, uint16_t*) {
    return COMM_NO_REPLY;
}

int32_t FakeEnum(const char* port, int32_t typeCode, uint16_t serial, int32_t address,
                 int32_t* baud, uint8_t* parity) {
    bool visible = false;
    int ink = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!qobject_cast<TfMess*>(w) || !w->isVisible())
            continue;
        visible = true;
        // What the screen holds, not what the widget would paint now.
        const QImage shot = w->screen()->grabWindow(w->winId()).toImage();
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (qGray(shot.pixel(x, y)) < 96 && qAlpha(shot.pixel(x, y)) == 255)
                    ++ink;
    }
    script.enums.append({QString::fromLocal8Bit(port), typeCode, serial, address, TfMess::alive(),
                         visible, ink, timerTicks});
    if (script.enumResult == 0) {
        *baud = script.foundBaud;
        *parity = script.foundParity;
    }
    errno = script.enumResult == COMM_OPEN_FAILED ? script.openErrno : 0;
    return script.enumResult;
}

// The settings file as text; the line ends of a file the tool made (the
// system's own) as "\n".
QString ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QByteArray text = f.readAll();
#ifdef Q_OS_WIN
    text.replace("\r\n", "\n");
#endif
    return QString::fromUtf8(text);
}

void WriteFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// The link settings the dialog starts from in most cases.
void StoreLink(const QString& port, int32_t baud, uint8_t parity, uint8_t address,
               const QString& letter) {
    PortName = port;
    BaudRate = baud;
    ParityIndex = parity;
    ModuleAddress = address;
    SerialLetter = letter;
}

const QString NotFound = QStringLiteral("Модуль не найден!");
const QString CrcError = QStringLiteral("Ошибка CRC!\n Возможно просто сбой!\nПовторите попытку!");
const QString Found =
    QStringLiteral("Модуль обнаружен!\nДля установки параметров порта нажмите ОК");
const QString EnterNumber = QStringLiteral("Введите  номер модуля!");
const QString BadAddress = QStringLiteral("Адрес должен быть от 1 до 247!");
const QString BadNumber = QStringLiteral("Номер модуля должен быть от 0 до 2047!");

// The device line as read, without the places where it may break.
[[maybe_unused]] QString DeviceLine(QWidget& dlg) {
    return Control<QLabel>(dlg, "lbDevice")->text().remove(QChar(0x200B));
}

const QString AdapterById =
    QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");

#ifndef Q_OS_WIN
// A device tree with one USB adapter (/dev/ttyUSB0 and its by-id link) and
// the library's port map holding `map`, for the life of the object.
struct AdapterTree {
    explicit AdapterTree(const QByteArray& map) {
        MakeUsbAdapter(dir.path(), QStringLiteral("ttyUSB0"), AdapterById.section('/', -1), "FTDI",
                       "FT232R USB UART");
        SerialDeviceRoot = dir.path();
        WriteFile(CommSettingsFilePath(), map);
    }
    ~AdapterTree() {
        QFile::remove(CommSettingsFilePath());
        SerialDeviceRoot = QStringLiteral("/");
    }
    QTemporaryDir dir;
};
#endif

} // namespace

class TestCompar : public QObject {
    Q_OBJECT

    QString statusLine;
    QList<int> messAliveAtBox;

    void searchFor(TParCOM& dlg, int letter, const QString& number) {
        ctl(dlg).cbSerNumAlpha->setCurrentIndex(letter);
        ctl(dlg).edNumber->setText(number);
        ctl(dlg).btAuto->click();
    }
    void verifyLinkUnchanged() {
        QCOMPARE(PortName, QStringLiteral("COM2"));
        QCOMPARE(BaudRate, 9600);
        QCOMPARE(ParityIndex, uint8_t(1));
        QCOMPARE(ModuleAddress, uint8_t(7));
        QCOMPARE(SerialLetter, QStringLiteral("C"));
    }

  private slots:
    void init() {
        QFile::remove(SettingsFilePath());
        script = Script();
        Comm.init_comm = &FakeInit;
        Comm.invoke_modb = &FakeInvoke;
        Comm.EnumParameters = &FakeEnum;
        statusLine.clear();
        messAliveAtBox.clear();
        LinkStateSink = [this](const QString& text) { statusLine = text; };
        StoreLink(QStringLiteral("COM2"), 9600, 1, 7, QStringLiteral("C"));
    }
    void cleanup() {
        QFile::remove(SettingsFilePath());
        Comm = CommEntryPoints();
        LinkStateSink = nullptr;
    }

#ifndef Q_OS_WIN
    // When OK or the search cannot open the port, the box says what the
    // program always said, and the device line says why.
    void deviceLineSaysWhyAPortWillNotOpen_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("says");
        QTest::newRow("no such device") << ENOENT << "Устройство не найдено";
        QTest::newRow("no permission") << EACCES << "группу dialout";
        QTest::newRow("held by another program") << EBUSY << "Порт занят другой программой.";
        QTest::newRow("not a serial port") << ENOTTY << "Это не последовательный порт.";
    }
    void deviceLineSaysWhyAPortWillNotOpen() {
        QFETCH(int, error);
        QFETCH(QString, says);
        RecorderUi rec;
        script.failingPort = QStringLiteral("COM2");
        script.openErrno = error;
        TParCOM dlg;
        QVERIFY(!DeviceLine(dlg).contains(says));
        ctl(dlg).btOk->click();
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Невозможно открыть COM2")});
        QVERIFY2(DeviceLine(dlg).contains(says), qPrintable(DeviceLine(dlg)));

        TParCOM search;
        script.enumResult = COMM_OPEN_FAILED;
        searchFor(search, 0, QStringLiteral("42"));
        QVERIFY2(DeviceLine(search).contains(says), qPrintable(DeviceLine(search)));
    }

    // The device picked for a port goes into the library's settings file, and
    // the automatic choice gives the port back to the rule.
    void deviceChoiceIsStoredForTheLibrary() {
        RecorderUi rec;
        QTemporaryDir tree;
        MakeUsbAdapter(tree.path(), QStringLiteral("ttyUSB0"), AdapterById.section('/', -1), "FTDI",
                       "FT232R USB UART");
        SerialDeviceRoot = tree.path();
        QFile::remove(CommSettingsFilePath());
        {
            TParCOM dlg; // COM2: the one adapter is dealt out to COM1
            auto* cbDevice = Control<QComboBox>(dlg, "cbDevice");
            QCOMPARE(cbDevice->count(), 2);
            QCOMPARE(cbDevice->itemText(1), QStringLiteral("FTDI FT232R USB UART (/dev/ttyUSB0)"));
            QCOMPARE(DeviceLine(dlg), QStringLiteral("Нет устройства"));
            ctl(dlg).cbPort->setCurrentIndex(0);
            QCOMPARE(DeviceLine(dlg),
                     QStringLiteral("/dev/ttyUSB0 — FTDI FT232R USB UART (") + AdapterById + ')');
            ctl(dlg).cbPort->setCurrentIndex(1);
            cbDevice->setCurrentIndex(1);
            QVERIFY(DeviceLine(dlg).startsWith(QStringLiteral("/dev/ttyUSB0 — ")));
            ctl(dlg).btOk->click();
        }
        QCOMPARE(ReadFile(CommSettingsFilePath()),
                 QStringLiteral("[Ports]\nCOM2=") + AdapterById + QStringLiteral("\n"));
        {
            TParCOM dlg;
            auto* cbDevice = Control<QComboBox>(dlg, "cbDevice");
            QCOMPARE(cbDevice->currentIndex(), 1);
            cbDevice->setCurrentIndex(0);
            ctl(dlg).btOk->click();
        }
        QCOMPARE(ReadFile(CommSettingsFilePath()), QStringLiteral("[Ports]\nCOM2=\n"));
        QVERIFY(rec.messages.isEmpty());
        QFile::remove(CommSettingsFilePath());
        SerialDeviceRoot = QStringLiteral("/");
    }

    // An entry the user did not touch is not rewritten by "OK", whatever name
    // it gives the device; the port opens by its COM name.
    void untouchedDeviceEntrySurvivesOk_data() {
        QTest::addColumn<QByteArray>("map");
        QTest::newRow("device name") << QByteArray("[Ports]\nCOM2=/dev/ttyUSB0\n");
        QTest::newRow("udev name") << QByteArray("[Ports]\nCOM2=/dev/qs730\n");
        QTest::newRow("by-id name, comment")
            << QByteArray("; mine\n[Ports]\nCOM2=") + AdapterById.toLatin1() + "\n";
    }
    void untouchedDeviceEntrySurvivesOk() {
        QFETCH(QByteArray, map);
        RecorderUi rec;
        const AdapterTree tree(map);
        TParCOM dlg;
        ctl(dlg).btOk->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(script.inits.last().port, QStringLiteral("COM2"));
        QCOMPARE(ReadFile(CommSettingsFilePath()).toLatin1(), map);
    }

    // A device just chosen is the one searched and opened; the port map
    // takes it only when "OK" succeeds.
    void chosenDeviceStoredOnlyByOkThatSucceeds_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("box"); // of "OK"
        QTest::newRow("OK succeeds") << "7" << true << "";
        QTest::newRow("port does not open, Отмена") << "7" << false << "Невозможно открыть COM2";
        QTest::newRow("address refused, Отмена") << "0" << true << BadAddress;
        QTest::newRow("address not a number, Отмена")
            << "x" << true << "'x' is not a valid integer value.";
    }
    void chosenDeviceStoredOnlyByOkThatSucceeds() {
        QFETCH(QString, address);
        QFETCH(bool, opens);
        RecorderUi rec;
        const QByteArray map = "[Ports]\nCOM2=/dev/ttyS7\n";
        const AdapterTree tree(map);
        script.failingPort = opens ? QString() : AdapterById;
        script.enumResult = COMM_NO_REPLY;
        TParCOM dlg;
        Control<QComboBox>(dlg, "cbDevice")->setCurrentIndex(1);
        searchFor(dlg, 0, QStringLiteral("42"));
        QCOMPARE(script.enums.last().port, AdapterById);
        QCOMPARE(script.inits.last().port, QStringLiteral("COM2")); // back to the link in force
        rec.clear();
        ctl(dlg).edAddress->setText(address);
        ctl(dlg).btOk->click();
        QTEST(rec.texts().value(0), "box");
        if (address == QStringLiteral("7"))
            QCOMPARE(script.inits.last().port, AdapterById);
        if (dlg.result() != QDialog::Accepted)
            ctl(dlg).btCancel->click();
        QCOMPARE(ReadFile(CommSettingsFilePath()).toLatin1(),
                 rec.texts().isEmpty() ? "[Ports]\nCOM2=" + AdapterById.toLatin1() + "\n" : map);
    }
#endif

    void controlsFilledFromLinkSettings_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<int>("portIndex");
        QTest::addColumn<int>("speedIndex");
        QTest::addColumn<int>("parityIndex");
        QTest::addColumn<int>("letterIndex");
        QTest::newRow("stored") << "COM2" << 9600 << 1 << 7 << "C" << 1 << 2 << 1 << 2;
        QTest::newRow("last items") << "COM6" << 115200 << 2 << 255 << "Z" << 5 << 7 << 2 << 25;
        QTest::newRow("lower case") << "com1" << 1200 << 3 << 0 << "b" << -1 << -1 << -1 << 1;
        QTest::newRow("no such port") << "COM7" << 2400 << 0 << 1 << "" << -1 << 0 << 0 << -1;
        QTest::newRow("not a letter") << "COM1" << 0 << 255 << 1 << "1x" << 0 << -1 << -1 << -1;
    }
    void controlsFilledFromLinkSettings() {
        QFETCH(QString, port);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, address);
        QFETCH(QString, letter);
        StoreLink(port, baud, uint8_t(parity), uint8_t(address), letter);
        TParCOM dlg(nullptr);
        QTEST(ctl(dlg).cbPort->currentIndex(), "portIndex");
        QTEST(ctl(dlg).cbSpeed->currentIndex(), "speedIndex");
        QTEST(ctl(dlg).cbParity->currentIndex(), "parityIndex");
        QTEST(ctl(dlg).cbSerNumAlpha->currentIndex(), "letterIndex");
        QCOMPARE(ctl(dlg).edAddress->text(), QString::number(address));
        QVERIFY(ctl(dlg).edNumber->text().isEmpty());
        QVERIFY(script.inits.isEmpty());
    }

    void dialogLayout() {
        TParCOM dlg(nullptr);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Параметры порта"));
        const Qt::WindowFlags flags = dlg.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                           Qt::WindowContextHelpButtonHint)));
        QVERIFY(ctl(dlg).btOk->isDefault());
        // COM1..COM6 to choose, or a gateway's name typed in; Enter adds no item.
        QVERIFY(ctl(dlg).cbPort->isEditable());
        QCOMPARE(ctl(dlg).cbPort->insertPolicy(), QComboBox::NoInsert);
        QCOMPARE(ctl(dlg).cbPort->count(), 6);
        QCOMPARE(ctl(dlg).cbPort->itemText(5), QStringLiteral("COM6"));
        QStringList speeds;
        for (int i = 0; i < ctl(dlg).cbSpeed->count(); ++i)
            speeds << ctl(dlg).cbSpeed->itemText(i);
        QCOMPARE(speeds, QStringList({"2400", "4800", "9600", "19200", "28800", "38400", "57600",
                                      "115200"}));
        QCOMPARE(ctl(dlg).cbSerNumAlpha->count(), 26);
        QCOMPARE(ctl(dlg).cbSerNumAlpha->itemText(25), QStringLiteral("Z"));
        QVERIFY(ctl(dlg).GroupBox1->title().isEmpty());
        QCOMPARE(ctl(dlg).cbSerNumAlpha->parentWidget(), ctl(dlg).GroupBox1);

        // The tab order, from "OK" round to the letter; the device of the
        // port (Linux only) right after the port.
        dlg.show();
        QList<QWidget*> order;
        QWidget* w = ctl(dlg).btOk;
        do {
            // The port's line edit passes its focus on to the port box.
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&dlg) && !w->focusProxy())
                order << w;
            w = w->nextInFocusChain();
        } while (w != ctl(dlg).btOk && order.size() < 20);
        QList<QWidget*> expected = {ctl(dlg).btOk,         ctl(dlg).btCancel, ctl(dlg).cbPort,
                                    ctl(dlg).cbSpeed,      ctl(dlg).cbParity, ctl(dlg).edAddress,
                                    ctl(dlg).Button1,      ctl(dlg).edNumber, ctl(dlg).btAuto,
                                    ctl(dlg).cbSerNumAlpha};
#ifndef Q_OS_WIN
        expected.insert(3, Control<QComboBox>(dlg, "cbDevice"));
#endif
        QCOMPARE(order, expected);

        // A fixed border, and every caption fits its control.
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        for (QLabel* l : dlg.findChildren<QLabel*>())
            QVERIFY2(l->width() >= l->sizeHint().width(), qPrintable(l->text()));
        for (QPushButton* b : dlg.findChildren<QPushButton*>())
            QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->text()));
    }

    // Only "Отмена" and the close box close without applying; Escape does nothing.
    void cancelEscapeAndCloseBox() {
        RecorderUi rec;
        {
            TParCOM dlg(nullptr);
            dlg.show();
            QTest::keyClick(&dlg, Qt::Key_Escape);
            QVERIFY(dlg.isVisible());
            QTest::keyClick(ctl(dlg).edAddress, Qt::Key_Escape);
            QVERIFY(dlg.isVisible());
            ctl(dlg).btCancel->click();
            QVERIFY(!dlg.isVisible());
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
        {
            TParCOM dlg(nullptr);
            dlg.show();
            dlg.setResult(-5);
            QVERIFY(dlg.close());
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
        QVERIFY(rec.messages.isEmpty());
        QVERIFY(script.inits.isEmpty());
        verifyLinkUnchanged();
        QVERIFY(!QFile::exists(SettingsFilePath()));
    }

    void okOpensTakesOverAndSaves_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("letter");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("file");
        QTest::newRow("all")
            << 2 << 5 << 0 << "12" << 3 << "Открыт COM3  38400 бод None Адрес 12"
            << "[Port]\nName=COM3\nBaud=38400\nParity=0\n\n[Station]\nAddress=12\n\n"
               "[Alpha]\nAlpha=D\n";
        QTest::newRow("lowest address, no letter")
            << 0 << 0 << 2 << "1" << -1 << "Открыт COM1  2400 бод Even Адрес 1"
            << "[Port]\nName=COM1\nBaud=2400\nParity=2\n\n[Station]\nAddress=1\n";
        QTest::newRow("highest address")
            << 5 << 7 << 1 << "247" << 25 << "Открыт COM6  115200 бод Odd Адрес 247"
            << "[Port]\nName=COM6\nBaud=115200\nParity=1\n\n[Station]\nAddress=247\n\n"
               "[Alpha]\nAlpha=Z\n";
        QTest::newRow("hexadecimal address")
            << 1 << 2 << 1 << "$10" << 0 << "Открыт COM2  9600 бод Odd Адрес 16"
            << "[Port]\nName=COM2\nBaud=9600\nParity=1\n\n[Station]\nAddress=16\n\n"
               "[Alpha]\nAlpha=A\n";
    }
    void okOpensTakesOverAndSaves() {
        QFETCH(int, port);
        QFETCH(int, speed);
        QFETCH(int, parity);
        QFETCH(QString, address);
        QFETCH(int, letter);
        RecorderUi rec;
        TParCOM dlg(nullptr);
        ctl(dlg).cbPort->setCurrentIndex(port);
        ctl(dlg).cbSpeed->setCurrentIndex(speed);
        ctl(dlg).cbParity->setCurrentIndex(parity);
        ctl(dlg).edAddress->setText(address);
        ctl(dlg).cbSerNumAlpha->setCurrentIndex(letter);
        ctl(dlg).btOk->click();

        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join('|')));
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(script.inits.size(), 1);
        QCOMPARE(script.inits[0].port, ctl(dlg).cbPort->currentText());
        QCOMPARE(script.inits[0].baud, ctl(dlg).cbSpeed->currentText().toInt());
        QCOMPARE(script.inits[0].parity, uint8_t(parity));
        QCOMPARE(PortName, ctl(dlg).cbPort->currentText());
        QCOMPARE(BaudRate, ctl(dlg).cbSpeed->currentText().toInt());
        QCOMPARE(ParityIndex, uint8_t(parity));
        QCOMPARE(SerialLetter, letter < 0 ? QStringLiteral("C") : QString(QChar('A' + letter)));
        QTEST(statusLine, "status");
        QTEST(ReadFile(SettingsFilePath()), "file");
    }

    // An existing file keeps its other lines; without a letter its "Alpha" stays.
    void okUpdatesExistingFile() {
        WriteFile(SettingsFilePath(),
                  "; kept\n[Alpha]\nAlpha=Q\n\n[Port]\nName=COM5\nBaud=19200\nParity=2\nX=1\n");
        RecorderUi rec;
        TParCOM dlg(nullptr);
        ctl(dlg).cbSerNumAlpha->setCurrentIndex(-1);
        ctl(dlg).edAddress->setText(QStringLiteral("9"));
        ctl(dlg).btOk->click();
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(SerialLetter, QStringLiteral("C"));
        QCOMPARE(ReadFile(SettingsFilePath()),
                 QStringLiteral("; kept\n[Alpha]\nAlpha=Q\n\n[Port]\nName=COM2\nBaud=9600\n"
                                "Parity=1\nX=1\n\n[Station]\nAddress=9\n"));
    }

    // "OK" refused: the dialog stays, link settings, status line and file unchanged.
    void okRefused_data() {
        QTest::addColumn<QString>("storedPort");
        QTest::addColumn<int>("storedBaud");
        QTest::addColumn<int>("storedParity");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("failingPort");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("opened"); // the init_comm call made, if any
        const QString conv = QStringLiteral("'%1' is not a valid integer value.");
        QTest::newRow("stored speed 1200") << "COM2" << 1200 << 1 << "7"
                                           << "" << QStringList{conv.arg("")} << "";
        QTest::newRow("stored parity 5") << "COM2" << 9600 << 5 << "7"
                                         << "" << QStringList{"Выберите паритет!"} << "";
        QTest::newRow("port does not open")
            << "COM2" << 9600 << 1 << "7"
            << "COM2" << QStringList{"Невозможно открыть COM2"} << "COM2 9600 1";
        QTest::newRow("stored com1, empty name refused")
            << "com1" << 9600 << 1 << "7"
            << "" << QStringList{"Невозможно открыть "} << " 9600 1";
        // The address is checked before the port is opened: nothing is opened.
        QTest::newRow("address not a number") << "COM2" << 9600 << 1 << "7x"
                                              << "" << QStringList{conv.arg("7x")} << "";
        QTest::newRow("empty address") << "COM2" << 9600 << 1 << ""
                                       << "" << QStringList{conv.arg("")} << "";
        for (const char* a : {"0", "248", "256", "300", "-1"})
            QTest::newRow(qPrintable(QStringLiteral("address %1").arg(a)))
                << "COM2" << 9600 << 1 << a << "" << QStringList{BadAddress} << "";
    }
    void okRefused() {
        QFETCH(QString, storedPort);
        QFETCH(int, storedBaud);
        QFETCH(int, storedParity);
        QFETCH(QString, address);
        QFETCH(QString, failingPort);
        QFETCH(QString, opened);
        StoreLink(storedPort, storedBaud, uint8_t(storedParity), 7, QStringLiteral("C"));
        script.initResult = 0;
        script.failingPort = failingPort.isEmpty() ? QString() : failingPort;
        if (storedPort == QStringLiteral("com1"))
            script.failingPort = QStringLiteral("");
        RecorderUi rec;
        TParCOM dlg(nullptr);
        dlg.show();
        ctl(dlg).edAddress->setText(address);
        ctl(dlg).btOk->click();

        QTEST(rec.texts(), "boxes");
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), 0);
        QStringList calls;
        for (const auto& c : script.inits)
            calls << QStringLiteral("%1 %2 %3").arg(c.port).arg(c.baud).arg(c.parity);
        QCOMPARE(calls.join('|'), opened);
        QCOMPARE(PortName, storedPort);
        QCOMPARE(BaudRate, storedBaud);
        QCOMPARE(ParityIndex, uint8_t(storedParity));
        QCOMPARE(ModuleAddress, uint8_t(7));
        QCOMPARE(SerialLetter, QStringLiteral("C"));
        if (!opened.isEmpty())
            QVERIFY(statusLine.endsWith(QStringLiteral("Адрес 7")));
        else
            QVERIFY(statusLine.isEmpty());
        QVERIFY(!QFile::exists(SettingsFilePath()));
    }

    void defaultsOnlyFillTheControls() {
        RecorderUi rec;
        {
            TParCOM dlg(nullptr);
            ctl(dlg).cbSerNumAlpha->setCurrentIndex(4);
            ctl(dlg).edNumber->setText(QStringLiteral("33"));
            ctl(dlg).Button1->click();
            QCOMPARE(ctl(dlg).cbPort->currentText(), QStringLiteral("COM1"));
            QCOMPARE(ctl(dlg).cbSpeed->currentText(), QStringLiteral("19200"));
            QCOMPARE(ctl(dlg).cbParity->currentText(), QStringLiteral("Even"));
            QCOMPARE(ctl(dlg).edAddress->text(), QStringLiteral("1"));
            QCOMPARE(ctl(dlg).cbSerNumAlpha->currentIndex(), 4);
            QCOMPARE(ctl(dlg).edNumber->text(), QStringLiteral("33"));
            ctl(dlg).btCancel->click();
        }
        QVERIFY(script.inits.isEmpty());
        verifyLinkUnchanged();
        QVERIFY(!QFile::exists(SettingsFilePath()));

        TParCOM dlg(nullptr);
        ctl(dlg).Button1->click();
        ctl(dlg).btOk->click();
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(statusLine, QStringLiteral("Открыт COM1  19200 бод Even Адрес 1"));
        QCOMPARE(ReadFile(SettingsFilePath()),
                 QStringLiteral("[Port]\nName=COM1\nBaud=19200\nParity=2\n\n[Station]\nAddress=1\n"
                                "\n[Alpha]\nAlpha=C\n"));
    }

    // ---- The automatic search

    void searchInputRefused_data() {
        QTest::addColumn<int>("letter");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("box");
        QTest::newRow("no letter") << -1 << "42" << EnterNumber;
        QTest::newRow("no number") << 0 << "" << EnterNumber;
        QTest::newRow("not a number") << 0 << "12a"
                                      << "'12a' is not a valid integer value.";
        QTest::newRow("number 2048") << 0 << "2048" << BadNumber;
        QTest::newRow("number 3000") << 0 << "3000" << BadNumber;
        QTest::newRow("number -1") << 1 << "-1" << BadNumber;
    }
    void searchInputRefused() {
        QFETCH(int, letter);
        QFETCH(QString, number);
        QFETCH(QString, box);
        RecorderUi rec;
        TParCOM dlg(nullptr);
        const int windows = TfMess::created();
        searchFor(dlg, letter, number);
        QCOMPARE(rec.texts(), QStringList{box});
        QCOMPARE(rec.messages[0].caption, seam::AppTitle);
        QCOMPARE(TfMess::created(), windows); // no message window at all
        QVERIFY(script.enums.isEmpty());
        QVERIFY(script.inits.isEmpty());
    }

    // An address that "OK" would refuse is refused before the window shows.
    void searchAddressRefused_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("box");
        QTest::newRow("not a number") << "1 "
                                      << "'1 ' is not a valid integer value.";
        QTest::newRow("0") << "0" << BadAddress;
        QTest::newRow("248") << "248" << BadAddress;
        QTest::newRow("300") << "300" << BadAddress;
        QTest::newRow("-1") << "-1" << BadAddress;
    }
    void searchAddressRefused() {
        QFETCH(QString, address);
        QFETCH(QString, box);
        RecorderUi rec;
        TParCOM dlg(nullptr);
        ctl(dlg).edAddress->setText(address);
        const int windows = TfMess::created();
        searchFor(dlg, 0, QStringLiteral("42"));
        QCOMPARE(rec.texts(), QStringList{box});
        QCOMPARE(rec.messages[0].caption, seam::AppTitle);
        QCOMPARE(TfMess::created(), windows);
        QVERIFY(script.enums.isEmpty());
        QVERIFY(script.inits.isEmpty());
    }

    void searchCall_data() {
        QTest::addColumn<int>("letter");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("serial");
        QTest::newRow("A0") << 0 << "0"
                            << "1" << 2048;
        QTest::newRow("B952") << 1 << "952"
                              << "7" << 5048;
        QTest::newRow("Z2047, last address") << 25 << "2047"
                                             << "247" << 55295;
        QTest::newRow("hexadecimal") << 2 << "$7FF"
                                     << "$F7" << 8191;
    }
    void searchCall() {
        QFETCH(int, letter);
        QFETCH(QString, number);
        QFETCH(QString, address);
        script.enumResult = 99;
        RecorderUi rec;
        TParCOM dlg(nullptr);
        dlg.show();
        ctl(dlg).cbPort->setCurrentIndex(3); // differs from PortName
        ctl(dlg).edAddress->setText(address);
        searchFor(dlg, letter, number);
        QCOMPARE(script.enums.size(), 1);
        const EnumCall& call = script.enums[0];
        QCOMPARE(call.port, QStringLiteral("COM4"));
        QCOMPARE(call.typeCode, 17);
        QTEST(int(call.serial), "serial");
        QCOMPARE(call.address,
                 address.startsWith('$') ? address.mid(1).toInt(nullptr, 16) : address.toInt());
        QCOMPARE(call.messAlive, 1);
        QVERIFY(call.messVisible);
        QVERIFY2(call.messInk > 50, "the message window is on screen, but blank");
        QCOMPARE(TfMess::alive(), 0);
    }

    // Getting the window on screen lets no timer (the main window's poll) run.
    void searchRunsNoTimer() {
        script.enumResult = 99;
        RecorderUi rec;
        TParCOM dlg(nullptr);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        timerTicks = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [] { ++timerTicks; });
        poll.start(0);
        // A tick already on its way, as the Windows event loop hands it over
        // whatever the flags of the call that processes events say.
        QCoreApplication::postEvent(&poll, new QTimerEvent(poll.timerId()));
        searchFor(dlg, 0, QStringLiteral("1"));
        QCOMPARE(script.enums.size(), 1);
        QCOMPARE(script.enums[0].timerTicks, 0);
        QVERIFY(script.enums[0].messVisible);
        QTRY_VERIFY(timerTicks > 0); // and it still runs afterwards
    }

    void searchFound_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("speedIndex");
        QTest::addColumn<int>("parityIndex");
        QTest::newRow("19200 even") << 19200 << 2 << 3 << 2;
        QTest::newRow("2400 none") << 2400 << 0 << 0 << 0;
        QTest::newRow("speed not in list") << 1200 << 1 << 5 << 1;
        QTest::newRow("parity out of range") << 57600 << 3 << 6 << -1;
    }
    void searchFound() {
        QFETCH(int, baud);
        QFETCH(int, parity);
        script.enumResult = 0;
        script.foundBaud = baud;
        script.foundParity = uint8_t(parity);
        RecorderUi rec;
        rec.onMessage = [this](const ShownMessage&) { messAliveAtBox << TfMess::alive(); };
        TParCOM dlg(nullptr);
        dlg.show();
        ctl(dlg).cbPort->setCurrentIndex(4);
        ctl(dlg).cbSpeed->setCurrentIndex(5);
        ctl(dlg).edAddress->setText(QStringLiteral("3"));
        searchFor(dlg, 7, QStringLiteral("100"));

        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].text, Found);
        QVERIFY(rec.messages[0].caption.isEmpty());
        QCOMPARE(rec.messages[0].icon, seam::Icon::Warning);
        QCOMPARE(rec.messages[0].owner, &dlg);
        QCOMPARE(messAliveAtBox, QList<int>{0});
        QTEST(ctl(dlg).cbSpeed->currentIndex(), "speedIndex");
        QTEST(ctl(dlg).cbParity->currentIndex(), "parityIndex");
        // The link reopens on the stored port with what was found, nothing else changes.
        QCOMPARE(script.inits.size(), 1);
        QCOMPARE(script.inits[0].port, QStringLiteral("COM2"));
        QCOMPARE(script.inits[0].baud, baud);
        QCOMPARE(script.inits[0].parity, uint8_t(parity));
        QCOMPARE(script.inits[0].messAlive, 0);
        QCOMPARE(ctl(dlg).cbPort->currentIndex(), 4);
        QCOMPARE(ctl(dlg).edAddress->text(), QStringLiteral("3"));
        QCOMPARE(ctl(dlg).cbSerNumAlpha->currentIndex(), 7);
        QCOMPARE(ctl(dlg).edNumber->text(), QStringLiteral("100"));
        QVERIFY(dlg.isVisible());
        QCOMPARE(statusLine, QStringLiteral("Открыт COM2  9600 бод Odd Адрес 7"));
        verifyLinkUnchanged();
        QVERIFY(!QFile::exists(SettingsFilePath()));
    }

    void searchFailed_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("reopens");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("not found") << 14 << true << QStringList{NotFound};
        QTest::newRow("crc") << 17 << true << QStringList{CrcError};
        QTest::newRow("other") << 24 << true << QStringList{};
        QTest::newRow("negative") << -3 << true << QStringList{};
        QTest::newRow("not found, reopen fails")
            << 14 << false << QStringList{"Невозможно открыть COM2", NotFound};
        QTest::newRow("other, reopen fails")
            << 25 << false << QStringList{"Невозможно открыть COM2"};
    }
    void searchFailed() {
        QFETCH(int, result);
        QFETCH(bool, reopens);
        script.enumResult = result;
        script.initResult = reopens ? 0 : COMM_OPEN_FAILED;
        RecorderUi rec;
        rec.onMessage = [this](const ShownMessage&) { messAliveAtBox << TfMess::alive(); };
        TParCOM dlg(nullptr);
        ctl(dlg).cbPort->setCurrentIndex(0);
        searchFor(dlg, 2, QStringLiteral("5"));

        QTEST(rec.texts(), "boxes");
        QCOMPARE(messAliveAtBox, QList<int>(rec.messages.size(), 0));
        QCOMPARE(script.enums.size(), 1);
        QCOMPARE(script.inits.size(), 1);
        QCOMPARE(script.inits[0].port, QStringLiteral("COM2"));
        QCOMPARE(script.inits[0].baud, 9600);
        QCOMPARE(script.inits[0].parity, uint8_t(1));
        QCOMPARE(script.inits[0].messAlive, 0);
        QCOMPARE(TfMess::alive(), 0);
        // The lists keep what they showed.
        QCOMPARE(ctl(dlg).cbSpeed->currentIndex(), 2);
        QCOMPARE(ctl(dlg).cbParity->currentIndex(), 1);
        QCOMPARE(statusLine, (reopens ? QStringLiteral("Открыт ") : QStringLiteral("Закрыт ")) +
                                 QStringLiteral("COM2  9600 бод Odd Адрес 7"));
        verifyLinkUnchanged();
    }

    // What the search found is applied by "OK", or dropped by "Отмена".
    void searchThenOkOrCancel() {
        script.enumResult = 0;
        script.foundBaud = 57600;
        script.foundParity = 0;
        RecorderUi rec;
        {
            TParCOM dlg(nullptr);
            searchFor(dlg, 0, QStringLiteral("42"));
            ctl(dlg).btCancel->click();
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
        QCOMPARE(script.inits.last().baud, 9600); // the link in force is back
        verifyLinkUnchanged();
        QVERIFY(!QFile::exists(SettingsFilePath()));

        TParCOM dlg(nullptr);
        ctl(dlg).cbPort->setCurrentIndex(2);
        searchFor(dlg, 0, QStringLiteral("42"));
        ctl(dlg).btOk->click();
        QCOMPARE(rec.texts(), QStringList({Found, Found}));
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(script.inits.last().port, QStringLiteral("COM3"));
        QCOMPARE(script.inits.last().baud, 57600);
        QCOMPARE(script.inits.last().parity, uint8_t(0));
        QCOMPARE(statusLine, QStringLiteral("Открыт COM3  57600 бод None Адрес 7"));
        QCOMPARE(ReadFile(SettingsFilePath()),
                 QStringLiteral("[Port]\nName=COM3\nBaud=57600\nParity=0\n\n[Station]\nAddress=7\n"
                                "\n[Alpha]\nAlpha=A\n"));
    }

    // ---- The message window

    void messageWindow() {
        TParCOM dlg(nullptr);
        dlg.move(200, 150);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        {
            TfMess mess(&dlg);
            QCOMPARE(TfMess::alive(), 1);
            QVERIFY(mess.isVisible());
            QVERIFY(!dlg.isHidden());
            QVERIFY(mess.isWindow());
            QCOMPARE(mess.parentWidget(), &dlg);
            QCOMPARE(mess.windowType(), Qt::Tool);
            QVERIFY(
                !(mess.windowFlags() & (Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                        Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint)));
            QVERIFY(mess.windowTitle().isEmpty());
            QCOMPARE(mess.size(), QSize(188, 49));
            const QPoint centre = dlg.mapToGlobal(dlg.rect().center());
            QVERIFY((mess.geometry().center() - centre).manhattanLength() <= 1);
            QCOMPARE(Controls::find<QLabel>(mess, "Label1")->text(),
                     QStringLiteral("Идёт подбор параметров связи!"));
            QCOMPARE(Controls::find<QLabel>(mess, "Label2")->text(),
                     QStringLiteral("Это может занять порядка минуты"));
            QVERIFY(Controls::find<QLabel>(mess, "Label1")->geometry().bottom() <
                    Controls::find<QLabel>(mess, "Label2")->geometry().top());
            for (QLabel* l :
                 {Controls::find<QLabel>(mess, "Label1"), Controls::find<QLabel>(mess, "Label2")}) {
                QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->width(),
                         qPrintable(l->text()));
                QVERIFY(l->geometry().left() >= 0 && l->geometry().right() < 188);
                QVERIFY(l->fontMetrics().height() <= l->height());
            }
            mess.paintNow();
        }
        QCOMPARE(TfMess::alive(), 0);
    }
};

QTEST_MAIN(TestCompar)
#include "test_compar.moc"
