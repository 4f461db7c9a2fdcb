// A module's history: its timeline, each entry opened to its details and,
// where a protocol or a configuration was saved, to that file; and the
// drift of each check point's as-found error over the calibrations, with
// the tolerance band.
#pragma once

#include <QDialog>
#include <QWidget>

#include "HistoryViews.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// The drift, drawn with QPainter: one line per check point, the error in %
// of the range's upper limit over time, the tolerance band shaded.
class TDriftPlot : public QWidget {
    Q_OBJECT
  public:
    explicit TDriftPlot(QWidget* parent = nullptr);
    void setSeries(QList<History::DriftSeries> series);
    const QList<History::DriftSeries>& series() const { return series_; }
    QSize sizeHint() const override { return {560, 220}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QList<History::DriftSeries> series_;
};

class TModuleHistory : public QDialog {
    Q_OBJECT
  public:
    TModuleHistory(QWidget* parent, const QString& registration,
                   const QList<History::Entry>& entries);

    void showEntry(int row);
    void btOpenFileClick();
    int entries() const { return static_cast<int>(items_.size()); }
    QString details() const;
    TDriftPlot* drift() const { return drift_; }

  private:
    QList<History::TimelineItem> items_;
    QListWidget* lsTimeline_;
    QPlainTextEdit* details_;
    QPushButton* btOpenFile_;
    TDriftPlot* drift_;
};
