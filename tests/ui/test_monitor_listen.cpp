// "Слушать линию" against libraries without the entry points it needs: the
// mode is off and says why, as plain text; the rest of the monitor works.
#include <QCheckBox>
#include <QLabel>
#include <QtTest>

#include "Controls.h"
#include "Func.h"
#include "Listen.h"
#include "Monitor.h"
#include "RecorderUi.h"

namespace {

int32_t Start(const char*, int32_t, uint8_t) {
    return COMM_OK;
}
int32_t Read(comm_heard*, int32_t, int32_t, int32_t, int32_t* count, uint64_t*) {
    *count = 0;
    return COMM_OK;
}
int32_t Stop() {
    return COMM_OK;
}

} // namespace

class TestMonitorListenOff : public QObject {
    Q_OBJECT

  private slots:
    void offWithoutTheEntryPoints_data() {
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("stop");
        QTest::newRow("none") << false << false << false;
        QTest::newRow("no listen_read") << true << false << true;
        QTest::newRow("no listen_stop") << true << true << false;
        QTest::newRow("no listen_start") << false << true << true;
    }

    void offWithoutTheEntryPoints() {
        QFETCH(bool, start);
        QFETCH(bool, read);
        QFETCH(bool, stop);
        RecorderUi rec;
        const CommEntryPoints saved = Comm;
        Comm.listen_start = start ? Start : nullptr;
        Comm.listen_read = read ? Read : nullptr;
        Comm.listen_stop = stop ? Stop : nullptr;
        {
            TMonitor monitor(nullptr);
            auto* listen = Control<QCheckBox>(monitor, "chbListen");
            QVERIFY(!listen->isEnabled());
            auto* why = Control<QLabel>(monitor, "lbListen");
            QCOMPARE(why->text(),
                     QString("Библиотека связи comm_mb не умеет слушать линию (нет функций "
                             "listen_start, listen_read, listen_stop): прослушивание недоступно."));
            QCOMPARE(why->textFormat(), Qt::PlainText);
            QVERIFY(!monitor.listening());
            QVERIFY(!listening::Start("COM1", 19200, 2).isEmpty());
            QVERIFY(!listening::Listening());
        }
        Comm = saved;
        QCOMPARE(rec.messages.size(), 0);
    }

    void onWithThem() {
        RecorderUi rec;
        const CommEntryPoints saved = Comm;
        Comm.listen_start = Start;
        Comm.listen_read = Read;
        Comm.listen_stop = Stop;
        {
            TMonitor monitor(nullptr);
            QVERIFY(Control<QCheckBox>(monitor, "chbListen")->isEnabled());
            QVERIFY(Control<QLabel>(monitor, "lbListen")->text().isEmpty());
        }
        Comm = saved;
    }
};

QTEST_MAIN(TestMonitorListenOff)
#include "test_monitor_listen.moc"
