// Time of a search sweep over addresses 1..247 at 19200 baud, no parity, against indicator-sim
// pacing the line (--wire-timing) with one device in the range, beside the floor of 247 probe
// budgets: what a sweep of silent addresses cannot go below.
//
// Usage: indicator-search-bench [ALLOWANCE_MS]   (40)
#include "devicesearch.h"
#include "support/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

constexpr quint8 kSpeedNumber = 4; // 19200 baud
constexpr quint8 kNoParity = 0;
constexpr int kDeviceAddress = 100;
// The pages wait this long for a silent device; a search with it is the way it was before.
constexpr int kPageTimeoutMs = 100;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int allowanceMs = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : DeviceSearch::kDefaultAllowanceMs;

    SimProcess sim({"--wire-timing", "--baud", "19200", "--slave", QString::number(kDeviceAddress)});
    if (!sim.started()) {
        fprintf(stderr, "indicator-sim did not start\n");
        return 1;
    }
    DeviceSearch::Plan plan;
    plan.speeds = {kSpeedNumber};
    plan.parities = {kNoParity};
    plan.likely = {kSpeedNumber, kNoParity};
    plan.allowanceMs = allowanceMs;

    DeviceSearch::Sweep sweep(plan, sim.devicePath(), 0);
    const qint64 floorMs = sweep.remainingMs();
    const qsizetype probes = sweep.total();
    int found = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    while (const auto step = sweep.next())
        found += step->found && step->found->indicator ? 1 : 0;
    const qint64 sweepMs = elapsed.elapsed();
    if (sweep.failure() != DeviceSearch::Sweep::Failure::None) {
        fprintf(stderr, "the port failed during the sweep\n");
        return 1;
    }

    printf("Sweep of addresses 1..247 at 19200 baud, no parity, allowance %d ms, against indicator-sim\n"
           "--wire-timing with one device (address %d) on %s\n",
           allowanceMs, kDeviceAddress, qPrintable(sim.devicePath()));
    printf("%-34s %10s\n", "", "ms");
    printf("%-34s %10lld\n", "sweep", sweepMs);
    printf("%-34s %10lld  (%lld probes x %d ms)\n", "floor: the probe budgets", floorMs, qint64(probes),
           DeviceSearch::probeBudgetMs(kSpeedNumber, allowanceMs));
    printf("%-34s %10lld\n", "the pages' 100 ms per probe", qint64(probes) * kPageTimeoutMs);
    printf("sweep / floor: %.3f; indicators found: %d\n", double(sweepMs) / double(floorMs), found);
    return found == 1 ? 0 : 1;
}
