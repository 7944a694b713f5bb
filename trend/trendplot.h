#pragma once

#include "trendview.h"

class QCPGraph;
class QCPItemStraightLine;
class QCPItemTracer;
class QCustomPlot;
class QMouseEvent;
class QWheelEvent;
class TrendSeries;

// The trend drawn by QCustomPlot: the reading against wall-clock time, a failed poll a break in
// the line and a red cross at the foot, a flag word's change an orange line across. Following,
// it shows the newest window; the wheel, a drag or the markers stop that, and a double click
// takes it up again. The right button puts the two markers, in turn.
class TrendPlot : public TrendView
{
    Q_OBJECT

public:
    TrendPlot(const TrendSeries &series, QWidget *parent);
    ~TrendPlot() override;

    void refresh() override;
    void setWindowMs(qint64 windowMs) override;
    void setFollowing(bool following) override;
    bool isFollowing() const override { return m_following; }
    void setFixedY(std::optional<std::pair<double, double>> range) override;
    std::pair<qint64, qint64> shownSpan() const override;
    std::optional<qint64> marker(int which) const override;
    void clearMarkers() override;
    bool savePng(const QString &path) override;

    // The plot itself, for a benchmark or a test that draws it.
    QCustomPlot *plot() const { return m_plot; }

private:
    void follow();
    void reload();
    void drawMarks();
    void scaleY();
    void putMarker(double key);
    void mousePressed(QMouseEvent *event);
    void mouseMoved(QMouseEvent *event);

    const TrendSeries &m_series;
    QCustomPlot *m_plot;
    QCPGraph *m_graph;
    QCPGraph *m_failures;
    QCPItemTracer *m_tracer;
    QCPItemStraightLine *m_markers[2];
    bool m_markerSet[2] = {false, false};
    int m_nextMarker = 0;
    qint64 m_windowMs = 0;
    bool m_following = true;
    bool m_reloading = false;
    std::optional<std::pair<double, double>> m_fixedY;
};
