// The small window shown while the automatic search for the module's link
// parameters runs: it only tells the user to wait.
#pragma once

#include <QWidget>

namespace Ui {
class TfMess;
}

class TfMess : public QWidget {
    Q_OBJECT

  public:
    // A tool window without caption buttons (the user cannot close it),
    // centred over `owner`; it shows itself at once.
    explicit TfMess(QWidget* owner);
    ~TfMess() override;

    // Paints the window right away: the search that follows keeps the
    // user-interface thread busy, so it gets no other chance to be drawn.
    // Neither user input nor any timer of the program is handled meanwhile;
    // a timer that came due gets its turn once the event loop runs again.
    void paintNow();

    // How many of these windows exist at the moment, and how many were ever
    // created.
    static int alive();
    static int created();

    Ui::TfMess* ui;
};
