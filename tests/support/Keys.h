// Key strokes as a user makes them: handed to Qt where the window system
// hands them over, so that shortcut overrides, the menu bar's Alt, the focus
// chain and the dialogs' default buttons all take part.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <QWindow>
#include <QtTest>

// The window that has the keyboard focus.
inline QWindow* KeyWindow() {
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus->window()->windowHandle() : QGuiApplication::focusWindow();
}

// One key stroke (press and release) into the window that has the focus.
// Qt::Key_Enter is the keypad's Enter.
inline void Stroke(Qt::Key key) {
    QTest::keyClick(KeyWindow(), key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
}

// Presses Tab until `target` has the focus; false if it never gets it.
inline bool TabTo(const QWidget* target) {
    for (int i = 0; i < 40 && QApplication::focusWidget() != target; ++i)
        Stroke(Qt::Key_Tab);
    return QApplication::focusWidget() == target;
}

// Alt pressed and released alone, as it moves the focus to the menu bar.
inline void AltAlone() {
    QTest::keyPress(KeyWindow(), Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(KeyWindow(), Qt::Key_Alt, Qt::NoModifier);
}

// Records the name of each push button of `window` as it is clicked.
inline void RecordClicks(QWidget* window, QStringList& clicked) {
    for (QPushButton* b : window->findChildren<QPushButton*>())
        QObject::connect(b, &QPushButton::clicked, window,
                         [&clicked, b] { clicked << b->objectName(); });
}
