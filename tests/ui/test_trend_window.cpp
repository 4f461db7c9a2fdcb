// The trend window on its own: hovering over a flag mark, pausing, clearing
// and saving the picture.
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include "Controls.h"
#include "RecorderUi.h"
#include "Registers.h"
#include "SaveAs.h"
#include "Trend.h"
#include "TrendPlot.h"

namespace {

PollOutcome Ok(qint64 msecs, uint16_t value, uint16_t flagsA = 0, uint16_t flagsB = 0) {
    PollOutcome o;
    o.msecs = msecs;
    o.elapsed = msecs;
    o.mode = reg::ModeVoltage;
    o.ok = true;
    o.value = value;
    o.flagsA = flagsA;
    o.flagsB = flagsB;
    return o;
}

} // namespace

class TestTrendWindow : public QObject {
    Q_OBJECT

    RecorderUi rec;
    QTemporaryDir dir;
    const qint64 t0 = QDateTime(QDate(2026, 3, 15), QTime(14, 3, 12, 345)).toMSecsSinceEpoch();

    QString statsText(const TTrend& trend) {
        QStringList texts;
        for (const char* name : {"lbMin", "lbMax", "lbMean", "lbStdDev", "lbCount"})
            texts << Control<QLabel>(trend, name)->text();
        return texts.join(" | ");
    }

  private slots:
    void hoverOverAMarkNamesTheFlags() {
        TTrend trend(nullptr);
        for (int i = 0; i < 40; ++i)
            trend.record(Ok(t0 + i * 1000, static_cast<uint16_t>(5000 + i),
                            i == 20 ? reg::FlagFLASH : 0, i == 20 ? reg::FlagOutOfRange : 0));
        trend.resize(720, 460);
        trend.open();
        QVERIFY(QTest::qWaitForWindowExposed(&trend));
        auto* plot = Control<TrendPlot>(trend, "pbTrend");
        plot->grab(); // painted: the marks are where they were drawn

        // Look for the one mark over the whole plot.
        QPoint mark(-1, -1);
        for (int y = 0; y < plot->height() && mark.x() < 0; ++y)
            for (int x = 0; x < plot->width() && mark.x() < 0; ++x)
                if (!plot->markTextAt(QPoint(x, y)).isEmpty())
                    mark = QPoint(x, y);
        QVERIFY(mark.x() >= 0);
        QHelpEvent hover(QEvent::ToolTip, mark, plot->mapToGlobal(mark));
        QApplication::sendEvent(plot, &hover);
        QCOMPARE(QToolTip::text(), QStringLiteral("14:03:32,345\n5020 мВ\nОшибка КС FLASH\n"
                                                  "Выход за диапазон"));
        // Away from it, nothing.
        const QPoint away(mark.x() - 40, mark.y());
        QCOMPARE(plot->markTextAt(away), QString());
    }

    void pauseFreezesClearEmpties() {
        TTrend trend(nullptr);
        trend.open();
        for (int i = 0; i < 4; ++i)
            trend.record(Ok(t0 + i * 1000, static_cast<uint16_t>(10 * (i + 1)))); // 10..40
        auto* pause = Control<QPushButton>(trend, "btPause");
        pause->click();
        QCOMPARE(pause->text(), QStringLiteral("Продолжить"));
        const QString frozen = statsText(trend);
        QCOMPARE(frozen, QStringLiteral("Мин: 10 мВ | Макс: 40 мВ | Среднее: 25,00 мВ | СКО: 12,91 "
                                        "мВ | Точек: 4"));
        trend.record(Ok(t0 + 5000, 1000)); // recorded, not shown
        QTest::qWait(150);
        QCOMPARE(statsText(trend), frozen);
        QCOMPARE(trend.model().size(), 5);
        pause->click();
        QCOMPARE(pause->text(), QStringLiteral("Пауза"));
        QVERIFY(statsText(trend).endsWith("Точек: 5"));

        Control<QPushButton>(trend, "btClear")->click();
        QCOMPARE(trend.model().size(), 0);
        QCOMPARE(statsText(trend),
                 QStringLiteral("Мин: — | Макс: — | Среднее: — | СКО: — | Точек: 0"));
    }

