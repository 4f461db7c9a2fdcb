#include "SaveAs.h"

#include <QFileDialog>

SaveFileAsker AskSaveFileName = [](QWidget* owner, const QString& caption, const QString& suggested,
                                   const QString& filter, bool confirmOverwrite) {
    QFileDialog::Options options;
    if (!confirmOverwrite)
        options |= QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(owner, caption, suggested, filter, nullptr, options);
};
