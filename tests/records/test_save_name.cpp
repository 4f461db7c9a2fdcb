// The names the file dialogs propose for a save: what is saved, when, and for
// the module's configuration which module.
#include <QDir>
#include <QStandardPaths>
#include <QtTest>

#include "SaveName.h"

Q_DECLARE_METATYPE(Saved)
Q_DECLARE_METATYPE(config::Value)

namespace {

const QDateTime Morning(QDate(2026, 3, 5), QTime(8, 7, 9, 450));
const QDateTime LastSecond(QDate(2026, 12, 31), QTime(23, 59, 59, 999));

} // namespace

class TestSaveName : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void names_data() {
        QTest::addColumn<Saved>("what");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<config::Value>("serial");
        QTest::addColumn<QString>("name");
        const config::Value none;
        const config::Value a42 = 0x082A;
        QTest::newRow("trend") << Saved::Trend << Morning << none
                               << "QS730_trend_20260305_080709.png";
        QTest::newRow("trend, the module's number not in it")
            << Saved::Trend << Morning << a42 << "QS730_trend_20260305_080709.png";
        QTest::newRow("modules on the line: to the minute")
            << Saved::ModulesOnLine << LastSecond << none << "Модули_на_линии_20261231_2359.csv";
        QTest::newRow("frames") << Saved::Frames << LastSecond << none
                                << "Обмен_20261231_235959.csv";
        QTest::newRow("measurement log")
            << Saved::MeasureLog << Morning << none << "QS730_20260305_080709.csv";
        QTest::newRow("configuration: the day, the module's number")
            << Saved::Configuration << Morning << a42 << "Конфигурация_A0042_20260305.json";
        QTest::newRow("configuration: number without a letter")
            << Saved::Configuration << LastSecond << config::Value(0x002A)
            << "Конфигурация_0042_20261231.json";
        QTest::newRow("configuration of a module that told no number")
            << Saved::Configuration << Morning << none << "Конфигурация_20260305.json";
        QTest::newRow("write report: to the minute, the module's number")
            << Saved::ConfigReport << LastSecond << a42
            << "Запись_конфигурации_A0042_20261231_2359.pdf";
        QTest::newRow("write report of a module that told no number")
            << Saved::ConfigReport << Morning << none << "Запись_конфигурации_20260305_0807.pdf";
    }
    void names() {
        QFETCH(Saved, what);
        QFETCH(QDateTime, when);
        QFETCH(config::Value, serial);
        QFETCH(QString, name);
        QCOMPARE(SuggestedFileName(what, when, serial), name);
        // The path is that name in the folder the save starts in.
        const QString path = SuggestedSavePath(what, when, serial);
        QCOMPARE(QFileInfo(path).fileName(), name);
        QVERIFY(QDir::isAbsolutePath(path));
    }

    // The picture starts among the pictures, the rest among the documents.
    void folders_data() {
        QTest::addColumn<Saved>("what");
        QTest::addColumn<bool>("pictures");
        QTest::newRow("trend") << Saved::Trend << true;
        QTest::newRow("modules on the line") << Saved::ModulesOnLine << false;
        QTest::newRow("frames") << Saved::Frames << false;
        QTest::newRow("measurement log") << Saved::MeasureLog << false;
    }
    void folders() {
        QFETCH(Saved, what);
        QFETCH(bool, pictures);
        const auto location =
            pictures ? QStandardPaths::PicturesLocation : QStandardPaths::DocumentsLocation;
        QCOMPARE(QFileInfo(SuggestedSavePath(what, Morning)).absolutePath(),
                 QDir(QStandardPaths::writableLocation(location)).absolutePath());
    }
};

QTEST_GUILESS_MAIN(TestSaveName)
#include "test_save_name.moc"
