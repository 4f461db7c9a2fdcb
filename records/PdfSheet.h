// The page cursor of the tool's PDF documents (the calibration protocol, the
// record of a configuration write): A4 pages drawn with Qt's own writer, text
// and ruled tables going down the page, and on every page a footer with the
// program's name and version and "Стр. n из m".
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QStringList>
#include <functional>
#include <vector>

#include "VersionInfo.h"

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
        painter_.setFont(font(Bold)); // each value is measured in the font it is drawn in
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

// A4, the margins and resolution of the tool's documents, their title.
inline void SetUpPdfPage(QPdfWriter& w, const QString& title) {
    w.setPageSize(QPageSize(QPageSize::A4));
    w.setPageMargins(QMarginsF(20, 15, 15, 15), QPageLayout::Millimeter);
    w.setResolution(Dpi);
    w.setTitle(title);
    w.setCreator(ProgramNameAndVersion());
}

// A document as PDF bytes: `render` draws it on a Sheet of the given total
// of pages and returns how many it took; a first pass counts them.
inline QByteArray DrawPdf(const QString& title,
                          const std::function<int(QPdfWriter&, int)>& render) {
    int pages = 0;
    for (int pass = 0; pass < 2; ++pass) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QPdfWriter writer(&buffer);
            SetUpPdfPage(writer, title);
            pages = render(writer, pages);
        }
        if (pass == 1)
            return buffer.data();
    }
    return {};
}
