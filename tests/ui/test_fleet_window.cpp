// "Модули" and a module's history over a local history file: every module
// with its due state, found by number and state, exported as CSV; a file
// that cannot be read said in the window as plain text; the timeline opened
// to an entry's details; the drift drawn with its series.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "Controls.h"
#include "Errors.h"
#include "Fleet.h"
#include "HistoryStore.h"
#include "ModuleHistory.h"
#include "RecorderUi.h"
#include "SaveAs.h"

using namespace History;

namespace {
Entry Made(Kind kind, const QString& reg, const QDate& day) {
    Entry e = NewEntry(kind, reg, 17, QStringLiteral("Иванов"));
    e.made = QDateTime(day, QTime(12, 0), Qt::UTC);
    e.summary = KindText(kind);
    return e;
}

Entry Calibrated(const QString& reg, const QDate& day, double error) {
    Entry e = Made(Kind::Calibration, reg, day);
    e.details[QStringLiteral("number")] = reg + day.toString(Qt::ISODate);
    e.details[QStringLiteral("tolerancePercent")] = 0.25;
    e.details[QStringLiteral("asFound")] =
        QJsonArray{QJsonObject{{QStringLiteral("range"), QStringLiteral("current")},
                               {QStringLiteral("nominal"), 2000},
                               {QStringLiteral("errorPercent"), error}}};
    return e;
}

QStringList Column(QTableWidget* t, int column) {
    QStringList out;
    for (int r = 0; r < t->rowCount(); ++r)
        out << t->item(r, column)->text();
    return out;
}
} // namespace

class TestFleetWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    Target target_;
    const QString hostile_ = QStringLiteral("<b>X</b>'; DROP TABLE entries;--");

  private slots:
    void initTestCase() {
        target_.file = dir_.filePath(QStringLiteral("history.sqlite"));
        Store store(target_);
        const QDate today = QDate::currentDate();
        store.add({
            Made(Kind::Seen, QStringLiteral("A0042"), today),
            Calibrated(QStringLiteral("A0042"), today.addMonths(-2), 0.1),
            Calibrated(QStringLiteral("A0042"), today.addMonths(-14), 0.05),
            Calibrated(QStringLiteral("A0043"), today.addMonths(-13), 0.2),
            Calibrated(QStringLiteral("B0042"), today.addMonths(-12).addDays(10), 0.0),
            Made(Kind::Seen, hostile_, today),
        });
    }

    void fleetShowsEveryModule() {
        TFleet w(nullptr, target_);
        w.load();
        auto* table = Control<QTableWidget>(w, "tbModules");
        QCOMPARE(Column(table, 0), QStringList({hostile_, "A0042", "A0043", "B0042"}));
        QCOMPARE(Column(table, 5), QStringList({QString(), "в норме", "просрочена", "скоро"}));
        QVERIFY(Control<QLabel>(w, "lbNote")->isHidden());
    }

    void searchAndState_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("number") << QStringLiteral("0042") << 0 << QStringList{"A0042", "B0042"};
        QTest::newRow("overdue") << QString() << 3 << QStringList{"A0043"};
        QTest::newRow("soon, A") << QStringLiteral("a") << 2 << QStringList{};
    }
    void searchAndState() {
        QFETCH(QString, search);
        QFETCH(int, state);
        QFETCH(QStringList, shown);
        TFleet w(nullptr, target_);
        w.load();
        Control<QLineEdit>(w, "edSearch")->setText(search);
        Control<QComboBox>(w, "cbState")->setCurrentIndex(state);
        QCOMPARE(Column(Control<QTableWidget>(w, "tbModules"), 0), shown);
    }

    void exportWritesWhatIsShown() {
        const QString file = dir_.filePath(QStringLiteral("Модули.csv"));
        const SaveFileAsker before = AskSaveFileName;
        AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
            return file;
        };
        TFleet w(nullptr, target_);
        w.load();
        Control<QLineEdit>(w, "edSearch")->setText(QStringLiteral("A004"));
        w.btExportClick();
        AskSaveFileName = before;
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(f.readAll().mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 4); // heading, two modules, the end
        QVERIFY(lines[1].startsWith(QStringLiteral("A0042;QS-730 (код 17);")));
        QVERIFY(lines[2].startsWith(QStringLiteral("A0043;")));
    }

    void unreadableFileSaidInTheWindow() {
        Target t;
        t.file = dir_.filePath(QStringLiteral("«не база».sqlite"));
        QFile f(t.file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<b>not a database</b>");
        f.close();
        TFleet w(nullptr, t);
        w.load();
        auto* note = Control<QLabel>(w, "lbNote");
        QVERIFY(!note->isHidden());
        QCOMPARE(note->textFormat(), Qt::PlainText);
        QVERIFY2(note->text().contains(QStringLiteral("не является базой данных")),
                 qPrintable(note->text()));
        QCOMPARE(Control<QTableWidget>(w, "tbModules")->rowCount(), 0);
    }

    void historyOpensEachEntry() {
        Store store(target_);
        const auto entries = store.moduleHistory(QStringLiteral("A0042"));
        TModuleHistory w(nullptr, QStringLiteral("A0042"), entries);
        QCOMPARE(w.entries(), 3);
        auto* list = Control<QListWidget>(w, "lsTimeline");
        QCOMPARE(list->currentRow(), 2); // the latest
        list->setCurrentRow(0);
        QVERIFY(w.details().contains(QStringLiteral("Исполнитель: Иванов")));
        QVERIFY(w.details().contains(QStringLiteral("Погрешность, %: 0,050")));
        QCOMPARE(w.drift()->series().size(), 1);
        QCOMPARE(w.drift()->series()[0].points.size(), 2);
        // Drawn without a fault at a size the window gives it.
        w.drift()->resize(500, 200);
        QVERIFY(!w.drift()->grab().isNull());
    }

    // Import from a folder the technician picks: the fleet shows what came
    // in, and the summary says how many.
    void importShowsWhatCameIn() {
        Target t;
        t.file = dir_.filePath(QStringLiteral("import.sqlite"));
        const QString folder = dir_.filePath(QStringLiteral("in"));
        QDir().mkpath(folder);
        QFile f(folder + QStringLiteral("/Протокол.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\xEF\xBB\xBFПротокол проверки;B0100-20250101-100000\r\n"
                "Дата;01.01.2025 10:00\r\nРегистрационный номер;B0100\r\n");
        f.close();
        const auto before = AskImportFolder;
        AskImportFolder = [&](QWidget*) { return folder; };
        const RecorderUi boxes;
        TFleet w(nullptr, t);
        w.load();
        w.btImportClick();
        w.btImportClick();
        AskImportFolder = before;
        QCOMPARE(Column(Control<QTableWidget>(w, "tbModules"), 0), QStringList{"B0100"});
        const QStringList said = boxes.texts();
        QCOMPARE(said.size(), 2);
        QVERIFY2(said[0].startsWith(QStringLiteral("Добавлено записей: 1,")), qPrintable(said[0]));
        QVERIFY2(said[1].startsWith(QStringLiteral("Добавлено записей: 0, уже были в истории: 1")),
                 qPrintable(said[1]));
    }

    void missingFileSaysSo() {
        Entry e = Made(Kind::ConfigSaved, QStringLiteral("A0042"), QDate(2026, 1, 1));
        e.fileName = dir_.filePath(QStringLiteral("gone.json"));
        TModuleHistory w(nullptr, QStringLiteral("A0042"), {e});
        QString message;
        try {
            w.btOpenFileClick();
        } catch (const Exception& x) {
            message = x.message();
        }
        QVERIFY2(message.contains(QStringLiteral("не найден")), qPrintable(message));
    }
};

QTEST_MAIN(TestFleetWindow)
#include "test_fleet_window.moc"
