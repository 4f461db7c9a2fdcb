#include "CalibrationProtocol.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QStringList>
#include <vector>

#include "Registers.h"
#include "VersionInfo.h"

namespace {

constexpr int Dpi = 300;

// A page cursor: text and tables go down the page, a new page begins where
// the next piece does not fit, and each page gets its footer.
class Sheet {
  public:
    Sheet(QPdfWriter& writer, int totalPages)
        : writer_(writer), painter_(&writer), total_(totalPages) {
        area_ = writer.pageLayout().paintRectPixels(Dpi);
        area_.moveTo(0, 0);
        bottom_ = area_.bottom() - lineHeight(Small) * 2.5;
        y_ = area_.top();
    }
    ~Sheet() { footer(); }

    int pages() const { return page_; }
    double width() const { return area_.width(); }

    enum Style { Normal, Bold, Title, Small, Heading };

    QFont font(Style s) const {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setStyleHint(QFont::SansSerif);
        f.setPointSizeF(s == Title ? 15 : s == Heading ? 11 : s == Small ? 8 : 9.5);
        f.setBold(s == Title || s == Heading || s == Bold);
        return f;
    }
    double lineHeight(Style s) const { return QFontMetricsF(font(s), &writer_).height() * 1.35; }

    // Room for `height` below the cursor, or a new page.
    void need(double height) {
        if (y_ + height <= bottom_)
            return;
        footer();
        writer_.newPage();
        ++page_;
        y_ = area_.top();
    }
    void space(double lines = 0.6) { y_ += lineHeight(Normal) * lines; }
    // A heading stays with the first lines of what follows it.
    void keep(double lines) { need(lineHeight(Normal) * lines); }

    // A paragraph, wrapped to the width.
    void text(const QString& t, Style s = Normal, Qt::Alignment align = Qt::AlignLeft,
              const QColor& colour = Qt::black) {
        painter_.setFont(font(s));
        const QRectF box(area_.left(), 0, area_.width(), 1e6);
        const QRectF need_ =
            painter_.boundingRect(box, static_cast<int>(align | Qt::TextWordWrap), t);
        const double h = need_.height() + lineHeight(s) * 0.25;
        need(h);
        painter_.setPen(colour);
        painter_.drawText(QRectF(area_.left(), y_, area_.width(), h),
                          static_cast<int>(align | Qt::TextWordWrap), t);
        painter_.setPen(Qt::black);
        y_ += h;
    }

    // Label and value rows, two columns.
    void pairs(const std::vector<std::pair<QString, QString>>& rows, const QColor& mark = Qt::black,
               int markedRow = -1) {
        painter_.setFont(font(Normal));
        const double h = lineHeight(Normal);
        const double split = area_.width() * 0.42;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const QRectF valueBox(area_.left() + split, 0, area_.width() - split, 1e6);
            const double rowH = std::max(
                h, painter_.boundingRect(valueBox, Qt::TextWordWrap, rows[i].second).height() +
                       h * 0.3);
            need(rowH);
            painter_.setFont(font(Normal));
            painter_.drawText(QRectF(area_.left(), y_, split, rowH), Qt::AlignLeft | Qt::AlignTop,
                              rows[i].first);
            painter_.setFont(font(Bold));
            painter_.setPen(static_cast<int>(i) == markedRow ? mark : QColor(Qt::black));
            painter_.drawText(QRectF(area_.left() + split, y_, area_.width() - split, rowH),
                              Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, rows[i].second);
            painter_.setPen(Qt::black);
            y_ += rowH;
        }
    }

