// What the history's windows are made of, without widgets: the entries made
// from a protocol, a check and a configuration carry what the history needs;
// the fleet found by number and state and exported as CSV; the timeline
// marks what was corrected; the drift counts each calibration once.
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

#include "Configuration.h"
#include "HistoryCases.h"
#include "HistoryRecords.h"
#include "HistoryViews.h"
#include "ModuleFlags.h"
#include "Registers.h"

using namespace History;
Q_DECLARE_METATYPE(History::Entry)

namespace {
PointResult Point(Range r, int nominal, double errorPercent) {
    PointResult p;
    p.point = {r, nominal};
    p.errorPercent = errorPercent;
    p.error = errorPercent * UpperLimit(r) / 100;
    p.pass = std::fabs(errorPercent) <= 0.25;
    return p;
}

ProtocolData Calibrated(const QDateTime& when, double foundError) {
    ProtocolData d;
    d.made = when;
    d.module.serial = 0x082A;
    d.module.type = 17;
    d.module.calibrationDate = reg::PackDate(1, 2, 24);
    d.people.technician = QStringLiteral("Петров П. П.");
    d.people.reference = QStringLiteral("Калибратор");
    CheckResult found;
    found.module = d.module;
    found.tolerancePercent = 0.25;
    found.points = {Point(Range::Current, 2000, foundError), Point(Range::Voltage, 5500, -0.1)};
    d.asFound = found;
    CalibrationResult c;
    c.complete = true;
    c.asRead = {1, 2, 3, 4};
    c.written = {5, 6, 7, 8};
    c.dateWritten =
        reg::PackDate(when.date().day(), when.date().month(), when.date().year() - 2000);
    d.adjustment = c;
    return d;
}

// The details' lines, each without its indent, up to a configuration's file
// content (which is shown as the file holds it).
QStringList DetailLines(const Entry& e) {
    QStringList lines;
    for (const QString& line : DetailsText(e).split(QLatin1Char('\n'))) {
        if (line == QStringLiteral("Содержимое файла:"))
            break;
        lines << line.trimmed();
    }
    return lines;
}

ModuleRow Row(const QString& reg, DueState state) {
    ModuleRow r;
    r.registration = reg;
    r.state = state;
    return r;
}
} // namespace

class TestHistoryViews : public QObject {
    Q_OBJECT

  private slots:
    void protocolEntryCarriesWhatTheHistoryNeeds() {
        const ProtocolData d = Calibrated(QDateTime(QDate(2026, 2, 3), QTime(10, 0)), 0.12);
        const Entry e = ProtocolEntry(d);
        QCOMPARE(e.kind, Kind::Calibration);
        QCOMPARE(e.registration, QStringLiteral("A0042"));
        QCOMPARE(e.moduleType, 17);
        QCOMPARE(e.technician, QStringLiteral("Петров П. П."));
        QCOMPARE(e.details.value(QStringLiteral("number")).toString(), d.number());
        QCOMPARE(e.details.value(QStringLiteral("before")).toArray().size(), 4);
        QCOMPARE(e.details.value(QStringLiteral("after")).toArray().at(3).toInt(), 8);
        QCOMPARE(e.details.value(QStringLiteral("asFound")).toArray().size(), 2);
        QVERIFY(e.fileName.isEmpty());

        const QList<RecordFile> files = {{QStringLiteral("/tmp/p.pdf"), "PDF"},
                                         {QStringLiteral("/tmp/p.csv"), "CSV"}};
        const Entry saved = ProtocolEntry(d, files);
        QCOMPARE(saved.fileSha256, Sha256Hex("PDF"));
        QCOMPARE(saved.details.value(QStringLiteral("files")).toArray().size(), 2);
        // The same save again is the same entry; another calibration is not.
        QCOMPARE(ProtocolEntry(d, files).uid, saved.uid);
        QVERIFY(ProtocolEntry(Calibrated(d.made.addSecs(60), 0.1), files).uid != saved.uid);
        QVERIFY(ProtocolEntry(d).uid != e.uid);
    }

