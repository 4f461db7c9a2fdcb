#include "ModuleHistory.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

#include "Errors.h"
#include "Seam.h"

TDriftPlot::TDriftPlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("DriftPlot"));
    setMinimumSize(320, 160);
}

void TDriftPlot::setSeries(QList<History::DriftSeries> series) {
    series_ = std::move(series);
    update();
}

void TDriftPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const QRectF area = QRectF(rect()).adjusted(56, 12, -150, -28);
    p.setPen(palette().color(QPalette::Text));
    if (series_.isEmpty()) {
        p.drawText(rect(), Qt::AlignCenter,
                   QStringLiteral("Калибровок с результатами «как найден» нет"));
        return;
    }
    // The scales: time over every point, the error symmetric around zero
    // and wide enough for the band and every point.
    qint64 t0 = std::numeric_limits<qint64>::max();
    qint64 t1 = std::numeric_limits<qint64>::min();
    double span = 0;
    for (const auto& s : series_) {
        span = std::max(span, s.tolerancePercent);
        for (const auto& pt : s.points) {
            t0 = std::min(t0, pt.when.toMSecsSinceEpoch());
            t1 = std::max(t1, pt.when.toMSecsSinceEpoch());
            span = std::max(span, std::fabs(pt.errorPercent));
        }
    }
    span = span > 0 ? span * 1.15 : 1.0;
    if (t1 == t0) {
        t0 -= 86400000LL * 30;
        t1 += 86400000LL * 30;
    }
    const auto x = [&](const QDateTime& t) {
        return area.left() + area.width() * double(t.toMSecsSinceEpoch() - t0) / double(t1 - t0);
    };
    const auto y = [&](double e) { return area.center().y() - area.height() / 2 * e / span; };

    // The tolerance band (the widest of the points').
    double tolerance = 0;
    for (const auto& s : series_)
        tolerance = std::max(tolerance, s.tolerancePercent);
    if (tolerance > 0)
        p.fillRect(QRectF(QPointF(area.left(), y(tolerance)), QPointF(area.right(), y(-tolerance))),
                   QColor(0, 160, 0, 40));
    p.setPen(QPen(palette().color(QPalette::Mid), 1));
    p.drawRect(area);
    p.drawLine(QPointF(area.left(), y(0)), QPointF(area.right(), y(0)));
    p.setPen(palette().color(QPalette::Text));
    const QString unit = QStringLiteral("%");
    for (double v : {span, tolerance, 0.0, -tolerance, -span}) {
        if (v != 0 && std::fabs(v) < 1e-9)
            continue;
        p.drawText(QRectF(0, y(v) - 8, area.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v, 'f', 2).replace(QLatin1Char('.'), QLatin1Char(',')) + unit);
    }
    p.drawText(QRectF(area.left(), area.bottom() + 4, 100, 18), Qt::AlignLeft,
               QDateTime::fromMSecsSinceEpoch(t0).toString(QStringLiteral("dd.MM.yyyy")));
    p.drawText(QRectF(area.right() - 100, area.bottom() + 4, 100, 18), Qt::AlignRight,
               QDateTime::fromMSecsSinceEpoch(t1).toString(QStringLiteral("dd.MM.yyyy")));

    static const QColor colours[] = {QColor(0, 90, 200),  QColor(200, 60, 0),  QColor(0, 140, 70),
                                     QColor(150, 0, 150), QColor(120, 100, 0), QColor(0, 140, 160)};
    for (int i = 0; i < series_.size(); ++i) {
        const auto& s = series_[i];
        const QColor c = colours[i % 6];
        p.setPen(QPen(c, 1.5));
        QPainterPath path;
        for (int k = 0; k < s.points.size(); ++k) {
            const QPointF at(x(s.points[k].when), y(s.points[k].errorPercent));
            if (k == 0)
                path.moveTo(at);
            else
                path.lineTo(at);
            p.setBrush(c);
            p.drawEllipse(at, 2.5, 2.5);
            p.setBrush(Qt::NoBrush);
        }
        p.drawPath(path);
        p.drawText(QRectF(area.right() + 8, area.top() + 18 * i, 140, 18),
                   Qt::AlignLeft | Qt::AlignVCenter, s.name);
    }
}

TModuleHistory::TModuleHistory(QWidget* parent, const QString& registration,
                               const QList<History::Entry>& entries)
    : QDialog(parent), items_(History::Timeline(entries)), lsTimeline_(new QListWidget(this)),
      details_(new QPlainTextEdit(this)),
      btOpenFile_(new QPushButton(QStringLiteral("Открыть файл"), this)),
      drift_(new TDriftPlot(this)) {
    setObjectName(QStringLiteral("TModuleHistory"));
    setWindowTitle(QStringLiteral("История модуля %1").arg(registration));
    lsTimeline_->setObjectName(QStringLiteral("lsTimeline"));
    details_->setObjectName(QStringLiteral("edDetails"));
    details_->setReadOnly(true);
    btOpenFile_->setObjectName(QStringLiteral("btOpenFile"));
    btOpenFile_->setEnabled(false);
    for (const auto& item : items_) {
        auto* row = new QListWidgetItem(item.line, lsTimeline_);
        if (item.corrected)
            row->setForeground(QColor(128, 128, 128));
    }
    drift_->setSeries(History::DriftOf(entries));

    auto* driftTitle = new QLabel(
        QStringLiteral(
            "Погрешность «как найден» по калибровкам, % от верхнего предела, с допуском"),
        this);
    auto* btClose = new QPushButton(QStringLiteral("Закрыть"), this);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(lsTimeline_);
    split->addWidget(details_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btOpenFile_);
    buttons->addStretch(1);
    buttons->addWidget(btClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split, 3);
    layout->addWidget(driftTitle);
    layout->addWidget(drift_, 2);
    layout->addLayout(buttons);
    resize(900, 620);

    connect(lsTimeline_, &QListWidget::currentRowChanged, this, &TModuleHistory::showEntry);
    connect(btOpenFile_, &QPushButton::clicked, this,
            seam::Guarded(this, &TModuleHistory::btOpenFileClick));
    connect(btClose, &QPushButton::clicked, this, &QDialog::accept);
    if (!items_.isEmpty())
        lsTimeline_->setCurrentRow(static_cast<int>(items_.size()) - 1);
}

void TModuleHistory::showEntry(int row) {
    if (row < 0 || row >= items_.size()) {
        details_->clear();
        btOpenFile_->setEnabled(false);
        return;
    }
    details_->setPlainText(History::DetailsText(items_[row].entry));
    btOpenFile_->setEnabled(!items_[row].entry.fileName.isEmpty());
}

QString TModuleHistory::details() const {
    return details_->toPlainText();
}

void TModuleHistory::btOpenFileClick() {
    const int row = lsTimeline_->currentRow();
    if (row < 0 || row >= items_.size())
        return;
    const QString path = QDir::fromNativeSeparators(items_[row].entry.fileName);
    if (!QFileInfo(path).isFile())
        throw Exception(QStringLiteral("Файл %1 не найден.").arg(QuotedPath(path)));
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
