#include "trendseries.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Moments of a run of values, merged as Chan, Golub and LeVeque do: no sum of squares that
// would lose a small σ beside a large mean.
struct Moments
{
    qint64 count = 0;
    double mean = 0;
    double m2 = 0;
    double minimum = 0;
    double maximum = 0;

    void add(qint64 n, double otherMean, double otherM2, double otherMin, double otherMax)
    {
        if (n == 0)
            return;
        if (count == 0) {
            *this = {n, otherMean, otherM2, otherMin, otherMax};
            return;
        }
        const qint64 total = count + n;
        const double delta = otherMean - mean;
        mean += delta * double(n) / double(total);
        m2 += otherM2 + delta * delta * double(count) * double(n) / double(total);
        minimum = std::min(minimum, otherMin);
        maximum = std::max(maximum, otherMax);
        count = total;
    }
};

} // namespace

void TrendSeries::addValue(qint64 ms, double value)
{
    if (!std::isfinite(value)) {
        addGap(ms);
        return;
    }
    add(ms, value);
    m_lastFailed = false;
}

void TrendSeries::addGap(qint64 ms)
{
    add(ms, kGap);
    m_lastFailed = false;
}

void TrendSeries::addFailure(qint64 ms)
{
    add(ms, kGap);
    if (m_lastFailed && !m_failures.empty()) {
        m_failures.back().to = m_lastMs;
    } else {
        m_failures.push_back({m_lastMs, m_lastMs});
        if (qsizetype(m_failures.size()) > kMostFailureRuns)
            m_failures.pop_front();
    }
    m_lastFailed = true;
}

void TrendSeries::addMark(qint64 ms, const QString &text)
{
    m_marks.push_back({std::max(ms, m_lastMs), text});
    if (qsizetype(m_marks.size()) > kMostMarks)
        m_marks.pop_front();
}

void TrendSeries::clear()
{
    *this = TrendSeries();
}

void TrendSeries::add(qint64 ms, double value)
{
    m_lastMs = std::max(ms, m_lastMs);
    m_recent.push_back({m_lastMs, value});
    ++m_polls;
    foldOld();
}

// Points older than the full-detail hour go into the bucket of their ten seconds.
void TrendSeries::foldOld()
{
    const qint64 oldest = m_lastMs - kFullDetailMs;
    while (!m_recent.empty() && m_recent.front().ms < oldest) {
        const Point point = m_recent.front();
        m_recent.pop_front();
        const qint64 start = point.ms - point.ms % kBucketMs - (point.ms % kBucketMs < 0 ? kBucketMs : 0);
        if (m_buckets.empty() || m_buckets.back().start != start)
            m_buckets.push_back({start});
        Bucket &bucket = m_buckets.back();
        if (std::isnan(point.value)) {
            if (!bucket.gapMs)
                bucket.gapMs = point.ms;
            continue;
        }
        if (bucket.count == 0 || point.value < bucket.minimum) {
            bucket.minimum = point.value;
            bucket.minMs = point.ms;
        }
        if (bucket.count == 0 || point.value > bucket.maximum) {
            bucket.maximum = point.value;
            bucket.maxMs = point.ms;
        }
        ++bucket.count;
        const double delta = point.value - bucket.mean;
        bucket.mean += delta / double(bucket.count);
        bucket.m2 += delta * (point.value - bucket.mean);
    }
}

qint64 TrendSeries::firstMs() const
{
    if (!m_buckets.empty())
        return m_buckets.front().start;
    return m_recent.empty() ? m_lastMs : m_recent.front().ms;
}

qint64 TrendSeries::heldBytes() const
{
    return qint64(m_recent.size() * sizeof(Point) + m_buckets.size() * sizeof(Bucket)
                  + m_failures.size() * sizeof(FailureRun) + m_marks.size() * sizeof(Mark));
}

QList<TrendSeries::Point> TrendSeries::points(qint64 from, qint64 to) const
{
    QList<Point> shown;
    auto bucketFirst = std::lower_bound(m_buckets.begin(), m_buckets.end(), from,
                                        [](const Bucket &b, qint64 ms) { return b.start + kBucketMs <= ms; });
    if (bucketFirst != m_buckets.begin())
        --bucketFirst;
    for (auto bucket = bucketFirst; bucket != m_buckets.end() && bucket->start <= to; ++bucket) {
        // The bucket being folded shares its ten seconds with the oldest points of the hour: a
        // gap placed anywhere but at its own poll could come after them.
        std::array<Point, 3> held;
        std::size_t count = 0;
        if (bucket->count > 0)
            held[count++] = {bucket->minMs, bucket->minimum};
        if (bucket->count > 1)
            held[count++] = {bucket->maxMs, bucket->maximum};
        if (bucket->gapMs)
            held[count++] = {*bucket->gapMs, kGap};
        std::stable_sort(held.begin(), held.begin() + count, [](const Point &a, const Point &b) { return a.ms < b.ms; });
        for (std::size_t i = 0; i < count; ++i)
            shown.append(held[i]);
    }
    auto first = std::lower_bound(m_recent.begin(), m_recent.end(), from,
                                  [](const Point &p, qint64 ms) { return p.ms < ms; });
    if (first != m_recent.begin())
        --first;
    for (auto point = first; point != m_recent.end(); ++point) {
        shown.append(*point);
        if (point->ms > to)
            break;
    }
    return shown;
}

TrendSeries::Statistics TrendSeries::statistics(qint64 from, qint64 to) const
{
    Moments moments;
    for (const Bucket &bucket : m_buckets) {
        if (bucket.start > to)
            break;
        if (bucket.start >= from)
            moments.add(bucket.count, bucket.mean, bucket.m2, bucket.minimum, bucket.maximum);
    }
    auto point = std::lower_bound(m_recent.begin(), m_recent.end(), from,
                                  [](const Point &p, qint64 ms) { return p.ms < ms; });
    for (; point != m_recent.end() && point->ms <= to; ++point) {
        if (!std::isnan(point->value))
            moments.add(1, point->value, 0, point->value, point->value);
    }
    Statistics statistics;
    statistics.count = moments.count;
    if (moments.count > 0) {
        statistics.minimum = moments.minimum;
        statistics.maximum = moments.maximum;
        statistics.mean = moments.mean;
        statistics.sigma = std::sqrt(moments.m2 / double(moments.count));
    }
    return statistics;
}
