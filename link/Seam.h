// Everything the tool shows in a box or waits for goes through this seam:
// message boxes, yes/no questions, the input box and fixed pauses. The
// program installs the real boxes and sleeps; tests install a recorder that
// answers them and never waits.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

class QObject;
class QWidget;

namespace seam {

enum class Icon { None, Information, Warning, Error, Question };

class Ui {
  public:
    virtual ~Ui() = default;
    // A message box with one OK button. `owner` may be null (no owner window).
    virtual void message(QWidget* owner, const QString& text, const QString& caption,
                         Icon icon) = 0;
    // A question with the buttons "Да" (also Enter) and "Нет" (also Escape and
    // the close box). True for "Да".
    virtual bool ask(QWidget* owner, const QString& text, const QString& caption, Icon icon) = 0;
    // The standard input box: one unmasked edit with `value` as its starting
    // text, "OK" and "Cancel". Returns the text on OK, the starting text on
    // Cancel or close.
    virtual QString input(QWidget* owner, const QString& caption, const QString& prompt,
                          const QString& value) = 0;
    // A password box: one masked edit, empty at first, "OK" and "Отмена".
    // Returns the text on OK, nothing on "Отмена" or close. By default
    // nothing is asked and nothing is returned.
    virtual std::optional<QString> password(QWidget* owner, const QString& caption,
                                            const QString& prompt);
    // A fixed, blocking pause.
    virtual void pause(int milliseconds) = 0;
    // A pause that lets the events go on: `then` runs from the event loop
    // once `milliseconds` have passed, unless `context` is gone by then.
    virtual void wait(QObject* context, int milliseconds, std::function<void()> then);
};

// The seam in force. Before anything is installed, a plain fallback writes
// messages to standard error, answers input boxes with the starting text and
// really sleeps.
Ui& ui();
// Installs `ui` (not owned); null restores the fallback. Returns the previous one.
Ui* install(Ui* ui);

// Shorthands.
inline void message(QWidget* owner, const QString& text, const QString& caption, Icon icon) {
    ui().message(owner, text, caption, icon);
}
inline bool ask(QWidget* owner, const QString& text, const QString& caption, Icon icon) {
    return ui().ask(owner, text, caption, icon);
}
inline std::optional<QString> password(QWidget* owner, const QString& caption,
                                       const QString& prompt) {
    return ui().password(owner, caption, prompt);
}
inline void pause(int milliseconds) {
    ui().pause(milliseconds);
}
inline void wait(QObject* context, int milliseconds, std::function<void()> then) {
    ui().wait(context, milliseconds, std::move(then));
}
// A question with the question icon, by default with an empty caption.
inline bool ask(QWidget* owner, const QString& text, const QString& caption = QString()) {
    return ui().ask(owner, text, caption, Icon::Question);
}

// The application's title, the caption of its standard error box.
inline const QString AppTitle = QStringLiteral("QS730_View");

// The text the standard error box shows: a full stop is appended when the
// message's last character has a code above that of ".".
QString ErrorBoxText(const QString& message);

// Shows an exception in the standard error box (caption "QS730_View",
// error icon, one OK button, no owner window).
void ShowException(const std::exception& e);

// Runs an event handler and shows whatever it throws in the standard error
// box, so that no exception ever crosses the toolkit's event loop.
template <class F> void Guard(F&& handler) noexcept {
    try {
        std::forward<F>(handler)();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(std::exception());
    }
}

// The slot a window connects a button, menu item or timer to: it runs the
// member `handler` of `window` under Guard (a virtual one as overridden).
template <class W, class C> auto Guarded(W* window, void (C::*handler)()) {
    return [window, handler] { Guard([window, handler] { (window->*handler)(); }); };
}

} // namespace seam
