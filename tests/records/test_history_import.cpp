// The records on disk into the history: the protocols' CSVs as the tool
// writes them and its configuration files go in once each, whatever else
// lies in the folder; a second import adds nothing.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include "Configuration.h"
#include "HistoryImport.h"
#include "HistoryStore.h"
#include "HistoryViews.h"
#include "Protocol.h"
#include "Registers.h"

using namespace History;

namespace {
void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

ProtocolData Protocol(int year, bool calibration) {
    ProtocolData d;
    d.made = QDateTime(QDate(year, 4, 2), QTime(9, 30));
    d.module.serial = 0x082A;
    d.module.type = 17;
    d.people.technician = QStringLiteral("Петров; П. П.");
    CheckResult found;
    found.module = d.module;
    found.tolerancePercent = 0.25;
    found.points = {EvaluatePoint({Range::Current, 2000}, {2010, 2012}, 0.25),
                    EvaluatePoint({Range::Voltage, 10000}, {9990}, 0.25)};
    d.asFound = found;
    if (calibration) {
        CalibrationResult c;
        c.complete = true;
        c.dateWritten = reg::PackDate(2, 4, year - 2000);
        d.adjustment = c;
        CheckResult left = found;
        left.points = {EvaluatePoint({Range::Current, 2000}, {2000}, 0.25)};
        d.asLeft = left;
    }
    return d;
}
} // namespace

class TestHistoryImport : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

  private slots:
    void protocolCsvAsTheToolWritesIt_data() {
        QTest::addColumn<bool>("calibration");
        QTest::newRow("calibration") << true;
        QTest::newRow("check") << false;
    }
    void protocolCsvAsTheToolWritesIt() {
        QFETCH(bool, calibration);
        const ProtocolData d = Protocol(2025, calibration);
        const QByteArray csv = ProtocolCsv(d);
        const auto e = ProtocolCsvEntry(csv, QStringLiteral("/p.csv"));
        QVERIFY(e);
        QCOMPARE(e->kind, calibration ? Kind::Calibration : Kind::Check);
        QCOMPARE(e->registration, QStringLiteral("A0042"));
        QCOMPARE(e->moduleType, 17);
        QCOMPARE(e->technician, QStringLiteral("Петров; П. П."));
        QCOMPARE(e->made, d.made.toUTC());
        QCOMPARE(e->details.value(QStringLiteral("number")).toString(), d.number());
        QCOMPARE(e->fileSha256, Sha256Hex(csv));
        const auto drift = DriftOf({*e});
        QCOMPARE(drift.size(), 2);
        QCOMPARE(drift[0].points[0].errorPercent, 0.055); // 11 uA of 20 mA
        QCOMPARE(drift[0].tolerancePercent, 0.25);
        QCOMPARE(drift[1].points[0].errorPercent, -0.1);
        QCOMPARE(e->details.value(QStringLiteral("asLeft")).toArray().size(), calibration ? 1 : 0);
    }

    void notProtocols_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("measurement log") << QByteArray("\xEF\xBB\xBFВремя;Значение\r\n1;2\r\n");
        QTest::newRow("no number")
            << QByteArray("Протокол калибровки;X\r\nДата;01.01.2026 10:00\r\n");
        QTest::newRow("no date") << QByteArray(
            "Протокол проверки;X\r\nРегистрационный номер;A1\r\n");
        QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfe;;\"\"\"", 9);
    }
    void notProtocols() {
        QFETCH(QByteArray, bytes);
        QVERIFY(!ProtocolCsvEntry(bytes, QStringLiteral("/x.csv")));
        QVERIFY(!ConfigFileEntry(bytes, QStringLiteral("/x.json")));
    }

    void folderOnceEach() {
        const QString folder = dir_.filePath(QStringLiteral("records"));
        for (int year : {2021, 2022, 2023})
            Write(folder + QStringLiteral("/%1/Протокол.csv").arg(year),
                  ProtocolCsv(Protocol(year, true)));
        config::Configuration c;
        c[config::Param::Serial] = 0x082A;
        c[config::Param::Type] = 17;
        c[config::Param::Mode] = 1;
        c.read = QDateTime(QDate(2024, 5, 6), QTime(7, 0));
        c.program = QStringLiteral("QS730_View");
        Write(folder + QStringLiteral("/Конфигурация.json"), config::ConfigurationJson(c));
        Write(folder + QStringLiteral("/Журнал.csv"), "Время;Значение\r\n");
        Write(folder + QStringLiteral("/other.json"), "{\"a\": 1}");
        Write(folder + QStringLiteral("/notes.txt"), "не файл истории");

        Target t;
        t.file = dir_.filePath(QStringLiteral("import.sqlite"));
        Store store(t);
        const ImportResult first = ImportFolder(store, folder);
        QCOMPARE(first.added, 4);
        QCOMPARE(first.already, 0);
        QCOMPARE(first.other, 2);
        QVERIFY(first.failed.isEmpty());
        const ImportResult second = ImportFolder(store, folder);
        QCOMPARE(second.added, 0);
        QCOMPARE(second.already, 4);
        QCOMPARE(store.count(), 4);
        const auto history = store.moduleHistory(QStringLiteral("A0042"));
        QCOMPARE(history.size(), 4);
        QCOMPARE(history.last().kind, Kind::ConfigSaved);
        const auto row = store.module(QStringLiteral("A0042"), QDate(2024, 1, 1));
        QVERIFY(row);
        QCOMPARE(row->lastCalibration, QDate(2023, 4, 2));
        QCOMPARE(DriftOf(history)[0].points.size(), 3);
        QCOMPARE(ImportSummary(second),
                 QStringLiteral("Добавлено записей: 0, уже были в истории: 4, других файлов: 2."));
    }
};

QTEST_GUILESS_MAIN(TestHistoryImport)
#include "test_history_import.moc"
