// Text that comes from a file, the module or the line reaches the labels and
// boxes as plain text: markup in it is shown as the characters it is, never
// drawn. Each row puts such a text where the tool takes it in and looks at
// every label that then shows it.
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "Boxes.h"
#include "BusScanWindow.h"
#include "FakeModule.h"
#include "Func.h"
#include "LinkStatsWindow.h"
#include "Main.h"
#include "RecorderUi.h"
#include "SaveAs.h"

namespace {

// What a port's name, a file or a module may hold.
const QString Markup = QStringLiteral("<h1><font color=green>COM9</font></h1>");
// A file's name holds no "/".
const QString NameMarkup = QStringLiteral("<h1><font color=green>Протокол<br><br>");

} // namespace

class TestPlainText : public QObject {
    Q_OBJECT

    RecorderUi rec;
    QString portName_;

    // "name: plain" for each label of `w` that shows `text`.
    static QStringList Showing(const QWidget& w, const QString& text) {
        QStringList labels;
        for (const QLabel* label : w.findChildren<QLabel*>())
            if (label->text().contains(text))
                labels << label->objectName() + (label->textFormat() == Qt::PlainText
                                                     ? QStringLiteral(": plain")
                                                     : QStringLiteral(": rich or auto"));
        return labels;
    }

  private slots:
    void init() { portName_ = PortName; }
    void cleanup() {
        PortName = portName_;
        LinkStateSink = nullptr;
    }

    void shownAsPlainText_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("message box") << "message box";
        QTest::newRow("input box") << "input box";
        QTest::newRow("password box") << "password box";
        QTest::newRow("replace question") << "replace question";
        QTest::newRow("status line") << "status line";
        QTest::newRow("link statistics") << "link statistics";
        QTest::newRow("modules on the line") << "modules on the line";
    }
    void shownAsPlainText() {
        QFETCH(QString, where);
        FakeModule module;
        QStringList labels;
        if (where == "message box") {
            const auto box = MakeMessageBox(nullptr, QStringLiteral("Файл ") + Markup,
                                            seam::AppTitle, seam::Icon::Error);
            labels = Showing(*box, Markup);
        } else if (where == "input box") {
            const auto box = MakeInputBox(nullptr, QStringLiteral("Внимание!"), Markup, QString());
            labels = Showing(*box, Markup);
        } else if (where == "password box") {
            // The user and the server come from the settings file.
            const auto box = MakePasswordBox(nullptr, seam::AppTitle, Markup);
            QCOMPARE(box->textEchoMode(), QLineEdit::Password);
            labels = Showing(*box, Markup);
        } else if (where == "replace question") {
            // A name of the file system, asked about in a box of its own.
            QTimer watch;
            connect(&watch, &QTimer::timeout, this, [&] {
                if (QWidget* box = QApplication::activeModalWidget()) {
                    watch.stop();
                    labels = Showing(*box, NameMarkup);
                    box->close();
                }
            });
            watch.start(10);
            QVERIFY(!AskOverwrite(nullptr, QStringLiteral("Сохранить"), NameMarkup + ".csv"));
        } else if (where == "status line") {
            TForm1 form;
            PortName = Markup; // as the settings file may name it
            OpenPort(PortName, 19200, 2);
            labels = Showing(form, Markup);
        } else if (where == "link statistics") {
            PortName = Markup;
            TLinkStats window(nullptr);
            labels = Showing(window, Markup);
        } else if (where == "modules on the line") {
            PortName = Markup;
            TBusScan window(nullptr);
            labels = Showing(window, Markup);
        }
        QVERIFY2(!labels.isEmpty(), "nowhere shown");
        for (const QString& label : labels)
            QVERIFY2(label.endsWith(QStringLiteral(": plain")), qPrintable(label));
    }
};

QTEST_MAIN(TestPlainText)
#include "test_plain_text.moc"
