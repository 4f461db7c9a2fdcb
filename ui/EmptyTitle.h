// A window whose title is empty shows an empty title bar.
#pragma once

class QWidget;

// Qt's platform layers put the application's name ("QS730_View") in place of
// an empty window title. For `window` this writes an empty title into the
// native window each time it is shown or its title is set empty again: the
// window text on Windows, WM_NAME and _NET_WM_NAME on X11. A non-empty title,
// and other platforms, are left to Qt.
void KeepTitleEmpty(QWidget* window);
