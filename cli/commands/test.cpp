// indicator-cli test: units on one line judged against one reference signal, as the bench test
// of the window judges them.
#include "benchreport.h"
#include "benchtest.h"
#include "blocking.h"
#include "buspoller.h"
#include "context.h"
#include "exitstatus.h"
#include "framewords.h"
#include "linesettings.h"
#include "commands.h"
#include "stoprequest.h"
#include "testreport.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonObject>
#include <QTimer>

#include <cmath>

namespace {

// The limits given, the test's own for the rest; nothing when --expect or --tolerance is missing.
std::optional<BenchTest::Limits> limitsOf(const Invocation &invocation)
{
    constexpr double kSigmaShareOfTolerance = 1.0 / 3.0;
    if (!invocation.expected || !invocation.tolerance)
        return std::nullopt;
    return BenchTest::Limits{*invocation.expected, *invocation.tolerance,
                             invocation.sigmaLimit.value_or(*invocation.tolerance * kSigmaShareOfTolerance),
                             invocation.minReadings.value_or(BenchTest::kDefaultMinReadings),
                             (invocation.durationS > 0 ? invocation.durationS : BenchTest::kDefaultDurationS) * 1000,
                             invocation.longestS.value_or(BenchTest::kDefaultLongestS) * 1000};
}

// Polls the units until the run is over, the port is lost or Ctrl+C comes.
void pollUntilOver(Session &session, Bus::Poller &poller, BenchTest::Run &run)
{
    QEventLoop loop;
    const auto endWhenOver = [&] {
        if (run.isOver(poller.now(), poller.units()))
            loop.quit();
    };
    QObject::connect(&poller, &Bus::Poller::unitPolled, &loop, [&](int row) {
        run.record(poller.units()[row]);
        endWhenOver();
    });
    QObject::connect(&session, &Session::portLost, &loop, [&] {
        run.abort(poller.now());
        loop.quit();
    });
    // Also while every unit is silent and no poll comes to end it.
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (StopRequest::requested())
            loop.quit();
        endWhenOver();
    });
    stopCheck.start(StopRequest::kCheckMs);
    poller.start();
    loop.exec();
    poller.stop();
}

QString figureText(double figure)
{
    return std::isfinite(figure) ? QString::number(figure, 'f', 4) : QStringLiteral("?");
}

void print(Printer &printer, const Bus::Unit &unit, const BenchTest::Judgement &judgement)
{
    const BenchTest::Figures &f = judgement.figures;
    QJsonObject json{{QStringLiteral("address"), unit.address}, {QStringLiteral("name"), unit.name},
                     {QStringLiteral("version"), unit.version}, {QStringLiteral("samples"), f.samples},
                     {QStringLiteral("failed_polls"), f.failedPolls}, {QStringLiteral("self_diag"), f.selfDiag},
                     {QStringLiteral("eeprom_errors"), f.eepromErrors},
                     {QStringLiteral("silent_s"), double(f.silentMs) / 1000.0},
                     {QStringLiteral("verdict"), QLatin1String(BenchTest::verdictKey(judgement.verdict))},
                     {QStringLiteral("reason"), judgement.reason}};
    for (const auto &[key, figure] : {std::pair{"mean", f.mean}, std::pair{"sigma", f.sigma}}) {
        if (std::isfinite(figure))
            json.insert(QLatin1String(key), figure);
    }
    const QString text =
        QStringLiteral("address=%1 %2 samples=%3 mean=%4 sigma=%5 name=\"%6\"%7")
            .arg(unit.address)
            .arg(judgement.passed() ? QStringLiteral("pass")
                                    : QString::fromLatin1(BenchTest::verdictKey(judgement.verdict)).toUpper())
            .arg(f.samples)
            .arg(figureText(f.mean), figureText(f.sigma), FrameWords::escapedControls(unit.name),
                 judgement.passed() ? QString() : QStringLiteral(" reason=\"%1\"").arg(judgement.reason));
    printer.record(text, json);
}

} // namespace

int Commands::test(CommandContext &context)
{
    const std::optional<BenchTest::Limits> limits = limitsOf(context.invocation());
    if (!limits)
        return context.usage(QStringLiteral("test needs --expect and --tolerance"));
    if (limits->longestMs < limits->durationMs)
        return context.usage(QStringLiteral("--max-duration must be at least --duration"));
    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    if (!context.connect(*line))
        return ExitStatus::Failed;
    StopRequest::catchSignals();

    QList<Bus::Unit> units;
    for (quint8 address : context.polledAddresses(*line))
        units << Blocking::identified(context.session(), address);
    context.note(QStringLiteral("testing %1 unit(s) on %2 for %3 s (on until each has its readings, %4 s at most) "
                                "against %5 ± %6, sigma at most %7, at least %8 readings")
                     .arg(units.size()).arg(line->shownName).arg(limits->durationMs / 1000).arg(limits->longestMs / 1000)
                     .arg(limits->expected).arg(limits->tolerance).arg(limits->sigmaLimit).arg(limits->minReadings));
    Bus::Poller poller(context.session());
    poller.setUnits(units);
    BenchTest::Run run(units, *limits, poller.now());
    pollUntilOver(context.session(), poller, run);
    if (StopRequest::requested())
        return ExitStatus::Failed;
    run.finish(poller.now());

    BenchTest::Report report;
    report.when = QDateTime::currentDateTime();
    report.line = QStringLiteral("%1, %2 бод, паритет %3, стоп-бит %4")
                      .arg(line->shownName)
                      .arg(LineSettings::BaudRates[line->setup.speedNumber])
                      .arg(QLatin1String(LineSettings::ParityNames[line->setup.parity]))
                      .arg(LineSettings::StopBitCounts[line->setup.stopBits]);
    report.limits = *limits;
    int failures = 0;
    for (const Bus::Unit &unit : poller.units()) {
        const BenchTest::Judgement judgement = run.judge(unit.address);
        report.rows.append({unit.address, unit.name, unit.version, judgement});
        if (report.unitOfMeasure.isEmpty())
            report.unitOfMeasure = unit.unit;
        failures += judgement.passed() ? 0 : 1;
        print(context.printer(), unit, judgement);
    }
    const QString reportPath = context.invocation().reportPath;
    if (!reportPath.isEmpty()) {
        if (const QString failure = TestReport::write(report, reportPath); !failure.isEmpty()) {
            context.note(QStringLiteral("report not written to %1: %2").arg(reportPath, failure));
            return ExitStatus::Failed;
        }
    }
    if (run.isAborted()) {
        context.note(QStringLiteral("port %1 lost during the test: no unit was judged").arg(line->shownName));
        return ExitStatus::Failed;
    }
    context.note(QStringLiteral("%1 of %2 unit(s) passed").arg(poller.units().size() - failures).arg(poller.units().size()));
    return failures > 0 ? ExitStatus::Differs : ExitStatus::Success;
}
