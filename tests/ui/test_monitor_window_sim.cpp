// The exchange monitor against the simulated module through the real
// library: the frames before the window opened, failures that stand out,
// the pause that keeps recording, the errors-only filter and the saves.
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "Controls.h"
#include "Csv.h"
#include "Func.h"
#include "Monitor.h"
#include "RecorderUi.h"
#include "SaveAs.h"
#include "SimLink.h"

namespace {

void Poll() {
    uint16_t words[3] = {};
    seam::Guard([&] { ReadRegisters(1024, 3, words); });
}

QStringList Meanings(const MonitorModel& m) {
    QStringList all;
    for (int i = 0; i < m.rowCount(); ++i)
        all << m.meaning(i).text;
    return all;
}

} // namespace

class TestMonitorWindow : public QObject {
    Q_OBJECT

  private slots:
    void showsWhatLedToAnError() {
        RecorderUi rec;
        SimLink link;
        QVERIFY(link.opened());
        QTemporaryDir dir;
        // Before the window exists: a retry after a CRC error, an exchange
        // that failed three times.
        link.module().corruptCrcNext(1);
        Poll();
        link.module().dropNext(3);
        Poll();
        QCOMPARE(rec.messages.size(), 1); // "Нет ответа!"

        TMonitor monitor(nullptr);
        monitor.open();
        MonitorModel& m = monitor.model();
        const QStringList said = Meanings(m);
        QVERIFY(said.contains("CRC неверна"));
        QCOMPARE(said.filter("нет ответа за").size(), 3);
        const QRegularExpression answer("^значение \\d+, флаги: нет$");
        QCOMPARE(said.filter(answer).size(), 1);
        for (int i = 0; i < m.rowCount(); ++i) {
            const QString verdict = m.index(i, MonitorModel::Verdict).data().toString();
            QCOMPARE(verdict == "сбой", m.failed(i));
            QCOMPARE(m.index(i, 0).data(Qt::BackgroundRole).isValid(), m.failed(i));
        }

        // Paused, the rows stay while the frames are still recorded.
        const int rows = m.rowCount();
        Control<QPushButton>(monitor, "btPause")->click();
        Poll();
        QTest::qWait(300);
        QCOMPARE(m.rowCount(), rows);
        Control<QPushButton>(monitor, "btPause")->click();
        QVERIFY(m.rowCount() > rows);
        QVERIFY(m.meaning(m.rowCount() - 1).text.contains(answer));

        Control<QCheckBox>(monitor, "chbErrorsOnly")->click();
        auto* view = Control<QTableView>(monitor, "tvFrames");
        QCOMPARE(view->model()->rowCount(), m.failedRows());

        // Saved as the window shows it; a text file when asked for one.
        QStringList answers = {dir.filePath("frames"), dir.filePath("frames.txt")};
        AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
            return answers.takeFirst();
        };
        Control<QPushButton>(monitor, "btSave")->click();
        Control<QPushButton>(monitor, "btSave")->click();
        QFile csvFile(dir.filePath("frames.csv"));
        QVERIFY(csvFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csvFile.readAll().split('\n');
        QVERIFY(lines[0].startsWith(csv::Bom + "Дата и время;Направление;"));
        QCOMPARE(lines.size() - 2, m.failedRows()); // the header, and nothing after the last CR LF
        QVERIFY(lines[1].contains(";←;") && lines[1].endsWith("\r"));
        QFile text(dir.filePath("frames.txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        QVERIFY(!text.peek(3).startsWith(csv::Bom) && text.readAll().contains("\tсбой\t"));

        // A folder that is no folder: the standard box, nothing else.
        answers = {dir.filePath("frames.txt/inside.csv")};
        Control<QPushButton>(monitor, "btSave")->click();
        QCOMPARE(rec.messages.size(), 2);
        QVERIFY(rec.messages.last().text.startsWith("Невозможно сохранить файл «"));

        Control<QPushButton>(monitor, "btClear")->click();
        QCOMPARE(m.rowCount(), 0);
    }
};

QTEST_MAIN(TestMonitorWindow)
#include "test_monitor_window_sim.moc"
