#include "Seam.h"

#include <QThread>
#include <QTimer>
#include <cstdio>

#include "Errors.h"

namespace seam {
namespace {

// Used until the program installs its real boxes: nothing is lost, nothing is asked.
class FallbackUi final : public Ui {
  public:
    void message(QWidget*, const QString& text, const QString& caption, Icon) override {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(caption), qUtf8Printable(text));
    }
    bool ask(QWidget*, const QString& text, const QString& caption, Icon) override {
        std::fprintf(stderr, "%s: %s (no)\n", qUtf8Printable(caption), qUtf8Printable(text));
        return false;
    }
    QString input(QWidget*, const QString&, const QString&, const QString& value) override {
        return value;
    }
    void pause(int milliseconds) override {
        if (milliseconds > 0)
            QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
};

FallbackUi fallback;
Ui* current = &fallback;

} // namespace

std::optional<QString> Ui::password(QWidget*, const QString&, const QString&) {
    return std::nullopt;
}

void Ui::wait(QObject* context, int milliseconds, std::function<void()> then) {
    QTimer::singleShot(milliseconds, context, std::move(then));
}

Ui& ui() {
    return *current;
}

Ui* install(Ui* ui) {
    Ui* previous = current;
    current = ui ? ui : &fallback;
    return previous;
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

void ShowException(const std::exception& e) {
    const auto* own = dynamic_cast<const Exception*>(&e);
    const QString text = own ? own->message() : QString::fromLocal8Bit(e.what());
    ui().message(nullptr, ErrorBoxText(text), AppTitle, Icon::Error);
}

} // namespace seam
