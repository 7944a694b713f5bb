#include "trendplot.h"

#include "trendseries.h"

#include <QVBoxLayout>
#include <qcustomplot.h>

#include <cmath>

namespace {

// QCustomPlot's date axis counts seconds since the epoch.
double keyOf(qint64 ms)
{
    return double(ms) / 1000.0;
}

qint64 msOf(double key)
{
    return qint64(std::llround(key * 1000.0));
}

// Marks on the time axis: the failure crosses sit on an axis of their own from 0 to 1, at the
// foot of the plot whatever the reading's scale.
constexpr double kFailureHeight = 0.04;
// A window with no poll yet, or a single one, still spans some time.
constexpr qint64 kLeastSpanMs = 10 * 1000;
// The part of the Y range left free above and below the values shown.
constexpr double kYMargin = 0.05;
// More mark lines than this in one view would hide the trace; the newest are drawn.
constexpr int kMostDrawnMarks = 200;

const QColor kTraceColour(0, 90, 180);
const QColor kFailureColour(220, 0, 0);
const QColor kMarkColour(230, 130, 0);
const QColor kMarkerColour(0, 150, 60);

} // namespace

TrendPlot::TrendPlot(const TrendSeries &series, QWidget *parent)
    : TrendView(parent), m_series(series), m_plot(new QCustomPlot(this))
{
    setObjectName(QStringLiteral("trendPlot"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);
    m_plot->setObjectName(QStringLiteral("plotTrend"));
    m_plot->setMinimumSize(160, 80);

    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    ticker->setTickCount(4);
    m_plot->xAxis->setTicker(ticker);
    QFont small = font();
    small.setPointSize(7);
    m_plot->xAxis->setTickLabelFont(small);
    m_plot->yAxis->setTickLabelFont(small);
    m_plot->axisRect()->setAutoMargins(QCP::msLeft | QCP::msBottom);
    m_plot->axisRect()->setMargins(QMargins(0, 4, 6, 0));

    m_graph = m_plot->addGraph();
    m_graph->setPen(QPen(kTraceColour, 1.5));
    m_graph->setAdaptiveSampling(true);

    m_plot->yAxis2->setRange(0, 1);
    m_failures = m_plot->addGraph(m_plot->xAxis, m_plot->yAxis2);
    m_failures->setLineStyle(QCPGraph::lsNone);
    m_failures->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCross, kFailureColour, 6));

    // The tracer takes the graph once the mouse is over it: on an empty graph it only complains.
    m_tracer = new QCPItemTracer(m_plot);
    m_tracer->setInterpolating(false);
    m_tracer->setStyle(QCPItemTracer::tsCircle);
    m_tracer->setPen(QPen(Qt::black));
    m_tracer->setSize(6);
    m_tracer->setVisible(false);

    for (QCPItemStraightLine *&line : m_markers) {
        line = new QCPItemStraightLine(m_plot);
        line->setPen(QPen(kMarkerColour, 1, Qt::DashLine));
        line->setVisible(false);
    }

    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plot->axisRect()->setRangeDrag(Qt::Horizontal);
    m_plot->axisRect()->setRangeZoom(Qt::Horizontal);

    connect(m_plot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, [this] {
        if (m_reloading)
            return;
        reload();
        emit spanChanged();
    });
    connect(m_plot, &QCustomPlot::mousePress, this, &TrendPlot::mousePressed);
    connect(m_plot, &QCustomPlot::mouseMove, this, &TrendPlot::mouseMoved);
    connect(m_plot, &QCustomPlot::mouseWheel, this, [this] { setFollowing(false); });
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, [this] { setFollowing(true); });
    follow();
}

TrendPlot::~TrendPlot() = default;

void TrendPlot::refresh()
{
    if (m_following)
        follow();
    else
        reload();
}

void TrendPlot::setWindowMs(qint64 windowMs)
{
    m_windowMs = windowMs;
    setFollowing(true);
}

void TrendPlot::setFollowing(bool following)
{
    const bool changed = following != m_following;
    m_following = following;
    if (following)
        follow();
    if (changed)
        emit followingChanged(following);
}

