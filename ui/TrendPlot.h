// The plot of the trend: the value against time, painted column by column
// (the lowest and highest value of the points on each pixel column), with a
// red mark where a flag was raised; hovering over a mark names the flags.
#pragma once

#include <QLocale>
#include <QWidget>
#include <vector>

#include "TrendModel.h"

// Numbers of the trend as a Russian reader writes them: a decimal comma and
// no group separator, as the main window shows the value.
QLocale TrendNumbers();

class TrendPlot : public QWidget {
    Q_OBJECT

  public:
    explicit TrendPlot(QWidget* parent = nullptr);

    // What to draw (not owned); null draws an empty plot.
    void setModel(const TrendModel* model);

    // The text shown on hovering at `pos`: the time, value and flag names of
    // the mark there, or an empty text where there is no mark.
    QString markTextAt(const QPoint& pos) const;

    // How long the last paint took, in milliseconds.
    double lastPaintMs() const { return lastPaintMs_; }

    QSize sizeHint() const override { return {640, 360}; }
    QSize minimumSizeHint() const override { return {320, 200}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // A flag mark as painted, with what hovering tells of its column.
    struct Mark {
        QPoint at;
        qint64 from = 0; // times of the column's first and last point
        qint64 to = 0;
        uint16_t min = 0;
        uint16_t max = 0;
        uint8_t flags = 0;
    };

    QRect plotArea() const;
    void paint();

    const TrendModel* model_ = nullptr;
    std::vector<Mark> marks_; // as last painted
    QString unit_;
    double lastPaintMs_ = 0;
};
