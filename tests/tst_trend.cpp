// The trend's series and its log, without a window: what a long run keeps of the polls, the
// figures it gives against a direct computation, failed polls as gaps, and the log's file as a
// crash would leave it.
#include "polllog.h"
#include "trendseries.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>

namespace {

constexpr qint64 kStartMs = 1'800'000'000'000; // a whole number of buckets
constexpr qint64 kPollMs = 100;
constexpr qint64 kHourPolls = TrendSeries::kFullDetailMs / kPollMs;

struct Value
{
    qint64 ms;
    double value;
};

// Polls at the page's rate: around `mean`, with noise of `sigma`, a seeded series.
QList<Value> polls(qint64 count, double mean, double sigma)
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(mean, sigma);
    QList<Value> values;
    for (qint64 poll = 0; poll < count; ++poll)
        values.append({kStartMs + poll * kPollMs, noise(random)});
    return values;
}

TrendSeries seriesOf(const QList<Value> &values)
{
    TrendSeries series;
    for (const Value &value : values)
        series.addValue(value.ms, value.value);
    return series;
}

// Two passes over the values in from..to, as a textbook does it.
TrendSeries::Statistics direct(const QList<Value> &values, qint64 from, qint64 to)
{
    TrendSeries::Statistics statistics;
    double sum = 0;
    for (const Value &value : values) {
        if (value.ms < from || value.ms > to)
            continue;
        sum += value.value;
        statistics.minimum = statistics.count == 0 ? value.value : std::min(statistics.minimum, value.value);
        statistics.maximum = statistics.count == 0 ? value.value : std::max(statistics.maximum, value.value);
        ++statistics.count;
    }
    statistics.mean = sum / double(statistics.count);
    double squares = 0;
    for (const Value &value : values) {
        if (value.ms >= from && value.ms <= to)
            squares += (value.value - statistics.mean) * (value.value - statistics.mean);
    }
    statistics.sigma = std::sqrt(squares / double(statistics.count));
    return statistics;
}

