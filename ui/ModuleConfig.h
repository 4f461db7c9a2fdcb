// "Конфигурация модуля": the module's settings that may be copied to another
// module and what belongs to this unit alone, saved to a file, compared with
// one, and written back from one (also into the module that replaces it).
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <optional>
#include <span>

#include "ConfigReport.h"
#include "Configuration.h"

class QShowEvent;
class QTableWidget;

namespace Ui {
class TModConfig;
}

class TModConfig : public QDialog {
    Q_OBJECT

  public:
    // Reads the module once the window is shown.
    explicit TModConfig(QWidget* parent);
    ~TModConfig() override;

    // "Прочитать": the module's configuration into the tables.
    void btReadClick();
    // "Сохранить в файл...": reads the module and saves what it read.
    void btSaveClick();
    // "Сравнить с файлом...": the file beside the module, differences marked.
    void btCompareClick();
    // "Записать из файла...": checks the file against the module, asks,
    // writes, reads the module back and shows the comparison.
    void btWriteClick();
    // "Отчёт о записи...": the last write as a PDF file.
    void btReportClick();

    const config::Configuration& moduleConfig() const { return module_; }
    const std::optional<ConfigWriteRecord>& lastWrite() const { return lastWrite_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void readModule();
    QString askFile(const QString& caption);
    void showFile(const QString& path, const config::Configuration& file);
    void showTables();
    void fitHeight();
    void fillTable(QTableWidget* table, std::span<const config::Param> params);
    bool confirm(const config::WritePlan& plan, const QString& path);
    void write(const config::WritePlan& plan, const QString& path);

    std::unique_ptr<Ui::TModConfig> ui;
    config::Configuration module_;
    std::optional<config::Configuration> file_; // the file compared with the module
    QString shownPath_;                         // and its path
    QString filePath_;                          // where the file dialogs start
    std::optional<ConfigWriteRecord> lastWrite_;
    bool readOnShow_ = true;
};
