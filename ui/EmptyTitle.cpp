#include "EmptyTitle.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>

#if defined(Q_OS_WIN)
#include <windows.h>
#elif QT_CONFIG(xcb)
#define QS_X11_TITLE
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>
#endif

namespace {

#ifdef QS_X11_TITLE
xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}
#endif

void ClearNativeTitle(QWidget* window) {
    const WId id = window->internalWinId();
    if (!id || !window->windowTitle().isEmpty())
        return;
#if defined(Q_OS_WIN)
    SetWindowTextW(reinterpret_cast<HWND>(id), L"");
#elif defined(QS_X11_TITLE)
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto xid = static_cast<xcb_window_t>(id);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xid, XCB_ATOM_WM_NAME, XCB_ATOM_STRING,
                        8, 0, nullptr);
    const xcb_atom_t netWmName = Atom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = Atom(connection, "UTF8_STRING");
    if (netWmName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xid, netWmName, utf8, 8, 0, nullptr);
    xcb_flush(connection);
#endif
}

// Watches one window. The native window exists once it is shown, and Qt
// writes its own title only when the window is made and when the title
// changes; both come before these events.
class TitleKeeper final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show || event->type() == QEvent::WindowTitleChange)
            ClearNativeTitle(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

void KeepTitleEmpty(QWidget* window) {
    window->installEventFilter(new TitleKeeper(window));
    ClearNativeTitle(window); // already on screen
}
