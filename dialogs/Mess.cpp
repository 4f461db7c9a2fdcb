#include "Mess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QThread>
#include <QWindow>

#include "ui_Mess.h"

namespace {
int instances = 0;
int constructed = 0;
} // namespace

TfMess::TfMess(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint), ui(new Ui::TfMess) {
    ++instances;
    ++constructed;
    ui->setupUi(this);
    setWindowTitle(QString());

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
