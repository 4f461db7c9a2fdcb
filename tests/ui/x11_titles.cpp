// Window titles as the X server holds them: a box with an empty caption must
// have an empty title there too, not the program's name that Qt's X11 layer
// puts in its place. Needs an X server; without one it reports itself skipped.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>
#include <QtTest>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

#include "Boxes.h"
#include "Mess.h"
#include "RealUi.h"

namespace {

constexpr int SkipCode = 77; // ctest's SKIP_RETURN_CODE

xcb_connection_t* Connection() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(const char* name) {
    xcb_connection_t* c = Connection();
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// A text property of a window as the server holds it; "<none>" when absent.
QString Property(const QWidget* window, const char* name) {
    xcb_connection_t* c = Connection();
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 0, static_cast<xcb_window_t>(window->internalWinId()), Atom(name),
                         XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    QString value = QStringLiteral("<none>");
    if (reply && reply->type != XCB_ATOM_NONE)
        value = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                  xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

struct Titles {
    QString wmName;
    QString netWmName;
};

Titles TitlesOf(const QWidget* window) {
    return {Property(window, "WM_NAME"), Property(window, "_NET_WM_NAME")};
}

} // namespace

class TestX11Titles : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QApplication::setApplicationName(QStringLiteral("QS730_View")); }

    // Every box of the seam, shown as the program shows it (modally).
    void messageBoxes_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("icon");
        QTest::newRow("result (restart counter)") << QString() << int(seam::Icon::Information);
        QTest::newRow("refusal (calibration password)") << QString() << int(seam::Icon::Error);
        QTest::newRow("search result, calibration done") << QString() << int(seam::Icon::Warning);
        QTest::newRow("standard error box")
            << QStringLiteral("QS730_View") << int(seam::Icon::Error);
    }
    void messageBoxes() {
        QFETCH(QString, caption);
        QFETCH(int, icon);
        RealUi ui;
        QWidget owner;
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        Titles shown{QStringLiteral("?"), QStringLiteral("?")};
        Titles exposed = shown;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown = TitlesOf(box);
            // Still so once the window manager had its chance.
            if (QTest::qWaitForWindowExposed(box))
                exposed = TitlesOf(box);
            box->accept();
        });
        ui.message(&owner, QStringLiteral("Операция завершена успешно!"), caption,
                   static_cast<seam::Icon>(icon));
        QCOMPARE(shown.wmName, caption);
        QCOMPARE(shown.netWmName, caption);
        QCOMPARE(exposed.netWmName, caption);
        QCOMPARE(exposed.wmName, caption);
    }

    // A box shown again after its title was set empty while on screen.
    void titleEmptiedLater() {
        auto box = MakeMessageBox(nullptr, QStringLiteral("x"), QString(), seam::Icon::Information);
        box->setWindowTitle(QStringLiteral("QS730_View"));
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QCOMPARE(TitlesOf(box.get()).netWmName, QStringLiteral("QS730_View"));
        box->setWindowTitle(QString());
        QCOMPARE(TitlesOf(box.get()).netWmName, QString());
        QCOMPARE(TitlesOf(box.get()).wmName, QString());
    }

    // The search's message window has an empty caption too.
    void searchWindow() {
        QWidget owner;
        owner.resize(300, 200);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        TfMess mess(&owner);
        mess.paintNow();
        QCOMPARE(TitlesOf(&mess).netWmName, QString());
        QCOMPARE(TitlesOf(&mess).wmName, QString());
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "SKIPPED: no X server (DISPLAY is not set), titles on X11 not "
                             "checked; run under xvfb-run\n");
        return SkipCode;
    }
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "SKIPPED: platform %s is not xcb\n",
                     qPrintable(QGuiApplication::platformName()));
        return SkipCode;
    }
    TestX11Titles test;
    return QTest::qExec(&test, argc, argv);
}

#include "x11_titles.moc"
