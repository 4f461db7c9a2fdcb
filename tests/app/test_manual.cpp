// The technician's manual: where the program looks for it, and "Справка" or
// F1 in the main window opening it in the system's viewer (here a stand-in
// for the viewer, taking the file's URL) or saying that there is none.
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "Controls.h"
#include "FakeModule.h"
#include "Keys.h"
#include "Main.h"
#include "Manual.h"
#include "Program.h"
#include "RecorderUi.h"

namespace {

FakeModule Module;

// Takes the place of the system's viewer for local files.
class Viewer : public QObject {
    Q_OBJECT

  public:
    Viewer() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~Viewer() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    Q_INVOKABLE void open(const QUrl& url) { opened << url; }
    QList<QUrl> opened;
};

} // namespace

class TestManual : public QObject {
    Q_OBJECT

  private slots:
    // A layout of files under a scratch root; the program lies in `program`.
    void findManual_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("manuals");
        QTest::addColumn<QString>("found");
        const QString deb = QStringLiteral("usr/share/doc/qs730-view/QS730_View-manual.pdf");
        QTest::newRow("beside the program (zip, MSI, build)")
            << "app" << QStringList{"app/QS730_View-manual.pdf"} << "app/QS730_View-manual.pdf";
        QTest::newRow("the Debian package's doc folder")
            << "usr/lib/qs730-view" << QStringList{deb} << deb;
        QTest::newRow("beside the program first")
            << "usr/lib/qs730-view" << QStringList{deb, "usr/lib/qs730-view/QS730_View-manual.pdf"}
            << "usr/lib/qs730-view/QS730_View-manual.pdf";
        QTest::newRow("a folder of that name is no manual")
            << "app" << QStringList{"app/QS730_View-manual.pdf/"} << "";
        QTest::newRow("none") << "app" << QStringList{} << "";
    }
    void findManual() {
        QFETCH(QString, program);
        QFETCH(QStringList, manuals);
        QFETCH(QString, found);
        QTemporaryDir root;
        const QDir dir(root.path());
        QVERIFY(dir.mkpath(program));
        for (const QString& manual : manuals) {
            if (manual.endsWith(QLatin1Char('/'))) {
                QVERIFY(dir.mkpath(manual));
                continue;
            }
            QVERIFY(dir.mkpath(QFileInfo(manual).path()));
            QFile file(dir.filePath(manual));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(FindManual(dir.filePath(program)), found.isEmpty() ? "" : dir.filePath(found));
    }

    // In a build the manual lies beside the program; a bare test build may
    // not have made it yet, and then the box names it.
    void helpItemAndF1() {
        RecorderUi rec;
        Viewer viewer;
        Module.reset();
        TForm1 form;
        WireMainWindow(form);
        auto* help = Control<QAction>(&form, "miHelp");
        QCOMPARE(help->text(), QStringLiteral("Справка"));
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        Stroke(Qt::Key_F1);
        help->trigger();
        const QString manual = FindManual(QCoreApplication::applicationDirPath());
        if (manual.isEmpty()) {
            QCOMPARE(viewer.opened, QList<QUrl>());
            QCOMPARE(
                rec.texts(),
                QStringList(2, "Не найдено руководство пользователя «QS730_View-manual.pdf»."));
        } else {
            QCOMPARE(viewer.opened, QList<QUrl>(2, QUrl::fromLocalFile(manual)));
            QCOMPARE(rec.texts(), QStringList());
        }
    }
};

QTEST_MAIN(TestManual)
#include "test_manual.moc"
