// The boxes behind the seam as widgets, made but not shown: the program's
// seam (app/RealUi) shows them, the file dialogs ask with them, and the
// pictures and tests look at them. Their texts are plain text.
#pragma once

#include <QInputDialog>
#include <QMessageBox>
#include <memory>

#include "Seam.h"

// A message box with one OK button; an empty caption stays empty, not the
// program's name.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const QString& text,
                                            const QString& caption, seam::Icon icon);
// The standard input box: one unmasked edit of at most 255 characters,
// "OK" and "Cancel".
std::unique_ptr<QInputDialog> MakeInputBox(QWidget* owner, const QString& caption,
                                           const QString& prompt, const QString& value);
// The password box: the input box with its edit masked, empty, and the
// buttons "OK" and "Отмена".
std::unique_ptr<QInputDialog> MakePasswordBox(QWidget* owner, const QString& caption,
                                              const QString& prompt);
