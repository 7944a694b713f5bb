// Many units on one line: how long the window takes to list them, and how long a round of
// polls takes, against indicator-sim pacing the line (--wire-timing) at 19200 baud.
//
// Listing is a sweep of the addresses at the one setting. A silent address costs its probe's
// whole budget (49 ms at 19200 with the default allowance), an answering one only the wire
// time of its probe and its name and version reads: their sum is the floor of the listing.
// A round polls each unit once, four reads each (number, display text, two flag words): 66
// characters on the wire, 37.8 ms a unit. The round's time over that floor, per exchange, is
// what the program adds: the target is at most 1 ms an exchange.
//
// Usage: indicator-bus-bench [ROUNDS] [UNITS] [LAST_ADDRESS]   (5, 30, 247)
#include "blocking.h"
#include "buspoller.h"
#include "devicesearch.h"
#include "linesettings.h"
#include "parammap.h"
#include "session.h"
#include "support/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace {

constexpr quint8 kSpeedNumber = 4; // 19200 baud
constexpr int kDefaultRounds = 5;
constexpr int kDefaultUnits = 30;
constexpr int kExchangesPerPoll = 4;
constexpr int kRequestBytes = 8;
constexpr int kReplyOverheadBytes = 5; // address, function, byte count, CRC
constexpr qint64 kRoundTimeoutMs = 60000;

double wireMs(int characters)
{
    const double baud = LineSettings::baudRate(kSpeedNumber).value_or(LineSettings::BaudRates.front());
    return characters * LineSettings::bitsPerCharacter * 1000.0 / baud;
}

// A read of this parameter: the request and a reply with its registers.
double readWireMs(TParamId id)
{
    return wireMs(kRequestBytes + kReplyOverheadBytes + ParamMap[id].Bytes);
}

struct Listing
{
    int found = 0;
    qint64 ms = 0;
    double floorMs = 0;
};

Listing listUnits(const QString &device, int lastAddress)
{
    DeviceSearch::Plan plan;
    plan.likely = {kSpeedNumber, 0};
    plan.lastAddress = lastAddress;
    Line line;
    LineSetup port;
    port.speedNumber = kSpeedNumber;
    port.portName = device;
    DeviceSearch::Sweep sweep(DeviceSearch::addressesOnly(plan), line, port);
    const double probeBudget = DeviceSearch::probeBudgetMs(kSpeedNumber, DeviceSearch::kDefaultAllowanceMs);
    const double answered = readWireMs(prmPortNetAddr) + readWireMs(prmInformationDevName) + readWireMs(prmInformationProgVer);
    Listing listing;
    QElapsedTimer clock;
    clock.start();
    while (const auto step = Blocking::next(sweep)) {
        const bool indicator = step->found && step->found->indicator;
        listing.found += indicator ? 1 : 0;
        listing.floorMs += indicator ? answered : probeBudget;
    }
    listing.ms = clock.elapsed();
    return listing;
}

// The rounds' times, each the span from one round's first poll to the next round's first.
QList<qint64> pollRounds(const QString &device, int units, int rounds)
{
    Session session;
    LineSetup line;
    line.speedNumber = kSpeedNumber;
    line.portName = device;
    if (!Blocking::start(session, line))
        return {};
    QList<Bus::Unit> list;
    for (int address = 1; address <= units; ++address) {
        Bus::Unit unit;
        unit.address = quint8(address);
        list << unit;
    }
    Bus::Poller poller(session);
    poller.setUnits(list);
    QList<qint64> times;
    QElapsedTimer clock;
    int polls = 0;
    QEventLoop loop;
    QObject::connect(&poller, &Bus::Poller::unitPolled, &loop, [&](int row) {
        if (row == 0) {
            if (clock.isValid())
                times << clock.restart();
            else
                clock.start();
        }
        if (int(times.size()) >= rounds)
            loop.quit();
        ++polls;
    });
    QTimer::singleShot(kRoundTimeoutMs * rounds, &loop, &QEventLoop::quit);
    poller.start();
    loop.exec();
    poller.stop();
    return times;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = std::max(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultRounds);
    const int units = std::clamp(argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : kDefaultUnits, 1, 247);
    const int lastAddress = std::clamp(argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : DeviceSearch::kLastAddress,
                                       units, DeviceSearch::kLastAddress);

    SimProcess sim({"--wire-timing", "--slave", QStringLiteral("1-%1").arg(units), "--reading", "12", "--noise", "0.01"});
    if (!sim.started()) {
        fprintf(stderr, "indicator-bus-bench: no indicator-sim\n");
        return 1;
    }
    printf("indicator-sim --wire-timing, %d units at 19200 baud\n\n", units);

    const Listing listing = listUnits(sim.devicePath(), lastAddress);
    printf("Listing, a sweep of 1..%d: %d units found in %.2f s; floor of the probe budgets and wire times %.2f s; "
           "ratio %.3f\n",
           lastAddress, listing.found, listing.ms / 1000.0, listing.floorMs / 1000.0,
           listing.ms / std::max(listing.floorMs, 1.0));

    const QList<qint64> times = pollRounds(sim.devicePath(), units, rounds);
    if (times.isEmpty()) {
        fprintf(stderr, "indicator-bus-bench: no round of polls completed\n");
        return 1;
    }
    const double floorMs = units * (readWireMs(prmDataCur) + readWireMs(prmDataTxt) + readWireMs(prmSelfDiag)
                                    + readWireMs(prmEEPROMErr));
    const qint64 best = *std::min_element(times.begin(), times.end());
    const qint64 worst = *std::max_element(times.begin(), times.end());
    const double mean = std::accumulate(times.begin(), times.end(), 0.0) / double(times.size());
    const int exchanges = units * kExchangesPerPoll;
    printf("Polling round of %d units (%d exchanges), %lld round(s): best %lld ms, mean %.0f ms, worst %lld ms; "
           "wire floor %.0f ms\n",
           units, exchanges, qint64(times.size()), best, mean, worst, floorMs);
    printf("Over the wire's floor: %.2f ms an exchange at best, %.2f ms on the mean (target at most 1 ms)\n",
           (best - floorMs) / exchanges, (mean - floorMs) / exchanges);
    return listing.found == units ? 0 : 1;
}