    void savesThePicture() {
        TTrend trend(nullptr);
        trend.open();
        trend.record(Ok(t0, 100));
        QString answer = dir.filePath("trend"); // the extension is added
        AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
            return answer;
        };
        auto* save = Control<QPushButton>(trend, "btSave");
        save->click();
        QVERIFY(rec.messages.isEmpty());
        QVERIFY(!QImage(answer + ".png").isNull());

        answer = dir.filePath("missing/trend.png");
        save->click();
        QCOMPARE(rec.texts(),
                 QStringList(seam::ErrorBoxText("Невозможно сохранить файл «" +
                                                QDir::toNativeSeparators(answer) + "»")));
        rec.clear();
        answer.clear(); // cancelled
        save->click();
        QVERIFY(rec.messages.isEmpty());
    }

    // ".png" is added to a name chosen without it; an existing file of that
    // name, which the file dialog did not ask about, is replaced only when
    // the user agrees, or else the file dialog comes again.
    void pngAddedAsksBeforeReplacing_data() {
        QTest::addColumn<QStringList>("answers");  // of the file dialogs, "" cancels
        QTest::addColumn<QStringList>("existing"); // files there before
        QTest::addColumn<bool>("replace");         // the answer to the question
        QTest::addColumn<QStringList>("asked");    // the files asked about
        QTest::addColumn<QString>("saved");        // the file with the picture, "" none
        QTest::addColumn<int>("dialogs");          // file dialogs shown
        QTest::newRow("new name") << QStringList{"trend"} << QStringList() << false << QStringList()
                                  << "trend.png" << 1;
        QTest::newRow("existing, replaced") << QStringList{"trend"} << QStringList{"trend.png"}
                                            << true << QStringList{"trend.png"} << "trend.png" << 1;
        QTest::newRow("existing, kept, cancelled")
            << QStringList{"trend", ""} << QStringList{"trend.png"} << false
            << QStringList{"trend.png"} << "" << 2;
        QTest::newRow("existing, kept, another name")
            << QStringList{"trend", "other"} << QStringList{"trend.png"} << false
            << QStringList{"trend.png"} << "other.png" << 2;
        QTest::newRow("suffix typed: the dialog asked")
            << QStringList{"trend.PNG"} << QStringList{"trend.PNG"} << false << QStringList()
            << "trend.PNG" << 1;
    }
    void pngAddedAsksBeforeReplacing() {
        QFETCH(QStringList, answers);
        QFETCH(QStringList, existing);
        QFETCH(bool, replace);
        QFETCH(QStringList, asked);
        QFETCH(QString, saved);
        QFETCH(int, dialogs);
        QTemporaryDir here;
        for (const QString& name : existing) {
            QFile f(here.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
        }
        QStringList suggestions;
        AskSaveFileName = [&](QWidget*, const QString&, const QString& suggested, const QString&,
                              bool confirm) {
            suggestions << QFileInfo(suggested).fileName();
            const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
            return confirm && !answer.isEmpty() ? here.filePath(answer) : QString();
        };
        QStringList questions;
        const auto restore = qScopeGuard([saved = AskOverwrite] { AskOverwrite = saved; });
        AskOverwrite = [&](QWidget*, const QString& caption, const QString& path) {
            questions << QFileInfo(path).fileName();
            return caption == QStringLiteral("Сохранить тренд") && replace;
        };
        TTrend trend(nullptr);
        trend.record(Ok(t0, 100));
        Control<QPushButton>(trend, "btSave")->click();
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(questions, asked);
        QCOMPARE(suggestions.size(), dialogs);
        if (dialogs > 1)
            QCOMPARE(suggestions[1], asked.first()); // the dialog again, on that name
        for (const QString& name : QDir(here.path()).entryList(QDir::Files)) {
            QFile f(here.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll() == "old", name != saved);
        }
        if (!saved.isEmpty())
            QVERIFY(!QImage(here.filePath(saved), "PNG").isNull());
    }
};

QTEST_MAIN(TestTrendWindow)
#include "test_trend_window.moc"