void TrendPlot::setFixedY(std::optional<std::pair<double, double>> range)
{
    m_fixedY = range;
    scaleY();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

std::pair<qint64, qint64> TrendPlot::shownSpan() const
{
    const QCPRange range = m_plot->xAxis->range();
    return {msOf(range.lower), msOf(range.upper)};
}

std::optional<qint64> TrendPlot::marker(int which) const
{
    if (!m_markerSet[which])
        return std::nullopt;
    return msOf(m_markers[which]->point1->key());
}

void TrendPlot::clearMarkers()
{
    for (int which = 0; which < 2; ++which) {
        m_markerSet[which] = false;
        m_markers[which]->setVisible(false);
    }
    m_nextMarker = 0;
    m_plot->replot(QCustomPlot::rpQueuedReplot);
    emit markersChanged();
}

bool TrendPlot::savePng(const QString &path)
{
    return m_plot->savePng(path, m_plot->width(), m_plot->height());
}

// The newest window: the last poll at the right edge.
void TrendPlot::follow()
{
    const qint64 last = m_series.isEmpty() ? QDateTime::currentMSecsSinceEpoch() : m_series.lastMs();
    const qint64 first = m_windowMs > 0 ? last - m_windowMs : std::min(m_series.firstMs(), last - kLeastSpanMs);
    m_reloading = true;
    m_plot->xAxis->setRange(keyOf(first), keyOf(last));
    m_reloading = false;
    reload();
    emit spanChanged();
}

// The points of the shown span, taken afresh from the series: older than an hour its buckets'
// minimum and maximum, so that a day's run draws a few tens of thousands of points.
void TrendPlot::reload()
{
    const auto [from, to] = shownSpan();
    QVector<double> keys;
    QVector<double> values;
    const QList<TrendSeries::Point> points = m_series.points(from, to);
    keys.reserve(points.size());
    values.reserve(points.size());
    for (const TrendSeries::Point &point : points) {
        keys.append(keyOf(point.ms));
        values.append(point.value);
    }
    m_graph->setData(keys, values, true);

    QVector<double> failureKeys;
    for (const TrendSeries::FailureRun &run : m_series.failureRuns()) {
        if (run.to < from || run.from > to)
            continue;
        failureKeys.append(keyOf(run.from));
        if (run.to != run.from)
            failureKeys.append(keyOf(run.to));
    }
    m_failures->setData(failureKeys, QVector<double>(failureKeys.size(), kFailureHeight), true);
    drawMarks();
    scaleY();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

// The flag words' changes in the shown span as lines across, with the new word at the top.
void TrendPlot::drawMarks()
{
    const auto [from, to] = shownSpan();
    QList<const TrendSeries::Mark *> shown;
    for (const TrendSeries::Mark &mark : m_series.marks()) {
        if (mark.ms >= from && mark.ms <= to)
            shown.append(&mark);
    }
    if (shown.size() > kMostDrawnMarks)
        shown = shown.sliced(shown.size() - kMostDrawnMarks);
    // The items of the last drawing go first: the markers and the tracer stay.
    for (int index = m_plot->itemCount() - 1; index >= 0; --index) {
        QCPAbstractItem *item = m_plot->item(index);
        if (item->property("trendMark").toBool())
            m_plot->removeItem(item);
    }
    for (const TrendSeries::Mark *mark : std::as_const(shown)) {
        auto *line = new QCPItemStraightLine(m_plot);
        line->setProperty("trendMark", true);
        line->setPen(QPen(kMarkColour, 1));
        line->point1->setCoords(keyOf(mark->ms), 0);
        line->point2->setCoords(keyOf(mark->ms), 1);
        auto *label = new QCPItemText(m_plot);
        label->setProperty("trendMark", true);
        label->position->setAxes(m_plot->xAxis, m_plot->yAxis2);
        label->position->setCoords(keyOf(mark->ms), 1);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setColor(kMarkColour);
        label->setText(mark->text);
        QFont small = font();
        small.setPointSize(7);
        label->setFont(small);
    }
}

void TrendPlot::scaleY()
{
    if (m_fixedY) {
        m_plot->yAxis->setRange(m_fixedY->first, m_fixedY->second);
        return;
    }
    bool found = false;
    const QCPRange range = m_graph->getValueRange(found, QCP::sdBoth, m_plot->xAxis->range());
    if (!found)
        return;
    const double margin = range.size() > 0 ? range.size() * kYMargin : std::max(std::abs(range.center()) * kYMargin, 1.0);
    m_plot->yAxis->setRange(range.lower - margin, range.upper + margin);
}

void TrendPlot::putMarker(double key)
{
    if (m_markerSet[0] && m_markerSet[1]) {
        m_markerSet[1] = false;
        m_markers[1]->setVisible(false);
        m_nextMarker = 0;
    }
    QCPItemStraightLine *line = m_markers[m_nextMarker];
    line->point1->setCoords(key, 0);
    line->point2->setCoords(key, 1);
    line->setVisible(true);
    m_markerSet[m_nextMarker] = true;
    m_nextMarker = 1 - m_nextMarker;
    setFollowing(false);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
    emit markersChanged();
}

void TrendPlot::mousePressed(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        putMarker(m_plot->xAxis->pixelToCoord(event->position().x()));
    else if (event->button() == Qt::LeftButton)
        setFollowing(false);
}

// The tracer sits on the poll nearest the mouse, and the panel shows its time and value.
void TrendPlot::mouseMoved(QMouseEvent *event)
{
    if (m_graph->data()->isEmpty()) {
        m_tracer->setGraph(nullptr);
        m_tracer->setVisible(false);
        emit cursorMoved(std::nullopt);
        return;
    }
    m_tracer->setGraph(m_graph);
    m_tracer->setGraphKey(m_plot->xAxis->pixelToCoord(event->position().x()));
    m_tracer->setVisible(true);
    m_tracer->updatePosition();
    const double value = m_tracer->position->value();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
    if (std::isnan(value))
        emit cursorMoved(std::nullopt);
    else
        emit cursorMoved(std::pair(msOf(m_tracer->position->key()), value));
}