QStringList linesOf(const QString &path)
{
    // As text: the log ends its lines as the system does, with CR LF on Windows.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TestTrend : public QObject
{
    Q_OBJECT

private slots:
    // Three hours at ten polls a second: the last hour whole, the two before it as the minimum
    // and maximum of each ten seconds, the spikes among them kept.
    void oldPollsKeepTheirExtremesInBoundedSpace()
    {
        QList<Value> values = polls(3 * kHourPolls, 50, 0.5);
        values[1234].value = 99;  // in the first hour
        values[40000].value = -7; // in the second
        const TrendSeries series = seriesOf(values);
        QCOMPARE(series.heldPoints(), kHourPolls + 1);
        const qsizetype buckets = series.heldBuckets();
        QCOMPARE(buckets, 2 * TrendSeries::kFullDetailMs / TrendSeries::kBucketMs);
        const QList<TrendSeries::Point> drawn = series.points(series.firstMs(), series.lastMs());
        QVERIFY2(drawn.size() <= series.heldPoints() + 2 * buckets, qPrintable(QString::number(drawn.size())));
        const auto has = [&drawn](qint64 ms, double value) {
            return std::any_of(drawn.begin(), drawn.end(),
                               [&](const TrendSeries::Point &p) { return p.ms == ms && p.value == value; });
        };
        QVERIFY(has(values[1234].ms, 99));
        QVERIFY(has(values[40000].ms, -7));
        // Each old bucket drawn as its own minimum and maximum, in time order.
        for (qsizetype i = 1; i < drawn.size(); ++i)
            QVERIFY(drawn[i - 1].ms <= drawn[i].ms);
        QVERIFY(series.heldBytes() < 4 * 1024 * 1024);
    }

    void statisticsMatchADirectComputation_data()
    {
        QTest::addColumn<double>("mean");
        QTest::addColumn<double>("sigma");
        QTest::addColumn<qint64>("fromPoll"); // from the first poll of three hours
        QTest::addColumn<qint64>("toPoll");
        const qint64 bucket = TrendSeries::kBucketMs / kPollMs;
        QTest::newRow("the last minute") << 12.5 << 0.3 << 3 * kHourPolls - 600 << 3 * kHourPolls - 1;
        QTest::newRow("all three hours") << 12.5 << 0.3 << qint64(0) << 3 * kHourPolls - 1;
        QTest::newRow("old buckets and new polls") << 12.5 << 0.3 << 100 * bucket << 2 * kHourPolls + 5000;
        // A sum of squares would lose σ here: 1000² beside 0.001².
        QTest::newRow("large mean, tiny sigma") << 1000.0 << 0.001 << qint64(0) << 3 * kHourPolls - 1;
    }

    void statisticsMatchADirectComputation()
    {
        QFETCH(double, mean);
        QFETCH(double, sigma);
        QFETCH(qint64, fromPoll);
        QFETCH(qint64, toPoll);
        const QList<Value> values = polls(3 * kHourPolls, mean, sigma);
        const TrendSeries series = seriesOf(values);
        const qint64 from = values[fromPoll].ms;
        const qint64 to = values[toPoll].ms + kPollMs - 1;
        const TrendSeries::Statistics got = series.statistics(from, to);
        const TrendSeries::Statistics want = direct(values, from, to);
        QCOMPARE(got.count, want.count);
        QCOMPARE(got.minimum, want.minimum);
        QCOMPARE(got.maximum, want.maximum);
        QVERIFY2(std::abs(got.mean - want.mean) < 1e-9 * std::abs(want.mean), qPrintable(QString::number(got.mean)));
        QVERIFY2(std::abs(got.sigma - want.sigma) < 1e-6 * want.sigma,
                 qPrintable(QStringLiteral("%1 against %2").arg(got.sigma).arg(want.sigma)));
    }

    // A failed poll breaks the line and counts for nothing; a run of them is one mark, and an
    // old bucket with a failure in it still breaks the line.
    void aFailedPollIsAGapNotAZero()
    {
        TrendSeries series;
        series.addValue(kStartMs, 10);
        series.addFailure(kStartMs + 100);
        series.addFailure(kStartMs + 200);
        series.addValue(kStartMs + 300, 20);
        series.addGap(kStartMs + 400); // a display text that is no number
        series.addFailure(kStartMs + 500);
        const QList<TrendSeries::Point> drawn = series.points(kStartMs, kStartMs + 500);
        QCOMPARE(drawn.size(), 6);
        QVERIFY(std::isnan(drawn[1].value) && std::isnan(drawn[2].value) && std::isnan(drawn[4].value));
        const TrendSeries::Statistics statistics = series.statistics(kStartMs, kStartMs + 500);
        QCOMPARE(statistics.count, qint64(2));
        QCOMPARE(statistics.minimum, 10.0);
        QCOMPARE(statistics.mean, 15.0);
        QCOMPARE(series.failureRuns().size(), std::size_t(2));
        QCOMPARE(series.failureRuns().front().from, kStartMs + 100);
        QCOMPARE(series.failureRuns().front().to, kStartMs + 200);

        series.addValue(kStartMs + TrendSeries::kFullDetailMs + TrendSeries::kBucketMs, 30);
        const QList<TrendSeries::Point> folded = series.points(kStartMs, kStartMs + TrendSeries::kBucketMs);
        QVERIFY(std::any_of(folded.begin(), folded.end(), [](const TrendSeries::Point &p) { return std::isnan(p.value); }));
        QCOMPARE(series.statistics(kStartMs, kStartMs + 500).count, qint64(2));
    }

    // A failed poll in the bucket being folded, and one in the next: while the hour moves over
    // them, every gap stays at its own poll, before the newer points, so that neither the plot
    // nor a saved CSV ever goes back in time.
    void theFoldKeepsTimeOrder()
    {
        const qint64 failures[] = {kStartMs + 4000, kStartMs + TrendSeries::kBucketMs + 500};
        TrendSeries series;
        const qint64 end = kStartMs + TrendSeries::kFullDetailMs + 2 * TrendSeries::kBucketMs;
        for (qint64 ms = kStartMs; ms <= end; ms += kPollMs) {
            if (std::find(std::begin(failures), std::end(failures), ms) != std::end(failures))
                series.addFailure(ms);
            else
                series.addValue(ms, double(ms / kPollMs % 7));
            if (ms < kStartMs + TrendSeries::kFullDetailMs)
                continue;
            const QList<TrendSeries::Point> drawn = series.points(series.firstMs(), ms);
            const auto back = std::adjacent_find(drawn.begin(), drawn.end(),
                                                 [](const auto &a, const auto &b) { return a.ms > b.ms; });
            QVERIFY2(back == drawn.end(), qPrintable(QStringLiteral("at %1 ms: %2 before %3")
                                                         .arg(ms - kStartMs)
                                                         .arg(back->ms - kStartMs)
                                                         .arg((back + 1)->ms - kStartMs)));
        }
        const QList<TrendSeries::Point> drawn = series.points(series.firstMs(), end);
        for (qint64 failure : failures)
            QVERIFY(std::any_of(drawn.begin(), drawn.end(),
                                [&](const auto &p) { return p.ms == failure && std::isnan(p.value); }));
    }

    // The clock set back by an hour: the polls after it stay in order, at the last time seen.
    void aClockSetBackKeepsTheSeriesInOrder()
    {
        TrendSeries series;
        series.addValue(kStartMs, 1);
        series.addValue(kStartMs - 3600 * 1000, 2);
        series.addValue(kStartMs + 100, 3);
        const QList<TrendSeries::Point> drawn = series.points(kStartMs - 3600 * 1000, kStartMs + 100);
        QCOMPARE(drawn.size(), 3);
        QCOMPARE(drawn[1].ms, kStartMs);
        QCOMPARE(series.heldPoints(), 3);
    }

    // The header says what is logged; each row is in the file as soon as it is written, which is
    // all that a crash of the program leaves; the display text cannot run as a formula. The log
    // is for a spreadsheet: a Russian desktop's decimal comma in the value, the device's own text
    // as it came.
    void theLogIsInTheFileRowByRow()
    {
        const QLocale desktop;
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        const auto restore = qScopeGuard([&desktop] { QLocale::setDefault(desktop); });
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        PollLog log;
        QVERIFY(log.open(path, {{QStringLiteral("address"), QStringLiteral("7")},
                                {QStringLiteral("poll_interval_ms"), QStringLiteral("100")}}));
        QFile raw(path);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QCOMPARE(raw.read(3), QByteArray("\xEF\xBB\xBF")); // the byte-order mark, which fromUtf8 reads past
        QCOMPARE(linesOf(path), QStringList({"address;7", "poll_interval_ms;100",
                                             "time;value;display;self_diag;eeprom_errors;result;message"}));
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(kStartMs).toOffsetFromUtc(3 * 3600);
        log.append({time, -12.34, QStringLiteral("-12.34"), 5, 0, 0});
        log.append({time.addMSecs(100), std::nullopt, QString(), std::nullopt, std::nullopt, -6});
        log.append({time.addMSecs(200), std::nullopt, QStringLiteral("=1+2"), 0, 0, 0});
        const QStringList lines = linesOf(path); // the file still open, as a killed program leaves it
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[3], QStringLiteral("2027-01-15T11:00:00.000+03:00;-12,34;-12.34;5;0;0;"));
        QCOMPARE(lines[4], QStringLiteral("2027-01-15T11:00:00.100+03:00;;;;;-6;Ошибка! Нет овета!"));
        QCOMPARE(lines[5], QStringLiteral("2027-01-15T11:00:00.200+03:00;;'=1+2;0;0;0;"));
        log.close();
        QCOMPARE(linesOf(path).size(), 6);
    }

    void aLogThatCannotBeWrittenSaysSo()
    {
        PollLog log;
        QTemporaryDir dir;
        QVERIFY(!log.open(dir.filePath(QStringLiteral("no/such/folder/log.csv")), {}));
        QVERIFY(!log.errorString().isEmpty());
        QVERIFY(!log.isOpen());
        if (QFile::exists(QStringLiteral("/dev/full"))) {
            QSignalSpy failed(&log, &PollLog::failed);
            QVERIFY(!log.open(QStringLiteral("/dev/full"), {{QStringLiteral("address"), QStringLiteral("1")}}));
            QVERIFY(!log.isOpen());
        }
    }
};

QTEST_GUILESS_MAIN(TestTrend)
#include "tst_trend.moc"