    void checkAloneIsACheck() {
        ProtocolData d = Calibrated(QDateTime(QDate(2026, 2, 3), QTime(10, 0)), 0.12);
        d.adjustment.reset();
        QCOMPARE(ProtocolEntry(d).kind, Kind::Check);
        const Entry c = CheckEntry(*d.asFound, QString());
        QCOMPARE(c.kind, Kind::Check);
        QCOMPARE(c.details.value(QStringLiteral("points")).toArray().size(), 2);
    }

    void configurationKeepsTheFile() {
        config::Configuration c;
        c[config::Param::Serial] = 0x082A;
        c[config::Param::Type] = 17;
        const QByteArray content = "{\"settings\": {\"mode\": 1}}";
        const Entry e = ConfigEntry(Kind::ConfigWritten, c, QStringLiteral("/x/Конфигурация.json"),
                                    content, QStringLiteral("Записано."));
        QCOMPARE(e.registration, QStringLiteral("A0042"));
        QCOMPARE(e.details.value(QStringLiteral("content")).toString().toUtf8(), content);
        QCOMPARE(e.fileSha256, Sha256Hex(content));
        const QString text = DetailsText(e);
        QVERIFY(text.contains(QString::fromUtf8(content)));
        QVERIFY(text.contains(QStringLiteral("Записано.")));
    }

