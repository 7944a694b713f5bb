#pragma once

#include <QWidget>

#include <optional>

class TrendSeries;

// The plot of a trend, as the panel beside it drives it: which span it shows, whether it follows
// the newest poll, where the user put the markers. Made by create(), which gives none in a build
// without the plotting library; the panel then shows its figures without a plot.
class TrendView : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;

    static TrendView *create(const TrendSeries &series, QWidget *parent);

    // The series changed: a poll came in. A view that follows moves with it.
    virtual void refresh() = 0;
    // 0: all of the series.
    virtual void setWindowMs(qint64 windowMs) = 0;
    // Following shows the newest window and moves with each poll; not following stays put, to
    // zoom and pan with the mouse.
    virtual void setFollowing(bool following) = 0;
    virtual bool isFollowing() const = 0;
    // The Y axis over these values, or none: scaled to what is shown.
    virtual void setFixedY(std::optional<std::pair<double, double>> range) = 0;
    // The span of time shown, in milliseconds since the epoch.
    virtual std::pair<qint64, qint64> shownSpan() const = 0;
    // The two markers, first and second, where they are set.
    virtual std::optional<qint64> marker(int which) const = 0;
    virtual void clearMarkers() = 0;
    virtual bool savePng(const QString &path) = 0;

signals:
    void spanChanged();
    void followingChanged(bool following);
    void markersChanged();
    // The mouse over the plot: the time and value under it; none when it left.
    void cursorMoved(std::optional<std::pair<qint64, double>> under);
};
