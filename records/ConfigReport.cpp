#include "ConfigReport.h"

#include <QDir>
#include <algorithm>

#include "PdfSheet.h"

using config::Param;

bool ConfigWriteRecord::wasWritten(Param p) const {
    return std::find(written.begin(), written.end(), p) != written.end();
}

namespace {

int Render(QPdfWriter& writer, const ConfigWriteRecord& r, int totalPages) {
    Sheet s(writer, totalPages);
    s.text(QStringLiteral("Отчёт о записи конфигурации модуля"), Sheet::Title, Qt::AlignHCenter);
    s.text(r.when.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")), Sheet::Normal, Qt::AlignHCenter);
    s.space();
    s.pairs(
        {{QStringLiteral("Файл конфигурации"), QDir::toNativeSeparators(r.path)},
         {QStringLiteral("Сохранён программой"), config::Clipped(r.file.program)},
         {QStringLiteral("Модуль прочитан для файла"),
          r.file.read.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))},
         {QStringLiteral("Модуль"),
          config::ValueText(Param::Type, r.before[Param::Type]) + QStringLiteral(", рег. номер ") +
              config::ValueText(Param::Serial, r.before[Param::Serial]) +
              QStringLiteral(", версия ПО ") +
              config::ValueText(Param::Version, r.before[Param::Version])}});
    s.space();
    std::vector<QStringList> rows;
    std::vector<bool> red;
    for (int i = 0; i < config::ParamCount; ++i) {
        const auto p = static_cast<Param>(i);
        const bool written = r.wasWritten(p);
        const bool differs = r.after[p] != r.file[p];
        QString result;
        if (!differs)
            result = written ? QStringLiteral("записан") : QStringLiteral("совпадает");
        else if (!r.after[p])
            result = QStringLiteral("не прочитан");
        else
            result = written ? QStringLiteral("отличается") : QStringLiteral("не записан");
        rows.push_back({config::ParamName(p), config::ValueText(p, r.file[p]),
                        config::ValueText(p, r.before[p]), config::ValueText(p, r.after[p]),
                        result});
        red.push_back(written && differs && r.after[p]);
    }
    s.table({QStringLiteral("Параметр"), QStringLiteral("В файле"), QStringLiteral("До записи"),
             QStringLiteral("После записи"), QStringLiteral("Итог")},
            rows, {0.33, 0.17, 0.17, 0.17, 0.16}, red);
    s.space();
    s.text(QStringLiteral("Итог"), Sheet::Heading);
    s.text(r.outcome);
    s.space();
    s.signatureLine(QStringLiteral("Запись выполнил"), QString());
    return s.pages();
}

} // namespace

QByteArray ConfigReportPdf(const ConfigWriteRecord& r) {
    return DrawPdf(QStringLiteral("Отчёт о записи конфигурации"),
                   [&r](QPdfWriter& w, int total) { return Render(w, r, total); });
}
