// How long the search takes to find one device, over a grid of placements: each setting that
// the search window ticks by default (8 speeds, 3 parities) at addresses 1, 16, 100 and 247,
// with the left panel at its defaults (9600, no parity, device 1). Once in the order the search
// used before, setting after setting in table order from 1200 baud up, and once in its order
// now, by likelihood and cost.
//
// The time to find is the sum of the probe budgets up to and including the probe that reaches
// the device. Every probe before that one meets silence and so lasts exactly its budget: the
// sum is the floor that no real search goes below. A few placements are then searched for real
// against indicator-sim pacing the line (--wire-timing), beside that floor, to show that the
// model holds.
//
// Usage: indicator-search-bench [PLACEMENTS] [ALLOWANCE_MS]   (3 real placements, at most 3; 40)
#include "blocking.h"
#include "devicesearch.h"
#include "linesettings.h"
#include "support/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

using DeviceSearch::LineSetting;
using DeviceSearch::Plan;
using DeviceSearch::Probe;

namespace {

constexpr quint8 kSpeedCount = LineSettings::BaudRates.size();
constexpr quint8 kParityCount = 3; // the rows the window offers: none, even, odd
constexpr quint8 kNoParity = 0;
constexpr quint8 kOddParity = 2;
constexpr LineSetting kPanelSetting{3, kNoParity}; // the left panel's defaults: 9600, none
constexpr int kPanelAddress = 1;
constexpr std::array<int, 4> kGridAddresses{1, 16, 100, 247};
constexpr double kMsPerSecond = 1000.0;

// Real placements that together take about 12 s: the left panel's own setting, and two
// devices that the pass of the low addresses reaches after 4.9 s and 6.9 s.
struct Placement
{
    LineSetting setting;
    int address;
};
constexpr std::array<Placement, 3> kRealPlacements{
    Placement{kPanelSetting, kPanelAddress},
    Placement{{5, kOddParity}, 16}, // 38400
    Placement{{7, kNoParity}, 16},  // 115200
};
constexpr int kDefaultRealPlacements = kRealPlacements.size();
const char *const kParityArguments[kParityCount] = {"none", "even", "odd"};

// What the window searches unless the user unticks something.
Plan windowDefaults(int allowanceMs)
{
    Plan plan;
    for (quint8 speed = 0; speed < kSpeedCount; ++speed)
        plan.speeds.append(speed);
    for (quint8 parity = 0; parity < kParityCount; ++parity)
        plan.parities.append(parity);
    plan.likely = kPanelSetting;
    plan.likelyAddress = kPanelAddress;
    plan.allowanceMs = allowanceMs;
    return plan;
}

// The order the search went in before: the likely probe, then setting after setting in table
// order, speeds and then parities, the addresses rising within each.
QList<Probe> tableOrder(const Plan &plan)
{
    QList<LineSetting> settings;
    for (quint8 speed : plan.speeds) {
        for (quint8 parity : plan.parities)
            settings.append({speed, parity});
    }
    settings.move(settings.indexOf(plan.likely), 0);
    const Probe likely{plan.likely, quint8(plan.likelyAddress)};
    QList<Probe> probes{likely};
    for (const LineSetting &setting : settings) {
        for (int address = plan.firstAddress; address <= plan.lastAddress; ++address) {
            if (!(Probe{setting, quint8(address)} == likely))
                probes.append({setting, quint8(address)});
        }
    }
    return probes;
}

// The budgets of the probes up to and including the one at the placement; nothing when the
// order never gets there.
std::optional<qint64> timeToFindMs(const QList<Probe> &order, const Placement &placement, int allowanceMs)
{
    const Probe target{placement.setting, quint8(placement.address)};
    qint64 ms = 0;
    for (const Probe &probe : order) {
        ms += DeviceSearch::probeBudgetMs(probe.setting.speedNumber, allowanceMs);
        if (probe == target)
            return ms;
    }
    return std::nullopt;
}

qint64 totalBudgetMs(const QList<Probe> &order, int allowanceMs)
{
    qint64 ms = 0;
    for (const Probe &probe : order)
        ms += DeviceSearch::probeBudgetMs(probe.setting.speedNumber, allowanceMs);
    return ms;
}

struct Figures
{
    double meanMs = 0;
    qint64 worstMs = 0;
};

// Over every setting of the plan at the given addresses.
Figures figuresOver(const QList<Probe> &order, const Plan &plan, const QList<int> &addresses, int allowanceMs)
{
    Figures figures;
    int placements = 0;
    for (quint8 speed : plan.speeds) {
        for (quint8 parity : plan.parities) {
            for (int address : addresses) {
                const qint64 ms = timeToFindMs(order, {{speed, parity}, address}, allowanceMs).value_or(0);
                figures.meanMs += double(ms);
                figures.worstMs = std::max(figures.worstMs, ms);
                ++placements;
            }
        }
    }
    figures.meanMs /= std::max(placements, 1);
    return figures;
}

void printModel(int allowanceMs)
{
    const Plan plan = windowDefaults(allowanceMs);
    const QList<Probe> before = tableOrder(plan);
    const QList<Probe> now = DeviceSearch::probeOrder(plan);
    printf("Time to find one device, from the probe budgets (allowance %d ms). The window's default plan:\n"
           "%d speeds x %d parities, addresses %d..%d, %lld probes, %.1f s in all; the left panel at 9600/none, %d.\n",
           allowanceMs, int(kSpeedCount), int(kParityCount), plan.firstAddress, plan.lastAddress,
           qint64(now.size()), double(totalBudgetMs(now, allowanceMs)) / kMsPerSecond, kPanelAddress);
    printf("%-28s %12s %12s\n", "placements", "before, s", "now, s");
    for (int address : kGridAddresses) {
        const QString row = QStringLiteral("every setting at %1, mean").arg(address);
        printf("%-28s %12.1f %12.1f\n", qPrintable(row), figuresOver(before, plan, {address}, allowanceMs).meanMs / kMsPerSecond,
               figuresOver(now, plan, {address}, allowanceMs).meanMs / kMsPerSecond);
    }
    const QList<int> grid(kGridAddresses.begin(), kGridAddresses.end());
    const Figures beforeFigures = figuresOver(before, plan, grid, allowanceMs);
    const Figures nowFigures = figuresOver(now, plan, grid, allowanceMs);
    printf("%-28s %12.1f %12.1f\n", "the whole grid, mean", beforeFigures.meanMs / kMsPerSecond,
           nowFigures.meanMs / kMsPerSecond);
    printf("%-28s %12.1f %12.1f\n", "the whole grid, worst", double(beforeFigures.worstMs) / kMsPerSecond,
           double(nowFigures.worstMs) / kMsPerSecond);
    printf("mean now / before: %.3f (%.2f times shorter)\n\n", nowFigures.meanMs / beforeFigures.meanMs,
           beforeFigures.meanMs / nowFigures.meanMs);
}

// The plan of the real runs leaves even parity out: a pseudo-terminal does not keep it, so there
// a device at even parity would answer the probes at none, which the budgets do not foresee.
Plan realPlan(int allowanceMs)
{
    Plan plan = windowDefaults(allowanceMs);
    plan.parities = {kNoParity, kOddParity};
    return plan;
}

struct RealRun
{
    bool found = false;
    qint64 ms = 0;
    qsizetype probes = 0;
};

// Searches until the indicator answers; its name and version are read before the clock stops.
RealRun searchFor(const Placement &placement, const Plan &plan)
{
    const QString baud = QString::number(LineSettings::baudRate(placement.setting.speedNumber).value_or(0));
    SimProcess sim({"--wire-timing", "--baud", baud, "--parity",
                    QLatin1String(kParityArguments[placement.setting.parity]), "--slave",
                    QString::number(placement.address)});
    RealRun run;
    if (!sim.started())
        return run;
    Line line;
    LineSetup port;
    port.portName = sim.devicePath();
    DeviceSearch::Sweep sweep(plan, line, port);
    QElapsedTimer elapsed;
    elapsed.start();
    while (const auto step = Blocking::next(sweep)) {
        if (step->found && step->found->indicator) {
            run.found = step->probe == Probe{placement.setting, quint8(placement.address)};
            break;
        }
    }
    run.ms = elapsed.elapsed();
    run.probes = sweep.sent();
    return run;
}

bool printRealRuns(int count, int allowanceMs)
{
    const Plan plan = realPlan(allowanceMs);
    const QList<Probe> order = DeviceSearch::probeOrder(plan);
    printf("Real searches against indicator-sim --wire-timing: the default plan without even parity\n");
    printf("%-22s %8s %12s %12s %8s\n", "device", "probes", "floor, ms", "found, ms", "ratio");
    bool allFound = true;
    for (int i = 0; i < count; ++i) {
        const Placement &placement = kRealPlacements[i];
        const qint64 floorMs = timeToFindMs(order, placement, allowanceMs).value_or(0);
        const RealRun run = searchFor(placement, plan);
        const QString device = QStringLiteral("%1/%2 at %3")
                                   .arg(LineSettings::baudRate(placement.setting.speedNumber).value_or(0))
                                   .arg(QLatin1String(kParityArguments[placement.setting.parity]))
                                   .arg(placement.address);
        if (!run.found) {
            printf("%-22s not found\n", qPrintable(device));
            allFound = false;
            continue;
        }
        printf("%-22s %8lld %12lld %12lld %8.3f\n", qPrintable(device), qint64(run.probes), floorMs, run.ms,
               double(run.ms) / double(std::max<qint64>(floorMs, 1)));
    }
    return allFound;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int placements = std::clamp(argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultRealPlacements, 0,
                                      kDefaultRealPlacements);
    const int allowanceMs =
        std::max(0, argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : DeviceSearch::kDefaultAllowanceMs);

    printModel(allowanceMs);
    return printRealRuns(placements, allowanceMs) ? 0 : 1;
}
