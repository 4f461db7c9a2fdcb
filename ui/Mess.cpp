#include "Mess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>
#include <QWindow>
#include <algorithm>
#include <utility>
#include <vector>

#include "EmptyTitle.h"
#include "ui_Mess.h"

namespace {
int instances = 0;
int constructed = 0;

// While it lives, the timer events of every QTimer (the main window's poll
// among them) are held back; afterwards each timer gets one event back, to be
// handled once the event loop runs again. Only the Unix event loops honour
// QEventLoop::X11ExcludeTimers; this holds on every platform. Qt's own timers
// of other kinds are let through.
class TimerHold final : public QObject {
  public:
    TimerHold() { QCoreApplication::instance()->installEventFilter(this); }
    ~TimerHold() override {
        QCoreApplication::instance()->removeEventFilter(this);
        for (const auto& [timer, id] : held_)
            if (timer && timer->timerId() == id)
                QCoreApplication::postEvent(timer, new QTimerEvent(id));
    }
    TimerHold(const TimerHold&) = delete;
    TimerHold& operator=(const TimerHold&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Timer)
            return false;
        auto* timer = qobject_cast<QTimer*>(watched);
        if (!timer)
            return false;
        const int id = static_cast<QTimerEvent*>(event)->timerId();
        const auto same = [&](const auto& h) { return h.first == timer && h.second == id; };
        if (std::none_of(held_.begin(), held_.end(), same))
            held_.emplace_back(timer, id);
        return true;
    }

  private:
    std::vector<std::pair<QPointer<QTimer>, int>> held_;
};

} // namespace

TfMess::TfMess(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint), ui(new Ui::TfMess) {
    ++instances;
    ++constructed;
    ui->setupUi(this);
    setWindowTitle(QString());
    KeepTitleEmpty(this);

    // The client area is fixed at 188 x 49. Where the system font is too wide
    // for the longer line, both lines are set condensed, and only if that is
    // not enough a little smaller.
    const auto fits = [this](const QFont& f) {
        const QFontMetrics fm(f);
        const int room = width() - 4;
        return fm.horizontalAdvance(ui->Label1->text()) <= room &&
               fm.horizontalAdvance(ui->Label2->text()) <= room;
    };
    QFont font = this->font();
    if (!fits(font))
        font.setStretch(QFont::Condensed);
    while (!fits(font) && font.pointSizeF() > 6.5)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    ui->Label1->setFont(font);
    ui->Label2->setFont(font);

    if (owner) {
        // The client area's centre on the owner's.
        const QPoint centre = owner->mapToGlobal(owner->rect().center());
        setGeometry(QRect(centre - rect().center(), size()));
    }
    show();
}

TfMess::~TfMess() {
    delete ui;
    --instances;
}

void TfMess::paintNow() {
    // Only what it takes to get the window on screen: no user input, no
    // timers (the main window's poll must not run in between).
    const TimerHold hold;
    const auto flags = QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers |
                       QEventLoop::X11ExcludeTimers;
    QElapsedTimer waited;
    waited.start();
    QCoreApplication::processEvents(flags);
    while (!(windowHandle() && windowHandle()->isExposed()) && waited.elapsed() < 200) {
        QThread::msleep(5);
        QCoreApplication::processEvents(flags);
    }
    repaint();
}

int TfMess::alive() {
    return instances;
}
int TfMess::created() {
    return constructed;
}
