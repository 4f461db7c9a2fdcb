#include "CalibrationProtocol.h"

#include <QPdfWriter>
#include <QRegularExpression>

#include "Errors.h"
#include "PdfSheet.h"
#include "Registers.h"

namespace {

QString RangeTitle(Range r) {
    return r == Range::Current ? QStringLiteral("Диапазон тока (верхний предел 20 мА), мкА")
                               : QStringLiteral("Диапазон напряжения (верхний предел 10 В), мВ");
}

QString SignedText(double v, int decimals) {
    const QString t = DecimalText(v, decimals);
    return v > 0 && t.contains(QRegularExpression(QStringLiteral("[1-9]"))) ? QLatin1Char('+') + t
                                                                            : t;
}

void CheckTables(Sheet& s, const CheckResult& check) {
    const QStringList header = {QStringLiteral("Точка"),       QStringLiteral("Номинал"),
                                QStringLiteral("Среднее"),     QStringLiteral("Размах"),
                                QStringLiteral("Погрешность"), QStringLiteral("Погр., %"),
                                QStringLiteral("Допуск"),      QStringLiteral("Вывод")};
    const std::vector<double> widths = {0.12, 0.12, 0.13, 0.1, 0.14, 0.12, 0.12, 0.15};
    for (Range range : {Range::Current, Range::Voltage}) {
        std::vector<QStringList> rows;
        std::vector<bool> red;
        for (const PointResult& p : check.points) {
            if (p.point.range != range)
                continue;
            rows.push_back(
                {SignalText(p.point), QString::number(p.point.nominal), DecimalText(p.mean, 1),
                 DecimalText(p.spread, 0), SignedText(p.error, 1), SignedText(p.errorPercent, 3),
                 QStringLiteral("±") + DecimalText(p.tolerance, 1), VerdictText(p.pass)});
            red.push_back(!p.pass);
        }
        if (rows.empty())
            continue;
        s.keep(5);
        s.text(RangeTitle(range), Sheet::Bold);
        s.table(header, rows, widths, red);
        for (const PointResult& p : check.points)
            if (p.point.range == range && p.flags)
                s.text(QStringLiteral("Точка %1 не годна: при отсчётах %2.")
                           .arg(SignalText(p.point), FlagsReason(p.flags)),
                       Sheet::Small, Qt::AlignLeft, Qt::red);
        s.space(0.4);
    }
}

QString CheckMethod(const CheckResult& c) {
    int samples = 0;
    for (const PointResult& p : c.points)
        samples = std::max<int>(samples, static_cast<int>(p.samples.size()));
    if (c.fromCalibration)
        return QStringLiteral("По отсчётам мастера калибровки R1-R4 (по одному отсчёту в точке), "
                              "снятым с коэффициентами модуля после их проверки при входе в шаг 1; "
                              "допуск ±%1 % от верхнего предела диапазона.")
            .arg(ToleranceText(c.tolerancePercent));
    return QStringLiteral("Эталонный сигнал подаётся на вход модуля; после выдержки 6 с "
                          "считывается входное значение (регистр 1025) с флагами ошибок %1 %2, "
                          "берётся среднее. Допуск ±%3 % от верхнего предела диапазона; точка, "
                          "в которой модуль поднял флаг ошибки, не годна. Проверка от %4.")
        .arg(samples)
        .arg(PluralForm(samples, QStringLiteral("раз"), QStringLiteral("раза"),
                        QStringLiteral("раз")))
        .arg(ToleranceText(c.tolerancePercent))
        .arg(c.when.toString(QStringLiteral("dd.MM.yyyy HH:mm")));
}

const QStringList CoefficientNames = {QStringLiteral("Усиление, ток (рег. 8-9)"),
                                      QStringLiteral("Смещение, ток (рег. 10-11)"),
                                      QStringLiteral("Усиление, напряжение (рег. 12-13)"),
                                      QStringLiteral("Смещение, напряжение (рег. 14-15)")};

int Render(QPdfWriter& writer, const ProtocolData& d, int totalPages) {
    Sheet s(writer, totalPages);
    const ProtocolPeople& p = d.people;
    s.text(d.title(), Sheet::Title, Qt::AlignHCenter);
    s.text(QStringLiteral("№ %1 от %2")
               .arg(d.number(), d.made.toString(QStringLiteral("dd.MM.yyyy HH:mm"))),
           Sheet::Normal, Qt::AlignHCenter);
    s.space();

    s.text(QStringLiteral("1. Модуль"), Sheet::Heading);
    std::vector<std::pair<QString, QString>> module = {
        {QStringLiteral("Тип модуля"), ModuleTypeText(d.module.type)},
        {QStringLiteral("Регистрационный номер"), RegistrationText(d.module.serial)},
        {QStringLiteral("Версия ПО"), QString::fromStdString(reg::VersionText(d.module.version))},
        {QStringLiteral("Дата изготовления"), PackedDateText(d.module.manufactureDate)}};
    if (d.calibration()) {
        module.push_back(
            {QStringLiteral("Дата калибровки до"), PackedDateText(d.module.calibrationDate)});
        module.push_back(
            {QStringLiteral("Дата калибровки после"), PackedDateText(d.calibrationDateAfter())});
    } else {
        module.push_back(
            {QStringLiteral("Дата калибровки"), PackedDateText(d.module.calibrationDate)});
    }
    module.push_back({QStringLiteral("Следующая калибровка"), d.nextCalibrationText()});
    s.pairs(module);
    s.space();

    s.text(d.calibration() ? QStringLiteral("2. Исполнитель и средства калибровки")
                           : QStringLiteral("2. Исполнитель и средства проверки"),
           Sheet::Heading);
    const bool expired = p.referenceExpired(d.made.date());
    QString valid = p.referenceValidUntil.toString(QStringLiteral("dd.MM.yyyy"));
    if (expired)
        valid += QStringLiteral(" — СРОК ДЕЙСТВИЯ ИСТЁК");
    s.pairs(
        {{QStringLiteral("Исполнитель"), p.technician},
         {QStringLiteral("Организация"),
          p.organisation.isEmpty() ? QStringLiteral("—") : p.organisation},
         {QStringLiteral("Эталон"), p.reference},
         {QStringLiteral("Заводской номер эталона"),
          p.referenceSerial.isEmpty() ? QStringLiteral("—") : p.referenceSerial},
         {QStringLiteral("Эталон действителен до"), valid},
         {QStringLiteral("Температура окружающего воздуха"),
          p.temperature.isEmpty() ? QStringLiteral("—") : p.temperature + QStringLiteral(" °C")}},
        Qt::red, expired ? 4 : -1);
    s.space();

    int section = 3;
    if (d.asFound) {
        s.keep(9);
        s.text(QStringLiteral("%1. ").arg(section++) +
                   (d.adjustment ? QStringLiteral("Результаты проверки до калибровки")
                                 : QStringLiteral("Результаты проверки")),
               Sheet::Heading);
        s.text(CheckMethod(*d.asFound), Sheet::Small);
        CheckTables(s, *d.asFound);
        s.space(0.4);
    }
    if (d.adjustment) {
        const CalibrationResult& a = *d.adjustment;
        s.keep(9);
        s.text(QStringLiteral("%1. Подстройка").arg(section++), Sheet::Heading);
        std::vector<QStringList> readings;
        const QStringList refs = {QStringLiteral("2 мА"), QStringLiteral("20 мА"),
                                  QStringLiteral("1 В"), QStringLiteral("10 В")};
        for (std::size_t i = 0; i < a.readings.size(); ++i)
            readings.push_back({QStringLiteral("R%1").arg(i + 1), refs[static_cast<int>(i)],
                                QString::number(a.nominal[i]), QString::number(a.readings[i])});
        s.table({QStringLiteral("Отсчёт"), QStringLiteral("Сигнал"), QStringLiteral("Номинал"),
                 QStringLiteral("Показание")},
                readings, {0.2, 0.2, 0.25, 0.25});
        s.space(0.4);
        std::vector<QStringList> coefficients;
        for (std::size_t i = 0; i < a.held.size(); ++i)
            coefficients.push_back({CoefficientNames[static_cast<int>(i)],
                                    QString::number(a.held[i]), QString::number(a.written[i])});
        s.table({QStringLiteral("Коэффициент"), QStringLiteral("До"), QStringLiteral("После")},
                coefficients, {0.5, 0.25, 0.25});
        if (a.checksumError)
            s.text(QStringLiteral("Контрольная сумма параметров модуля была нарушена: коэффициенты "
                                  "не считывались, записаны заводские значения."),
                   Sheet::Small);
        for (std::size_t i = 0; i < a.reset.size(); ++i)
            if (a.reset[i])
                s.text(
                    QStringLiteral("%1: прочитано %2, вне допустимого окна; сброшен к заводскому "
                                   "значению %3 при входе в шаг 1.")
                        .arg(CoefficientNames[static_cast<int>(i)])
                        .arg(a.asRead[i])
                        .arg(a.held[i]),
                    Sheet::Small);
        s.space(0.4);
    }
    if (d.calibration()) {
        s.keep(9);
        s.text(QStringLiteral("%1. Результаты проверки после калибровки").arg(section++),
               Sheet::Heading);
        if (d.asLeft) {
            s.text(CheckMethod(*d.asLeft), Sheet::Small);
            CheckTables(s, *d.asLeft);
        } else {
            s.text(QStringLiteral("Не проводилась."));
        }
        s.space(0.4);
    }
    const bool failed = d.hasVerdict() && !d.pass();
    s.text(QStringLiteral("Заключение: ") + d.verdictText(), Sheet::Heading, Qt::AlignLeft,
           failed ? QColor(Qt::red) : QColor(Qt::black));
    s.space();
    s.signatureLine(d.calibration() ? QStringLiteral("Калибровку выполнил")
                                    : QStringLiteral("Проверку выполнил"),
                    p.technician);
    s.signatureLine(QStringLiteral("Протокол проверил"), QString());
    s.space(0.8);
    s.text(QStringLiteral("Дата: ") + d.made.toString(QStringLiteral("dd.MM.yyyy")), Sheet::Normal);
    return s.pages();
}

} // namespace

QByteArray ProtocolPdf(const ProtocolData& data) {
    return DrawPdf(data.title() + QLatin1Char(' ') + data.number(),
                   [&](QPdfWriter& writer, int pages) { return Render(writer, data, pages); });
}
