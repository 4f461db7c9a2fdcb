// The window of the modules on the line through the real communication
// library against a simulated line: the list, its copy and file, "Работать
// с модулем" as the port settings' OK takes a link over, "Стоп", and closing
// the window in the middle of a scan.
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "BusScanWindow.h"
#include "Controls.h"
#include "Func.h"
#include "LinkSettings.h"
#include "PortMap.h"
#include "RecorderUi.h"
#include "SaveAs.h"
#include "SimBus.h"

namespace {

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

} // namespace

class TestBusScanWindowSim : public QObject {
    Q_OBJECT

    QString statusLine;

    void scanToTheEnd(TBusScan& window) {
        Control<QPushButton>(window, "btStart")->click();
        QVERIFY(window.scan()->running());
        QTRY_VERIFY_WITH_TIMEOUT(!window.scan()->running(), 60000);
    }
    // Selects the row of `address`; whether "Работать с модулем" may be pressed.
    bool select(TBusScan& window, int address) {
        for (size_t i = 0; i < window.modules().size(); ++i)
            if (window.modules()[i].address == address)
                Control<QTableWidget>(window, "tbModules")->selectRow(static_cast<int>(i));
        return Control<QPushButton>(window, "btWork")->isEnabled();
    }

  private slots:
    void init() {
        QFile::remove(SettingsFilePath());
        LinkStateSink = [this](const QString& text) { statusLine = text; };
    }
    void cleanup() {
        QFile::remove(SettingsFilePath());
        LinkStateSink = nullptr;
    }

    void listCopyFileAndWorkWithAModule() {
        RecorderUi rec;
        SimBus bus({LineModule(1, "A0042"), LineModule(5, "A0043"), LineModule(5, "A0044"),
                    LineModule(12, "C0007", 19200, 2, 12), LineModule(30, "A0100")});
        const QByteArray portMap = Bytes(PortMapPath());
        TBusScan window;
        window.show();
        QVERIFY(!Control<QLabel>(window, "lbNote")->isVisible());
        QVERIFY(!Control<QPushButton>(window, "btSave")->isEnabled()); // nothing to save yet
        scanToTheEnd(window);
        QCOMPARE(window.modules().size(), size_t(4));
        QCOMPARE(Control<QTableWidget>(window, "tbModules")->rowCount(), 4);
        QCOMPARE(Control<QLabel>(window, "lbProgress")->text(),
                 QStringLiteral("Поиск завершён: найдено модулей: 3, адресов с искажёнными "
                                "ответами: 1"));

        Control<QPushButton>(window, "btCopy")->click();
        const QString copied = QGuiApplication::clipboard()->text();
        QVERIFY(copied.startsWith(QStringLiteral("Модули на линии, порт %1, ").arg(bus.port())));
        QVERIFY(copied.contains(QStringLiteral("\n30\t19200\tEven\tA0100\tQS-730 (17)\t")));
        QTemporaryDir dir;
        AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
            return dir.filePath(QStringLiteral("line"));
        };
        Control<QPushButton>(window, "btSave")->click();
        QCOMPARE(Bytes(dir.filePath(QStringLiteral("line.csv"))), bus::FoundCsv(window.modules()));

        // Only a module of this type, known by its registration number.
        QVERIFY(!select(window, 5));
        QVERIFY(!select(window, 12));
        QVERIFY(select(window, 30));

        // Another module answers there now: nothing is taken over.
        bus.line().module(4).setReg(reg::SerialNumber, reg::EncodeSerial(0, 101));
        Control<QPushButton>(window, "btWork")->click();
        QCOMPARE(rec.texts(),
                 QStringList(QStringLiteral("На параметрах связи 19200 бод, Even, адрес 30 "
                                            "отвечает другой модуль (A0101), а не A0100.\n"
                                            "Параметры связи программы не изменены.")));
        QVERIFY(window.isVisible());
        QCOMPARE(ModuleAddress, uint8_t(1));
        QVERIFY(!QFile::exists(SettingsFilePath()));

        // The module itself, Enter on its row: the tool's link, the status
        // line and the file as "OK" in the port settings leaves them; the
        // port map untouched.
        bus.line().module(4).setReg(reg::SerialNumber, reg::EncodeSerial(0, 100));
        rec.clear();
        QTest::keyClick(Control<QTableWidget>(window, "tbModules"), Qt::Key_Return);
        QCOMPARE(rec.texts(), QStringList());
        QCOMPARE(window.result(), int(QDialog::Accepted));
        QCOMPARE(statusLine, QStringLiteral("Открыт %1  19200 бод Even Адрес 30").arg(bus.port()));
        QCOMPARE(SerialAtTheToolsLink(), reg::EncodeSerial(0, 100));
        const QByteArray saved = Bytes(SettingsFilePath());
        QFile::remove(SettingsFilePath());
        TakeOverLinkChoice({bus.port(), 19200, 2, 30, std::nullopt, std::nullopt});
        QCOMPARE(saved, Bytes(SettingsFilePath()));
        QCOMPARE(Bytes(PortMapPath()), portMap);
        QVERIFY(!bus.anyWrite());
    }

    void stopAndCloseInTheMiddle() {
        RecorderUi rec;
        SimBus bus({LineModule(1, "A0042"), LineModule(3, "A0003", 9600, 1)});
        TBusScan window;
        window.show();
        auto* start = Control<QPushButton>(window, "btStart");
        start->click();
        QTRY_VERIFY(window.scan()->address() > 5);
        Control<QPushButton>(window, "btStop")->click();
        QVERIFY(!window.scan()->running());
        QVERIFY(start->isEnabled());
        QVERIFY(Control<QLabel>(window, "lbProgress")
                    ->text()
                    .startsWith(QStringLiteral("Поиск остановлен: найдено модулей: 1")));

        // "Все скорости", closed once the port runs at another setting.
        Control<QCheckBox>(window, "chbAllSpeeds")->setChecked(true);
        start->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.scan()->settingIndex() >= 1, 60000);
        statusLine.clear();
        window.reject();
        QVERIFY(!window.scan()->running());
        QCOMPARE(statusLine, QStringLiteral("Открыт %1  19200 бод Even Адрес 1").arg(bus.port()));
        QCOMPARE(SerialAtTheToolsLink(), reg::EncodeSerial(0, 42));
        QCOMPARE(rec.texts(), QStringList());
    }
};

QTEST_MAIN(TestBusScanWindowSim)
#include "test_bus_scan_window_sim.moc"
