// "Модули на линии": scans the line for the modules on it, lists them with
// their identities and states, and takes the tool's link over to one of them.
#pragma once

#include <QDialog>
#include <memory>

#include "BusScan.h"

class QTimer;

namespace Ui {
class TBusScan;
}

class TBusScan : public QDialog {
    Q_OBJECT

  public:
    explicit TBusScan(QWidget* parent = nullptr);
    ~TBusScan() override;

    // The scan runs one step per turn of the event loop, between the events.
    QTimer* tmScan;

    void btStartClick();
    void btStopClick();
    void tmScanTimer();
    // Takes the tool's link over to the selected module, as "OK" in the port
    // settings does, once its registration number has been read there again.
    void btWorkClick();
    void btCopyClick();
    void btSaveClick();
    // Every way of closing comes here: a scan still running is stopped and
    // the link put back first.
    void done(int result) override;

    const bus::BusScan* scan() const { return scan_.get(); }
    // The rows of the list as they were last shown.
    const std::vector<bus::Found>& modules() const { return shown_; }

  private:
    void showProgress();
    void showModules();
    void scanEnded();
    void selectionChanged();
    const bus::Found* selected() const;
    QString title() const;

    std::unique_ptr<Ui::TBusScan> ui;
    std::unique_ptr<bus::BusScan> scan_;
    std::vector<bus::Found> shown_;
};
