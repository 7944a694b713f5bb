#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <deque>
#include <limits>
#include <optional>

// The polled reading of a long session, in time order: every poll of the last hour as it came,
// older ones folded into ten-second buckets that keep their minimum, maximum and moments. A
// 24-hour run at ten polls a second is 864 000 polls; kept this way it is 36 000 points and
// 8 280 buckets, a couple of megabytes, and the plot draws about 50 000 points instead of 864 000.
// A failed poll is a gap, never a value: it breaks the line and leaves the statistics alone.
class TrendSeries
{
public:
    // Times are milliseconds since the epoch, UTC.
    static constexpr qint64 kFullDetailMs = 60 * 60 * 1000;
    static constexpr qint64 kBucketMs = 10 * 1000;
    // Marks beyond these are dropped oldest first: a flag that flickers at every poll for a day
    // would otherwise keep 864 000 of them.
    static constexpr qsizetype kMostMarks = 10000;
    static constexpr qsizetype kMostFailureRuns = 20000;

    static constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

    struct Point
    {
        qint64 ms;
        double value; // NaN: a gap
    };
    // A run of failed polls, from the first to the last of them.
    struct FailureRun
    {
        qint64 from;
        qint64 to;
    };
    // Something that happened at one moment: a flag word that changed.
    struct Mark
    {
        qint64 ms;
        QString text;
    };
    struct Statistics
    {
        qint64 count = 0; // values, gaps not counted
        double minimum = kGap;
        double maximum = kGap;
        double mean = kGap;
        double sigma = kGap; // population standard deviation
    };

    // A poll that gave a value; a time before the last one's (the clock was set back) counts
    // as the last one's, so that the series stays in order.
    void addValue(qint64 ms, double value);
    // A poll that gave no value: failed, or a display text that is no number.
    void addGap(qint64 ms);
    // A failed poll: a gap, and a mark on the time axis.
    void addFailure(qint64 ms);
    void addMark(qint64 ms, const QString &text);
    void clear();

    // What the plot draws for from..to, in time order: the buckets as their minimum and maximum
    // in the order they came, then the full-detail points; a NaN point where the line breaks, at
    // the time of the poll that broke it. One point on either side of the span is included, so
    // that the line reaches the edges.
    QList<Point> points(qint64 from, qint64 to) const;
    // Of the values from..to, both ends included. Older than an hour, whole buckets count whose
    // start lies in the span: exact moments, at ten-second resolution.
    Statistics statistics(qint64 from, qint64 to) const;

    const std::deque<FailureRun> &failureRuns() const { return m_failures; }
    const std::deque<Mark> &marks() const { return m_marks; }
    bool isEmpty() const { return m_recent.empty() && m_buckets.empty(); }
    qint64 firstMs() const;
    qint64 lastMs() const { return m_lastMs; }
    // Polls taken since the last clear, gaps included.
    qint64 polls() const { return m_polls; }
    // Points and buckets held, and the bytes they take.
    qsizetype heldPoints() const { return qsizetype(m_recent.size()); }
    qsizetype heldBuckets() const { return qsizetype(m_buckets.size()); }
    qint64 heldBytes() const;

private:
    struct Bucket
    {
        qint64 start;
        qint64 minMs = 0;
        qint64 maxMs = 0;
        double minimum = 0;
        double maximum = 0;
        // Moments as Welford keeps them: a mean of 1000 with a σ of 0.001 keeps its digits.
        qint64 count = 0;
        double mean = 0;
        double m2 = 0;
        std::optional<qint64> gapMs = std::nullopt; // the first poll in it that gave no value
    };

    void add(qint64 ms, double value);
    void foldOld();

    std::deque<Point> m_recent;
    std::deque<Bucket> m_buckets;
    std::deque<FailureRun> m_failures;
    std::deque<Mark> m_marks;
    qint64 m_lastMs = std::numeric_limits<qint64>::min();
    qint64 m_polls = 0;
    bool m_lastFailed = false;
};
