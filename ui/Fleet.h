// "Модули": every module the history knows, with its type, last calibration,
// interval, due date and state, and when the tool last talked to it; found
// by its number, filtered by state, exported as CSV, and each opened to its
// history.
#pragma once

#include <QDialog>
#include <functional>

#include "HistoryStore.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

// Asks for the folder to import from; empty when cancelled. Tests put their
// own here.
extern std::function<QString(QWidget* owner)> AskImportFolder;

class TFleet : public QDialog {
    Q_OBJECT
  public:
    TFleet(QWidget* parent, History::Target target);

    // Reads the fleet from the store; a store that cannot be read says why
    // in the window.
    void load();
    void btHistoryClick();
    void btExportClick();
    // Imports the protocols' CSVs and the configuration files of a folder
    // the technician chooses, then shows the fleet again.
    void btImportClick();
    const QList<History::ModuleRow>& shown() const { return shown_; }

  private:
    void fill();

    History::Target target_;
    QList<History::ModuleRow> rows_;
    QList<History::ModuleRow> shown_;
    QLineEdit* edSearch_;
    QComboBox* cbState_;
    QTableWidget* tbModules_;
    QLabel* lbNote_;
};