    void fleetFilter_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("state"); // -1: every state
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("all") << QString() << -1 << QStringList{"A0042", "A0043", "B0042", "C0001"};
        QTest::newRow("number") << QStringLiteral("0042") << -1 << QStringList{"A0042", "B0042"};
        QTest::newRow("any case, spaces") << QStringLiteral(" b00 ") << -1 << QStringList{"B0042"};
        QTest::newRow("overdue") << QString() << int(DueState::Overdue)
                                 << QStringList{"A0043", "C0001"};
        QTest::newRow("both") << QStringLiteral("A") << int(DueState::Overdue)
                              << QStringList{"A0043"};
        QTest::newRow("none") << QStringLiteral("Z") << -1 << QStringList{};
    }
    void fleetFilter() {
        QFETCH(QString, search);
        QFETCH(int, state);
        QFETCH(QStringList, shown);
        const QList<ModuleRow> rows = {Row("A0042", DueState::Ok), Row("A0043", DueState::Overdue),
                                       Row("B0042", DueState::Soon),
                                       Row("C0001", DueState::Overdue)};
        QStringList got;
        for (const ModuleRow& r :
             FilterFleet(rows, search, state < 0 ? std::nullopt : std::optional(DueState(state))))
            got << r.registration;
        QCOMPARE(got, shown);
    }

    void fleetCsvQuotesWhatItMust() {
        ModuleRow r = Row(QStringLiteral("A;\"1\"\n"), DueState::Soon);
        r.moduleType = 17;
        r.lastCalibration = QDate(2025, 6, 15);
        r.due = QDate(2026, 6, 15);
        const QByteArray csv = FleetCsv({r});
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines[0], QStringLiteral("Рег. номер;Тип;Последняя калибровка;Интервал, мес.;"
                                          "Срок;Состояние;Последняя связь"));
        QCOMPARE(lines[1], QStringLiteral("\"A;\"\"1\"\"\n\";QS-730 (код 17);15.06.2025;12;"
                                          "15.06.2026;скоро;—"));
    }

    // Each kind of entry as the technician reads it: ranges, verdicts, flags,
    // links and configuration values in the words the windows use, dates in
    // the local form, numbers with a decimal comma.
    void detailsInTheTechniciansWords_data() {
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QStringList>("lines");
        const QDateTime made(QDate(2026, 2, 3), QTime(10, 0));
        const ProtocolData d = Calibrated(made, 0.12);
        QTest::newRow("calibration") << ProtocolEntry(d, {{QStringLiteral("/tmp/p.pdf"), "PDF"}})
                                     << QStringList{"Калибровка",
                                                    "Ток 2 мА:",
                                                    "Среднее: 0,0 мкА",
                                                    "Погрешность: 24,0 мкА",
                                                    "Погрешность, %: 0,120",
                                                    "Флаги: нет",
                                                    "Вывод: Годен",
                                                    "Напряжение 5,5 В:",
                                                    "Погрешность: -10,0 мВ",
                                                    "Допуск, %: 0,25",
                                                    "Коэффициенты до:",
                                                    "Усиление, ток (8-9): 1",
                                                    "Смещение, напряжение (14-15): 8",
                                                    "Дата калибровки: 01.02.2024",
                                                    "Записанная дата калибровки: 03.02.2026",
                                                    "Эталон действителен до: —",
                                                    "Тип: QS-730"};

        CheckResult check = *d.asFound;
        check.when = made;
        check.points[1].flags = 1u << 4; // out of range
        check.points[1].pass = false;
        QTest::newRow("check") << CheckEntry(check, QString())
                               << QStringList{"Проверка точности",
                                              "Время: 03.02.2026 10:00",
                                              "По отсчётам калибровки: нет",
                                              "Вывод: Не годен",
                                              "Флаги: " + FlagNames(1u << 4).join(", "),
                                              "Напряжение 5,5 В:",
                                              "Допуск: 0,0 мВ"};

        module::ModuleLinkOutcome link;
        link.before = {1, 19200, 2};
        link.target = {5, 9600, 0};
        link.holds = {5, 19200, 2};
        link.serial = 0x082A;
        link.failure = QStringLiteral("Модуль не отвечает");
        QTest::newRow("link") << LinkEntry(link, 17)
                              << QStringList{"Было: 19200 бод, Even, адрес 1",
                                             "Задано: 9600 бод, None, адрес 5",
                                             "В модуле: 19200 бод, Even, адрес 5", "Полностью: нет",
                                             "Сбой: Модуль не отвечает"};

        config::Configuration c;
        c[config::Param::Serial] = 0x082A;
        c[config::Param::Type] = 17;
        c[config::Param::Mode] = reg::ModeVoltage;
        QTest::newRow("configuration")
            << ConfigEntry(Kind::ConfigSaved, c, QStringLiteral("/x/c.json"), "{}", QString())
            << QStringList{config::ParamName(config::Param::Mode) + ": Напряжение",
                           config::ParamName(config::Param::Serial) + ": A0042"};

        ModuleRecordId id;
        id.type = 17;
        id.serial = 0x082A;
        id.version = 0x0103;
        id.manufactureDate = reg::PackDate(15, 3, 23);
        QTest::newRow("seen") << SeenEntry(id, QStringLiteral("COM1, 19200 бод, адрес 1"))
                              << QStringList{"Дата изготовления: 15.03.2023", "Версия ПО: 1.03",
                                             "Дата калибровки: —"};

        QTest::newRow("restarts cleared")
            << RestartsEntry(0x082A, 17, 0, true) << QStringList{"Счётчик: 0", "Обнулён: да"};
    }
    void detailsInTheTechniciansWords() {
        QFETCH(Entry, entry);
        QFETCH(QStringList, lines);
        const QStringList shown = DetailLines(entry);
        for (const QString& line : lines)
            QVERIFY2(shown.contains(line), qPrintable(line + "\n---\n" + shown.join('\n')));
        // Nothing of how the entry is kept shows through.
        static const QRegularExpression raw(QStringLiteral(
            "\\b(current|voltage|true|false|asFound|asLeft|errorPercent|tolerancePercent|"
            "fromCalibration|dateWritten|calibrationDate|serialBefore|baud|parity|settings|"
            "unit)\\b|\\d{4}-\\d\\d-\\d\\d"));
        for (const QString& line : shown) {
            if (line.startsWith(QStringLiteral("Запись: ")) ||
                line.startsWith(QStringLiteral("Файл: ")) ||
                line.startsWith(QStringLiteral("Имя: ")))
                continue; // ids and paths are shown as they are
            QVERIFY2(!raw.match(line).hasMatch(), qPrintable(line));
        }
    }

    void timelineMarksCorrections() {
        auto entries = HistoryCases::EveryKind(QStringLiteral("A0042"));
        const auto items = Timeline(entries);
        QCOMPARE(items.size(), entries.size());
        // The fifth corrects the first.
        QVERIFY(items[0].corrected);
        QVERIFY(items[0].line.endsWith(QStringLiteral("(исправлена)")));
        for (int i = 1; i < items.size(); ++i)
            QVERIFY(!items[i].corrected);
    }

    void driftCountsEachCalibrationOnce() {
        const QDateTime t(QDate(2020, 1, 10), QTime(9, 0));
        QList<Entry> entries;
        for (int year = 0; year < 4; ++year) {
            const ProtocolData d = Calibrated(t.addYears(year), 0.05 * year);
            entries << ProtocolEntry(d);
            // Its protocol saved: the same calibration again.
            if (year % 2)
                entries << ProtocolEntry(d, {{QStringLiteral("/p.pdf"), "x"}});
        }
        // A calibration corrected by a later entry does not count.
        Entry wrong = ProtocolEntry(Calibrated(t.addYears(5), 9.0));
        Entry fixed = ProtocolEntry(Calibrated(t.addYears(5), 0.2));
        fixed.corrects = wrong.uid;
        entries << wrong << fixed;
        entries << SeenEntry({}, QStringLiteral("COM1"));
        const auto drift = DriftOf(entries);
        QCOMPARE(drift.size(), 2);
        QCOMPARE(drift[0].name, QStringLiteral("2 мА"));
        QCOMPARE(drift[0].tolerancePercent, 0.25);
        QCOMPARE(drift[0].points.size(), 5);
        for (int year = 0; year < 4; ++year)
            QCOMPARE(drift[0].points[year].errorPercent, 0.05 * year);
        QCOMPARE(drift[0].points[4].errorPercent, 0.2);
        QCOMPARE(drift[1].name, QStringLiteral("5,5 В"));
    }

    void dueLine_data() {
        QTest::addColumn<QDate>("due");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QString>("line");
        QTest::newRow("ahead") << QDate(2027, 3, 1) << QDate(2026, 3, 1)
                               << QStringLiteral("Следующая калибровка: до 01.03.2027");
        QTest::newRow("the day itself") << QDate(2026, 3, 1) << QDate(2026, 3, 1)
                                        << QStringLiteral("Следующая калибровка: до 01.03.2026");
        QTest::newRow("past") << QDate(2026, 3, 1) << QDate(2026, 3, 2)
                              << QStringLiteral("Калибровка просрочена с 01.03.2026");
        QTest::newRow("unknown") << QDate() << QDate(2026, 3, 2) << QString();
    }
    void dueLine() {
        QFETCH(QDate, due);
        QFETCH(QDate, today);
        QFETCH(QString, line);
        QCOMPARE(DueLine(due, today), line);
    }

    void queueLineRoundTrips() {
        for (const Entry& e : HistoryCases::EveryKind(QStringLiteral("A0042"))) {
            const QByteArray line = EntryLine(e);
            QVERIFY(!line.contains('\n'));
            const auto back = EntryFromLine(line);
            QVERIFY(back);
            QVERIFY(*back == e);
        }
        for (const QByteArray& bad : {QByteArray(), QByteArray("{"), QByteArray("[1]"),
                                      QByteArray("{\"uid\":\"x\",\"kind\":\"nothing\",\"made\":1}"),
                                      QByteArray("{\"uid\":\"\",\"kind\":\"seen\",\"made\":1}")})
            QVERIFY2(!EntryFromLine(bad), bad.constData());
    }
};

QTEST_GUILESS_MAIN(TestHistoryViews)
#include "test_history_views.moc"
