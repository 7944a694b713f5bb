#include "benchtest.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace BenchTest {

namespace {

// A figure on the limit passes: 12.05 against 12.000 ± 0.050 is 0.05000000000000071 off in
// binary, and must not fail for the last bits of a double. False for what is no number.
bool withinLimit(double deviation, double limit)
{
    constexpr double kRelativeSlack = 1e-9;
    return deviation <= limit + kRelativeSlack * std::max(1.0, std::fabs(limit));
}

} // namespace

Run::Run(const QList<Bus::Unit> &units, const Limits &limits, qint64 startMs) : m_limits(limits), m_startMs(startMs)
{
    for (const Bus::Unit &unit : units) {
        Trace &trace = m_traces[unit.address];
        trace.answeredAtMs = startMs;
        // A unit never polled yet is waiting for its first turn, not silent.
        trace.unanswered = unit.polledAtMs && !(unit.value && std::isfinite(*unit.value));
    }
}

void Run::record(const Bus::Unit &polled)
{
    const auto found = m_traces.find(polled.address);
    if (m_endMs || found == m_traces.end() || !polled.polledAtMs)
        return;
    Trace &trace = *found;
    const qint64 atMs = std::max(*polled.polledAtMs, trace.answeredAtMs);
    trace.selfDiag |= polled.selfDiag.value_or(0);
    trace.eepromErrors |= polled.eepromErrors.value_or(0);
    // A display that cannot show the value gives no number: no answer to judge.
    if (!polled.value || !std::isfinite(*polled.value)) {
        ++trace.failedPolls;
        trace.unanswered = true;
        return;
    }
    if (trace.unanswered)
        trace.silentMs += atMs - trace.answeredAtMs;
    trace.values << *polled.value;
    trace.answeredAtMs = atMs;
    trace.unanswered = false;
}

bool Run::isOver(qint64 nowMs, const QList<Bus::Unit> &units) const
{
    const qint64 elapsedMs = nowMs - m_startMs;
    if (m_endMs || elapsedMs >= std::max(m_limits.longestMs, m_limits.durationMs))
        return true;
    return elapsedMs >= m_limits.durationMs
        && std::all_of(units.begin(), units.end(), [this](const Bus::Unit &unit) { return unit.silent || hasMinReadings(unit.address); });
}

void Run::finish(qint64 endMs)
{
    if (m_endMs)
        return;
    m_endMs = std::max(endMs, m_startMs);
    for (Trace &trace : m_traces) {
        if (trace.unanswered || trace.values.isEmpty())
            trace.silentMs += *m_endMs - trace.answeredAtMs;
    }
}

void Run::abort(qint64 atMs)
{
    if (m_endMs)
        return; // the verdicts were in before the port went
    finish(atMs);
    m_aborted = true;
}

int Run::readings(quint8 address) const
{
    return int(m_traces.value(address).values.size());
}

Judgement Run::judge(quint8 address) const
{
    const Trace trace = m_traces.value(address);
    Judgement judgement;
    Figures &f = judgement.figures;
    f.samples = int(trace.values.size());
    f.failedPolls = trace.failedPolls;
    f.polls = f.samples + f.failedPolls;
    f.silentMs = trace.silentMs;
    f.durationMs = m_endMs.value_or(m_startMs) - m_startMs;
    f.selfDiag = trace.selfDiag;
    f.eepromErrors = trace.eepromErrors;
    // No figure without the readings it is made of: an empty cell, never a zero.
    f.mean = f.sigma = f.lowest = f.highest = std::nan("");
    if (!trace.values.isEmpty()) {
        const double n = double(f.samples);
        f.mean = std::accumulate(trace.values.begin(), trace.values.end(), 0.0) / n;
        double squares = 0.0;
        for (double value : trace.values)
            squares += (value - f.mean) * (value - f.mean);
        // The sample's own deviation: the readings of a test are a sample of the unit, and one
        // reading has none.
        if (f.samples > 1)
            f.sigma = std::sqrt(squares / (n - 1.0));
        const auto [lowest, highest] = std::minmax_element(trace.values.begin(), trace.values.end());
        f.lowest = *lowest;
        f.highest = *highest;
    }
    if (m_aborted) {
        judgement.verdict = Verdict::NotTested;
        judgement.reason = QStringLiteral("проверка прервана: связь с адаптером потеряна");
        return judgement;
    }

    QStringList reasons;
    if (f.samples == 0)
        reasons << QStringLiteral("нет показаний");
    else if (f.silentMs * 100 > f.durationMs * kLargestSilentPercent)
        reasons << QStringLiteral("без ответа %1 с из %2 с").arg(secondsText(f.silentMs), secondsText(f.durationMs));
    if (f.samples > 0 && f.samples < m_limits.minReadings)
        reasons << QStringLiteral("мало показаний: %1 из %2").arg(f.samples).arg(m_limits.minReadings);
    if (f.selfDiag != 0)
        reasons << QStringLiteral("флаг самодиагностики 0x%1").arg(f.selfDiag, 4, 16, QLatin1Char('0'));
    if (f.eepromErrors != 0)
        reasons << QStringLiteral("ошибки EEPROM 0x%1").arg(f.eepromErrors, 4, 16, QLatin1Char('0'));
    // Written so that a mean or a limit that is no number fails rather than passes.
    if (f.samples > 0 && !withinLimit(std::fabs(f.mean - m_limits.expected), m_limits.tolerance))
        reasons << QStringLiteral("среднее %1 вне %2 ± %3")
                       .arg(figureText(f.mean), figureText(m_limits.expected), figureText(m_limits.tolerance));
    if (f.samples == 1)
        reasons << QStringLiteral("σ не определена по одному показанию");
    else if (f.samples > 1 && !withinLimit(f.sigma, m_limits.sigmaLimit))
        reasons << QStringLiteral("σ %1 больше %2").arg(figureText(f.sigma), figureText(m_limits.sigmaLimit));
    judgement.verdict = reasons.isEmpty() ? Verdict::Passed : Verdict::Failed;
    judgement.reason = reasons.join(QStringLiteral("; "));
    return judgement;
}

QString figureText(double value)
{
    return QString::number(value, 'f', kFigureDecimals);
}

QString secondsText(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1);
}

const char *verdictKey(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Passed:
        return "pass";
    case Verdict::Failed:
        return "fail";
    case Verdict::NotTested:
        break;
    }
    return "untested";
}

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Passed:
        return QStringLiteral("годен");
    case Verdict::Failed:
        return QStringLiteral("не годен");
    case Verdict::NotTested:
        break;
    }
    return QStringLiteral("не проверен");
}

} // namespace BenchTest
