// The trend of a long session, with no device: a day of synthetic polls at the Readings page's
// rate (ten a second: 864 000 polls), a slow drift with noise and a failed poll now and then.
//
// Measured: the time to take a poll into the series; the memory the series holds and the
// process's resident memory after the day (target under 64 MiB); the time of one redraw of the
// whole day as the trend draws it, from the decimated series (target at most 16 ms), beside
// QCustomPlot's own figures for the same polls undecimated: the resident memory they add and
// one redraw of them.
//
// Usage: indicator-trend-bench [HOURS]   (24)
#include "trendplot.h"
#include "trendseries.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double kDefaultHours = 24;
constexpr qint64 kPollMs = 100;
constexpr unsigned kSeed = 20261209;
constexpr double kFailureShare = 0.001;
constexpr int kRedraws = 15;
constexpr QSize kPlotSize(1000, 400);
constexpr double kMemoryTargetMiB = 64;
constexpr double kRedrawTargetMs = 16;
constexpr qint64 kStartMs = 1'800'000'000'000; // a fixed day in 2027, so that runs compare

// VmRSS of /proc/self/status, in MiB; 0 where there is none.
double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').constFirst().toDouble() / 1024.0;
    }
    return 0;
}

struct Poll
{
    qint64 ms;
    double value; // NaN: failed
};

std::vector<Poll> syntheticDay(qint64 polls)
{
    std::mt19937 random(kSeed);
    std::normal_distribution<double> noise(0, 0.02);
    std::uniform_real_distribution<double> chance(0, 1);
    std::vector<Poll> day;
    day.reserve(std::size_t(polls));
    for (qint64 poll = 0; poll < polls; ++poll) {
        const double hours = double(poll * kPollMs) / 3.6e6;
        const double value = 50 + 5 * std::sin(hours) + noise(random);
        day.push_back({kStartMs + poll * kPollMs, chance(random) < kFailureShare ? TrendSeries::kGap : value});
    }
    return day;
}

// The median of a few redraws, in milliseconds.
double redrawMs(QCustomPlot &plot)
{
    std::vector<double> times;
    for (int redraw = 0; redraw < kRedraws; ++redraw) {
        QElapsedTimer clock;
        clock.start();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const double hours = argc > 1 ? std::max(0.01, QByteArray(argv[1]).toDouble()) : kDefaultHours;
    const qint64 polls = qint64(hours * 3.6e6 / double(kPollMs));
    const std::vector<Poll> day = syntheticDay(polls);
    std::printf("indicator-trend-bench: %.2f h at %lld ms a poll, %lld polls\n", hours, qlonglong(kPollMs),
                qlonglong(polls));

    const double residentBefore = residentMiB();
    TrendSeries series;
    QElapsedTimer clock;
    clock.start();
    for (const Poll &poll : day) {
        if (std::isnan(poll.value))
            series.addFailure(poll.ms);
        else
            series.addValue(poll.ms, poll.value);
    }
    const double addNs = double(clock.nsecsElapsed()) / double(polls);
    std::printf("series: %.0f ns a poll; holds %lld points and %lld buckets, %.2f MiB\n", addNs,
                qlonglong(series.heldPoints()), qlonglong(series.heldBuckets()),
                double(series.heldBytes()) / (1024.0 * 1024.0));

    TrendPlot trend(series, nullptr);
    trend.resize(kPlotSize);
    trend.setWindowMs(0);
    trend.show();
    application.processEvents();
    clock.restart();
    trend.refresh();
    const double reloadMs = double(clock.nsecsElapsed()) / 1e6;
    const double decimatedMs = redrawMs(*trend.plot());
    const int drawnPoints = trend.plot()->graph(0)->dataCount();
    const double residentTrend = residentMiB();
    std::printf("trend, decimated: %d points drawn; taking them from the series %.2f ms, one redraw %.2f ms "
                "(target %.0f ms)\n",
                drawnPoints, reloadMs, decimatedMs, kRedrawTargetMs);
    std::printf("resident memory with the day's trend: %.1f MiB (target under %.0f MiB; %.1f MiB before the series)\n",
                residentTrend, kMemoryTargetMiB, residentBefore);

    QCustomPlot plain;
    plain.resize(kPlotSize);
    plain.xAxis->setTicker(QSharedPointer<QCPAxisTickerDateTime>(new QCPAxisTickerDateTime));
    QVector<double> keys;
    QVector<double> values;
    keys.reserve(qsizetype(day.size()));
    values.reserve(qsizetype(day.size()));
    for (const Poll &poll : day) {
        keys.append(double(poll.ms) / 1000.0);
        values.append(poll.value);
    }
    QCPGraph *graph = plain.addGraph();
    graph->setData(keys, values, true);
    keys = {};
    values = {};
    plain.rescaleAxes();
    plain.show();
    application.processEvents();
    const double undecimatedMs = redrawMs(plain);
    const double residentPlain = residentMiB();
    std::printf("QCustomPlot undecimated: %d points; one redraw %.2f ms; adds %.1f MiB resident\n", graph->dataCount(),
                undecimatedMs, residentPlain - residentTrend);
    return 0;
}
