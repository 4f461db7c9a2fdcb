// The close path of a dialog whose done() may keep it open (the calibration
// wizard puts the module back first, the accuracy check asks first): the
// window's close button goes through done() as Cancel does.
#pragma once

#include <QCloseEvent>
#include <QDialog>

// For closeEvent: `closing` is true while done() itself closes the dialog.
// The event is accepted when the dialog closed, ignored when it stays open.
inline void CloseThroughDone(QDialog& dialog, bool closing, QCloseEvent* event) {
    if (closing || !dialog.isVisible()) {
        event->accept();
        return;
    }
    dialog.done(QDialog::Rejected);
    event->setAccepted(!dialog.isVisible());
}