    // A ruled table; `widths` are fractions of the width; the header comes
    // again at the top of a new page. Cells of a row in `red` are drawn red in
    // the last column.
    void table(const QStringList& header, const std::vector<QStringList>& rows,
               const std::vector<double>& widths, const std::vector<bool>& red = {}) {
        const double h = lineHeight(Small) * 1.25;
        need(h * std::min<std::size_t>(rows.size() + 1, 3));
        row(header, widths, h, true, false);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (y_ + h > bottom_) {
                need(h * 2);
                row(header, widths, h, true, false);
            }
            row(rows[r], widths, h, false, r < red.size() && red[r]);
        }
    }

    void signatureLine(const QString& role, const QString& name) {
        const double h = lineHeight(Normal) * 2.2;
        need(h);
        painter_.setFont(font(Normal));
        const double w = area_.width();
        painter_.drawText(QRectF(area_.left(), y_, w * 0.3, h), Qt::AlignLeft | Qt::AlignBottom,
                          role);
        painter_.drawLine(QPointF(area_.left() + w * 0.32, y_ + h * 0.85),
                          QPointF(area_.left() + w * 0.6, y_ + h * 0.85));
        painter_.drawText(QRectF(area_.left() + w * 0.62, y_, w * 0.38, h),
                          Qt::AlignLeft | Qt::AlignBottom, name.isEmpty() ? QString() : name);
        y_ += h;
    }

  private:
    void row(const QStringList& cells, const std::vector<double>& widths, double h, bool header,
             bool red) {
        painter_.setFont(font(header ? Bold : Small));
        if (header)
            painter_.setFont([this] {
                QFont f = font(Small);
                f.setBold(true);
                return f;
            }());
        double x = area_.left();
        const double pad = h * 0.2;
        for (int c = 0; c < cells.size() && c < static_cast<int>(widths.size()); ++c) {
            const double w = area_.width() * widths[static_cast<std::size_t>(c)];
            const QRectF cell(x, y_, w, h);
            if (header)
                painter_.fillRect(cell, QColor(230, 230, 230));
            painter_.drawRect(cell);
            painter_.setPen(red && c == cells.size() - 1 ? QColor(Qt::red) : QColor(Qt::black));
            painter_.drawText(
                cell.adjusted(pad, 0, -pad, 0),
                (c == 0 || header ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, cells[c]);
            painter_.setPen(Qt::black);
            x += w;
        }
        y_ += h;
    }

    void footer() {
        if (footerDone_ == page_)
            return;
        footerDone_ = page_;
        painter_.setFont(font(Small));
        const double h = lineHeight(Small);
        const double y = area_.bottom() - h;
        painter_.drawLine(QPointF(area_.left(), y - h * 0.3), QPointF(area_.right(), y - h * 0.3));
        painter_.drawText(QRectF(area_.left(), y, area_.width(), h), Qt::AlignLeft,
                          ProgramNameAndVersion());
        painter_.drawText(
            QRectF(area_.left(), y, area_.width(), h), Qt::AlignRight,
            QStringLiteral("Стр. %1 из %2").arg(page_).arg(total_ > 0 ? total_ : page_));
    }

    QPdfWriter& writer_;
    QPainter painter_;
    QRectF area_;
    double bottom_ = 0;
    double y_ = 0;
    int page_ = 1;
    int footerDone_ = 0;
    int total_ = 0;
};

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

void Setup(QPdfWriter& w, const ProtocolData& d) {
    w.setPageSize(QPageSize(QPageSize::A4));
    w.setPageMargins(QMarginsF(20, 15, 15, 15), QPageLayout::Millimeter);
    w.setResolution(Dpi);
    w.setTitle(d.title() + QLatin1Char(' ') + d.number());
    w.setCreator(ProgramNameAndVersion());
}

} // namespace

QString ProgramNameAndVersion() {
    const auto info = VersionInfo::ofRunningProgram();
    const auto value = [&](const char* key) {
        const QString path = QStringLiteral("\\StringFileInfo\\") + VersionInfo::Block +
                             QLatin1Char('\\') + QLatin1String(key);
        return info ? info->query(path).value_or(QString()) : QString();
    };
    return (value("ProductName") + QLatin1Char(' ') + value("FileVersion")).trimmed();
}

QByteArray ProtocolPdf(const ProtocolData& data) {
    // A first pass counts the pages for "page n of m".
    QBuffer scratch;
    scratch.open(QIODevice::WriteOnly);
    int pages = 0;
    {
        QPdfWriter counting(&scratch);
        Setup(counting, data);
        pages = Render(counting, data, 0);
    }
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        Setup(writer, data);
        Render(writer, data, pages);
    }
    return pdf.data();
}
