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
}

TfMess::TfMess(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint), ui(new Ui::TfMess) {
    ++instances;
    ++constructed;
    ui->setupUi(this);
    setWindowTitle(QString());

    // The client area is fixed at 188 x 49; where the system font is too wide
    // for the longer line, both lines get a slightly smaller one.
    QFont font = this->font();
    const int room = width() - 4;
    for (int i = 0; i < 4 && font.pointSizeF() > 6; ++i) {
        const QFontMetrics fm(font);
        if (fm.horizontalAdvance(ui->Label1->text()) <= room &&
            fm.horizontalAdvance(ui->Label2->text()) <= room)
            break;
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    ui->Label1->setFont(font);
    ui->Label2->setFont(font);

    if (owner) {
        const QPoint centre = owner->mapToGlobal(owner->rect().center());
        move(centre - rect().center());
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

int TfMess::alive() { return instances; }
int TfMess::created() { return constructed; }
