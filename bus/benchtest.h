#pragma once

#include "buspoller.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The bench test of a batch: the same reference signal on every unit, and each unit's readings
// over the test judged against it. The report for the batch's paperwork is benchreport.h's.
namespace BenchTest {

// A σ of twenty readings is worth the name; of three it says little.
inline constexpr int kDefaultMinReadings = 20;
// A unit may go without an answer for at most this share of the test's time: a reply lost now
// and then is the line's, a unit that stops answering is the unit's.
inline constexpr int kLargestSilentPercent = 10;

// Long enough for a healthy line of thirty units to give twenty readings each within the time
// given: at 19200 baud they go round in 0.6 s, twenty rounds in 12 s.
inline constexpr int kDefaultDurationS = 15;
// The test goes on past its time until every unit that answers has its readings, but not past
// this: at 1200 baud thirty units take 16 times as long as at 19200, 9.6 s a round.
inline constexpr int kDefaultLongestS = 120;

struct Limits
{
    double expected = 0.0;  // what every unit should read
    double tolerance = 0.0; // how far its mean may lie from it, either way
    double sigmaLimit = 0.0; // the largest standard deviation of its readings
    int minReadings = kDefaultMinReadings;
    qint64 durationMs = kDefaultDurationS * 1000; // the test lasts at least this
    qint64 longestMs = kDefaultLongestS * 1000;   // and at most this, or durationMs when that is longer
};

struct Figures
{
    int samples = 0; // the readings
    int polls = 0;
    int failedPolls = 0; // without an answer, or without a number to show
    qint64 silentMs = 0;   // the test's time without an answer
    qint64 durationMs = 0; // the test's time
    double mean = 0.0;
    double sigma = 0.0; // of the sample (n - 1); NaN with fewer than two readings
    double lowest = 0.0;
    double highest = 0.0;
    quint16 selfDiag = 0; // every flag seen set during the test
    quint16 eepromErrors = 0;
};

enum class Verdict {
    Passed,
    Failed,
    NotTested, // the test ended before it could judge: the port went
};

struct Judgement
{
    Figures figures;
    Verdict verdict = Verdict::Failed;
    QString reason; // why it failed or was not tested, in the window's words; empty when it passed

    bool passed() const { return verdict == Verdict::Passed; }
};

// One test of the units of a line, fed with each unit's poll as the poller reports it, on the
// poller's clock. A unit passes when it answered through the whole test, gave at least the
// limits' count of readings, set no diagnostic flag, its mean lies within the tolerance of the
// expected value and the sample deviation of its readings stays at or below the limit.
//
// Its time without an answer is counted from its last reading before a poll it did not answer
// to its next reading, or to the end of the test: the unit may have gone quiet just after that
// reading, and however seldom a silent unit is tried again, the whole of its silence counts.
class Run
{
public:
    // The units as the poller holds them when the test starts: one whose last poll gave no
    // reading is without an answer from the start.
    Run(const QList<Bus::Unit> &units, const Limits &limits, qint64 startMs);

    // A unit after its poll: a reading when it brought a number, else a poll unanswered.
    // Nothing is recorded once the test has ended.
    void record(const Bus::Unit &polled);
    // Whether the test may end now: its time has passed and every unit of the poller's that is
    // not silent has its readings, or its longest time has passed. A silent unit holds no one up.
    bool isOver(qint64 nowMs, const QList<Bus::Unit> &units) const;
    void finish(qint64 endMs);
    // The port went during the test: it ends there, and no unit can be judged, each is
    // «не проверен». A port lost after the test leaves its verdicts as they are.
    void abort(qint64 atMs);
    bool isAborted() const { return m_aborted; }

    const Limits &limits() const { return m_limits; }
    int readings(quint8 address) const;
    bool hasMinReadings(quint8 address) const { return readings(address) >= m_limits.minReadings; }

    // After finish() or abort().
    Judgement judge(quint8 address) const;

private:
    struct Trace
    {
        QList<double> values;
        int failedPolls = 0;
        quint16 selfDiag = 0;
        quint16 eepromErrors = 0;
        qint64 silentMs = 0;
        qint64 answeredAtMs = 0; // the last reading, or the start
        bool unanswered = false; // a poll went unanswered since then
    };

    Limits m_limits;
    QHash<quint8, Trace> m_traces;
    qint64 m_startMs;
    std::optional<qint64> m_endMs;
    bool m_aborted = false;
};

// «годен», «не годен» or «не проверен».
QString verdictText(Verdict verdict);
// pass, fail or untested: as files, scripts and the page's styles name it.
const char *verdictKey(Verdict verdict);

// Four decimals: a tolerance of 0.05 mA is judged on figures finer than itself.
inline constexpr int kFigureDecimals = 4;
// A figure as the verdicts' reasons and the report give it, to kFigureDecimals.
QString figureText(double value);
// Milliseconds as seconds to a tenth: «12.5».
QString secondsText(qint64 ms);

} // namespace BenchTest
