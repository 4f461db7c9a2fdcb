// What the windows put into the module's history, with a sink that keeps
// the entries, against the simulated module: the module's identity and its
// due date when the main window connects (nothing, and no exchange, without
// a history), the restart counter, and the configuration saved, compared and
// written with the file's content.
#include <QFile>
#include <QLabel>
#include <QMutex>
#include <QTemporaryDir>
#include <QtTest>

#include "Configuration.h"
#include "Controls.h"
#include "Func.h"
#include "HistoryEntry.h"
#include "HistoryWriter.h"
#include "Main.h"
#include "ModuleConfig.h"
#include "RecorderUi.h"
#include "Registers.h"
#include "SaveAs.h"
#include "SimLink.h"

using History::Entry;
using History::Kind;

namespace {
class KeptEntries final : public History::Sink {
  public:
    KeptEntries() { History::SetCurrentSink(this); }
    ~KeptEntries() override { History::SetCurrentSink(nullptr); }
    void add(const Entry& e) override {
        QMutexLocker lock(&mutex_);
        entries_.append(e);
    }
    QList<Entry> of(Kind kind) {
        QMutexLocker lock(&mutex_);
        QList<Entry> out;
        for (const Entry& e : entries_)
            if (e.kind == kind)
                out.append(e);
        return out;
    }

  private:
    QMutex mutex_;
    QList<Entry> entries_;
};
} // namespace

class TestHistoryHooksSim : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

  private slots:
    void cleanup() {
        LinkStateSink = nullptr;
        QFile::remove(SettingsFilePath());
    }

    void connectingFilesTheModuleAndShowsItsDue_data() {
        QTest::addColumn<uint16_t>("calibrationDate"); // PackedDate of register 256
        QTest::addColumn<QString>("due");
        // 15.03.2020: long overdue with 12 months.
        QTest::newRow("overdue") << reg::PackDate(15, 3, 20)
                                 << QStringLiteral(
                                        "Модуль A0042: Калибровка просрочена с 15.03.2021");
        const QDate next = QDate::currentDate().addMonths(1);
        const QDate cal = next.addMonths(-12);
        QTest::newRow("due in a month")
            << reg::PackDate(cal.day(), cal.month(), cal.year() - 2000)
            << QStringLiteral("Модуль A0042: Следующая калибровка: до %1")
                   .arg(next.toString(QStringLiteral("dd.MM.yyyy")));
    }
    void connectingFilesTheModuleAndShowsItsDue() {
        QFETCH(uint16_t, calibrationDate);
        QFETCH(QString, due);
        const RecorderUi boxes;
        KeptEntries kept;
        SimLink link(sim::Options{.calibrationDate = calibrationDate});
        link.writeSettingsFile(SettingsFilePath());
        TForm1 form;
        QTRY_COMPARE(kept.of(Kind::Seen).size(), 1);
        const Entry seen = kept.of(Kind::Seen).first();
        QCOMPARE(seen.registration, QStringLiteral("A0042"));
        QVERIFY(seen.moduleType > 0);
        QVERIFY2(seen.summary.contains(ModuleTypeName(uint16_t(seen.moduleType))),
                 qPrintable(seen.summary));
        QCOMPARE(form.dueText(), due);

        form.miReadCountResClick();
        QCOMPARE(kept.of(Kind::Restarts).size(), 1);
        form.miNullCountResClick();
        QCOMPARE(kept.of(Kind::Restarts).size(), 2);
        QCOMPARE(kept.of(Kind::Restarts).last().details.value(QStringLiteral("cleared")).toBool(),
                 true);
    }

    void withoutAHistoryNothingIsAsked() {
        const RecorderUi boxes;
        SimLink link;
        link.writeSettingsFile(SettingsFilePath());
        link.module().clearRequests();
        TForm1 form;
        QTest::qWait(100);
        QCOMPARE(link.module().requests().size(), 0u);
        QVERIFY(form.dueText().isEmpty());
    }

    void configurationSavedComparedWritten() {
        const RecorderUi boxes;
        KeptEntries kept;
        SimLink link;
        LinkStateSink = [](const QString&) {};
        const QString file = dir_.filePath(QStringLiteral("Конфигурация.json"));
        AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
            return file;
        };
        AskOpenFileName = [&](QWidget*, const QString&, const QString&, const QString&) {
            return file;
        };
        TModConfig window(nullptr);
        window.btSaveClick();
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray content = f.readAll();
        const auto saved = kept.of(Kind::ConfigSaved);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved[0].registration, QStringLiteral("A0042"));
        QCOMPARE(saved[0].details.value(QStringLiteral("content")).toString().toUtf8(), content);
        QCOMPARE(saved[0].fileSha256, History::Sha256Hex(content));
        window.btCompareClick();
        QCOMPARE(kept.of(Kind::ConfigCompared).size(), 1);
        QVERIFY(kept.of(Kind::ConfigCompared)[0]
                    .details.value(QStringLiteral("outcome"))
                    .toString()
                    .contains(QStringLiteral("совпадают")));
    }
};

QTEST_MAIN(TestHistoryHooksSim)
#include "test_history_hooks_sim.moc"
