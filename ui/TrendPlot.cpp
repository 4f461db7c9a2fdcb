#include "TrendPlot.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>
#include <cmath>

QLocale TrendNumbers() {
    QLocale locale(QLocale::Russian, QLocale::Russia);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

namespace {

// A step of 1, 2 or 5 times a power of ten that cuts `range` into about `parts`.
double NiceStep(double range, int parts) {
    const double raw = range / std::max(parts, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power)
            return m * power;
    return 10 * power;
}

// Decimals that show a step without rounding it away.
int DecimalsOf(double step) {
    return step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

struct TimeScale {
    double msPerUnit;
    const char16_t* unit;
};

// Seconds up to two minutes, minutes up to two hours, then hours.
TimeScale TimeScaleFor(qint64 spanMs) {
    if (spanMs <= 120'000)
        return {1000.0, u"с"};
    if (spanMs <= 120 * 60'000)
        return {60'000.0, u"мин"};
    return {3'600'000.0, u"ч"};
}

constexpr int MarkReach = 5; // pixels around a mark that hovering finds it

} // namespace

TrendPlot::TrendPlot(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

void TrendPlot::setModel(const TrendModel* model) {
    model_ = model;
    update();
}

QRect TrendPlot::plotArea() const {
    const QFontMetrics fm = fontMetrics();
    const int left = fm.horizontalAdvance(QStringLiteral("000000")) + 12;
    const int top = fm.height() + 10;
    const int bottom = 2 * fm.height() + 14;
    return QRect(left, top, std::max(width() - left - 16, 1), std::max(height() - top - bottom, 1));
}

void TrendPlot::paintEvent(QPaintEvent*) {
    QElapsedTimer took;
    took.start();
    paint();
    lastPaintMs_ = took.nsecsElapsed() / 1e6;
}

void TrendPlot::paint() {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QRect area = plotArea();
    const QFontMetrics fm = fontMetrics();
    marks_.clear();

    p.setPen(QColor(128, 128, 128));
    p.drawRect(area.adjusted(0, 0, -1, -1));
    if (!model_ || model_->size() == 0) {
        p.setPen(Qt::black);
        p.drawText(area, Qt::AlignCenter, QStringLiteral("Нет данных"));
        return;
    }
    const TrendModel& m = *model_;
    const QLocale numbers = TrendNumbers();
    // The points keep clear of the frame's left and right sides.
    const QRect track = area.adjusted(6, 0, -6, 0);
    const std::vector<TrendColumn> columns = m.columns(track.width());
    uint16_t lowest = 0xFFFF;
    uint16_t highest = 0;
    for (const TrendColumn& c : columns) {
        lowest = std::min(lowest, c.min);
        highest = std::max(highest, c.max);
    }

    // Value axis: the range of the points with a margin, on round steps.
    const int ticks = std::max(area.height() / (2 * fm.height()), 2);
    // A little room above and below, so that no point sits on the frame.
    const double pad = std::max((highest - lowest) * 0.05, 1.0);
    double lo = std::max(lowest - pad, 0.0); // the value has no sign
    double hi = highest + pad;
    const double vStep = std::max(NiceStep(hi - lo, ticks), 1.0); // the values are whole
    lo = std::floor(lo / vStep) * vStep;
    hi = std::ceil(hi / vStep) * vStep;
    const auto yOf = [&](double v) {
        return area.bottom() -
               static_cast<int>(std::lround((v - lo) * (area.height() - 1) / (hi - lo)));
    };
    const QPen gridPen(QColor(225, 225, 225));
    const int vDecimals = DecimalsOf(vStep);
    for (double v = lo; v <= hi + vStep / 2; v += vStep) {
        const int y = yOf(v);
        p.setPen(gridPen);
        p.drawLine(area.left() + 1, y, area.right() - 1, y);
        p.setPen(Qt::black);
        p.drawText(QRect(0, y - fm.height() / 2, area.left() - 6, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, numbers.toString(v, 'f', vDecimals));
    }
    unit_ = m.unit();
    p.drawText(QRect(area.left(), 2, area.width(), fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               unit_);

    // Time axis: from the first point, in seconds, minutes or hours, on the
    // steady clock; the wall clock only names the first point's time.
    const qint64 t0 = m.at(0).elapsed;
    const qint64 span = m.at(m.size() - 1).elapsed - t0;
    const TimeScale scale = TimeScaleFor(span);
    const double spanUnits = std::max(span / scale.msPerUnit, 1e-3);
    const double tStep = NiceStep(
        spanUnits, std::max(area.width() / (fm.horizontalAdvance(QStringLiteral("00000")) * 2), 2));
    const int tDecimals = span > 0 ? DecimalsOf(tStep) : 0;
    for (double t = 0; t <= spanUnits + tStep * 1e-6; t += tStep) {
        const int x =
            span > 0
                ? track.left() + static_cast<int>(std::lround(t / spanUnits * (track.width() - 1)))
                : track.left() + track.width() / 2; // a single point stands in the middle
        p.setPen(gridPen);
        p.drawLine(x, area.top() + 1, x, area.bottom() - 1);
        p.setPen(Qt::black);
        p.drawText(QRect(x - 40, area.bottom() + 4, 80, fm.height()),
                   Qt::AlignHCenter | Qt::AlignTop, numbers.toString(t, 'f', tDecimals));
        if (span == 0)
            break;
    }
    const QString start = QDateTime::fromMSecsSinceEpoch(m.at(0).msecs)
                              .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    p.drawText(QRect(area.left(), area.bottom() + 6 + fm.height(), area.width(), fm.height()),
               Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("Время, %1 (от %2)").arg(QString::fromUtf16(scale.unit), start));

    // The line: each column from its lowest to its highest value, joined to
    // the column before unless a failed poll lies between.
    p.setClipRect(area.adjusted(1, 1, -1, -1));
    p.setRenderHint(QPainter::Antialiasing, false);
    QPen linePen(QColor(0, 0, 192), 1);
    linePen.setCosmetic(true);
    p.setPen(linePen);
    // A single point (no span) stands in the middle.
    const auto xOf = [&](const TrendColumn& c) {
        return track.left() + (span > 0 ? c.x : track.width() / 2);
    };
    const bool sparse = m.size() * 4 <= track.width();
    QList<QLine> lines;
    QList<QPoint> points;
    lines.reserve(2 * static_cast<qsizetype>(columns.size()));
    const TrendColumn* previous = nullptr;
    for (const TrendColumn& c : columns) {
        const int x = xOf(c);
        if (previous && c.joined)
            lines.append(QLine(xOf(*previous), yOf(previous->last), x, yOf(c.first)));
        if (c.max != c.min)
            lines.append(QLine(x, yOf(c.min), x, yOf(c.max)));
        else
            points.append(QPoint(x, yOf(c.min)));
        previous = &c;
    }
    p.drawLines(lines);
    p.drawPoints(points);
    if (sparse) // each point a small circle, when there are few
        for (const TrendColumn& c : columns)
            p.drawEllipse(QPoint(xOf(c), yOf(c.min)), 2, 2);

    // A red triangle over each column where a flag was raised.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 0, 0));
    for (const TrendColumn& c : columns) {
        if (!c.flags)
            continue;
        const int x = xOf(c);
        const int y = std::max(yOf(c.max) - 4, area.top() + 6);
        const QPoint tri[3] = {QPoint(x, y), QPoint(x - 4, y - 6), QPoint(x + 4, y - 6)};
        p.drawPolygon(tri, 3);
        marks_.push_back({QPoint(x, y - 3), m.at(c.firstIndex).msecs, m.at(c.lastIndex).msecs,
                          c.min, c.max, c.flags});
    }
}

QString TrendPlot::markTextAt(const QPoint& pos) const {
    const Mark* best = nullptr;
    int bestDistance = MarkReach + 1;
    for (const Mark& mark : marks_) {
        const int dx = std::abs(mark.at.x() - pos.x());
        const int dy = std::abs(mark.at.y() - pos.y());
        if (dx <= MarkReach && dy <= MarkReach + 3 && dx < bestDistance) {
            best = &mark;
            bestDistance = dx;
        }
    }
    if (!best)
        return {};
    const auto timeText = [](qint64 msecs) {
        return QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("HH:mm:ss,zzz"));
    };
    QString text = timeText(best->from);
    if (best->to != best->from)
        text += QStringLiteral(" – ") + timeText(best->to);
    text += QLatin1Char('\n') + QString::number(best->min);
    if (best->max != best->min)
        text += QStringLiteral(" – ") + QString::number(best->max);
    text += QLatin1Char(' ') + unit_;
    for (const QString& name : FlagNames(best->flags))
        text += QLatin1Char('\n') + name;
    return text;
}

bool TrendPlot::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = markTextAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}
