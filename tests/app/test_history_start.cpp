// The history as the program starts it: the server's password asked
// through the seam only when the settings say so and once per run; after
// "Отмена" the tool goes on with its entries waiting in the local queue and
// says once that the history cannot be reached.
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "HistoryQueue.h"
#include "HistorySettings.h"
#include "HistoryWriter.h"
#include "Profile.h"
#include "Program.h"
#include "RecorderUi.h"

using namespace History;

class TestHistoryStart : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    RecorderUi ui_;
    int n_ = 0;

    // A settings file with the section "History" as given.
    ProfileFile Settings(const QByteArray& section) {
        const QString path = dir_.filePath(QStringLiteral("start-%1.ini").arg(++n_));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write("[History]\n" + section);
        return ProfileFile(path);
    }
    QString queue() { return dir_.filePath(QStringLiteral("queue-%1.jsonl").arg(n_)); }

  private slots:
    void init() {
        ui_.clear();
        ui_.passwords.clear(); // "Отмена" unless a case says otherwise
        ForgetRunPasswords();
    }

    void passwordAskedWhenTheSettingsSay_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QStringList>("boxes");
        const QString file = dir_.filePath(QStringLiteral("local.sqlite"));
        const QStringList asked{"QS730_View|Пароль пользователя ivanov на сервере истории сервер "
                                "127.0.0.1:1/hist:"};
        QTest::newRow("local file, never")
            << QByteArray("Server=0\nAskPassword=1\nFile=" + file.toUtf8() + "\n") << QStringList{};
        QTest::newRow("server, password file")
            << QByteArray("Server=1\nHost=127.0.0.1\nPort=1\nDatabase=hist\nUser=ivanov\n")
            << QStringList{};
        QTest::newRow("server, asked")
            << QByteArray("Server=1\nHost=127.0.0.1\nPort=1\nDatabase=hist\nUser=ivanov\n"
                          "AskPassword=1\n")
            << asked;
    }
    void passwordAskedWhenTheSettingsSay() {
        QFETCH(QByteArray, section);
        QFETCH(QStringList, boxes);
        ui_.passwords = {QStringLiteral("pw1"), QStringLiteral("pw2")};
        const ProfileFile settings = Settings(section);
        {
            const auto writer = StartHistory(settings, queue());
            QCOMPARE(ui_.passwordBoxes, boxes);
            QCOMPARE(writer->target().password, boxes.isEmpty() ? QString() : "pw1");
            QCOMPARE(CurrentWriter(), writer.get());
        }
        QCOMPARE(CurrentSink(), nullptr);
        // Started again in the same run (new settings applied): not asked again.
        const auto again = StartHistory(settings, queue());
        QCOMPARE(ui_.passwordBoxes, boxes);
        QCOMPARE(again->target().password, boxes.isEmpty() ? QString() : "pw1");
    }

    void cancelLeavesTheEntriesInTheQueue() {
        const ProfileFile settings =
            Settings("Server=1\nHost=127.0.0.1\nPort=1\nDatabase=hist\nUser=ivanov\n"
                     "AskPassword=1\n");
        const auto writer = StartHistory(settings, queue());
        QCOMPARE(ui_.passwordBoxes.size(), 1); // answered with "Отмена"
        QVERIFY(writer->target().password.isEmpty());
        QSignalSpy down(writer.get(), &Writer::unavailable);
        for (int i = 0; i < 3; ++i) {
            Record(NewEntry(Kind::Seen, QStringLiteral("A004%1").arg(i), 17));
            QVERIFY(writer->settle(30000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(down.size(), 1, 10000);
        QVERIFY(!down.first().first().toString().isEmpty());
        QList<Entry> waiting;
        QVERIFY(Queue(queue()).read(&waiting));
        QCOMPARE(waiting.size(), 3);
        // Said once, in the window's status line, never in a box; and not asked again.
        QCOMPARE(down.size(), 1);
        QVERIFY(ui_.messages.isEmpty());
        QCOMPARE(ui_.passwordBoxes.size(), 1);
    }
};

QTEST_MAIN(TestHistoryStart)
#include "test_history_start.moc"
