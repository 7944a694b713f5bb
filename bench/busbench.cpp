// Many units on one line: how long the window takes to list them, how long a round of polls
// takes, and how many readings twenty units give in ten seconds with ten empty addresses among
// them and without, against indicator-sim pacing the line (--wire-timing) at 19200 baud.
//
// Listing is a sweep of the addresses at the one setting. A silent address costs its probe's
// whole budget (49 ms at 19200 with the default allowance), an answering one only the wire
// time of its probe and its name and version reads: their sum is the floor of the listing.
// A round polls each unit once, one read of registers 0x0000-0x0009 (the number, the flag words,
// the display text): 33 characters on the wire, 18.9 ms a unit, 0.57 s for thirty, where four
// reads took 66 characters and 1.2 s; the target is a round of at most 0.6 s. The round's time
// over that floor, per exchange, is what the program adds: the target is at most 1 ms.
//
// The readings: twenty units polled for 10 s as indicator-cli test polls them, each address
// first asked its name and firmware, once at the twenty addresses alone and once at thirty
// addresses of which every third is empty. The retries of the empty ones take at most a
// twentieth of the line: the target is at least 90 % of the readings without them.
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
#include <QHash>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace {

constexpr quint8 kSpeedNumber = 4; // 19200 baud
constexpr int kDefaultRounds = 5;
constexpr int kDefaultUnits = 30;
constexpr int kRequestBytes = 8;
constexpr int kReplyOverheadBytes = 5; // address, function, byte count, CRC
constexpr qint64 kRoundTimeoutMs = 60000;
constexpr int kReadingUnits = 20;
constexpr int kEmptyEvery = 3; // addresses 3, 6, .., 30 among 1..30
constexpr qint64 kReadingsMs = 10000;

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

// A unit's poll: one read of its registers.
double pollWireMs()
{
    return wireMs(kRequestBytes + kReplyOverheadBytes + 2 * Bus::polledRegisters().count);
}

struct Listing
{
    int found = 0;
    qint64 ms = 0;
    double floorMs = 0;
};

// The simulated line, as every part of the benchmark opens it.
LineSetup lineTo(const QString &device)
{
    LineSetup line;
    line.speedNumber = kSpeedNumber;
    line.portName = device;
    return line;
}

Listing listUnits(const QString &device, int lastAddress)
{
    DeviceSearch::Plan plan;
    plan.likely = {kSpeedNumber, 0};
    plan.lastAddress = lastAddress;
    Line line;
    const LineSetup port = lineTo(device);
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
    if (!Blocking::start(session, lineTo(device)))
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

bool isEmptyAddress(int address)
{
    return address % kEmptyEvery == 0;
}

// The readings each unit that answers gives in kReadingsMs of polling the addresses, identified
// first as indicator-cli test does.
QList<int> readingsOf(const QString &device, const QList<quint8> &addresses)
{
    Session session;
    if (!Blocking::start(session, lineTo(device)))
        return {};
    QList<Bus::Unit> units;
    for (quint8 address : addresses)
        units << Blocking::identified(session, address);
    Bus::Poller poller(session);
    poller.setUnits(units);
    QHash<quint8, int> readings;
    QEventLoop loop;
    QObject::connect(&poller, &Bus::Poller::unitPolled, &loop, [&](int row) {
        const Bus::Unit &unit = poller.units()[row];
        if (unit.value)
            ++readings[unit.address];
    });
    QTimer::singleShot(kReadingsMs, &loop, &QEventLoop::quit);
    poller.start();
    loop.exec();
    poller.stop();
    QList<int> counts;
    for (quint8 address : addresses) {
        if (!isEmptyAddress(address))
            counts << readings.value(address);
    }
    return counts;
}

double meanOf(const QList<int> &counts)
{
    return counts.isEmpty() ? 0.0 : std::accumulate(counts.begin(), counts.end(), 0.0) / double(counts.size());
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
    const double floorMs = units * pollWireMs();
    const qint64 best = *std::min_element(times.begin(), times.end());
    const qint64 worst = *std::max_element(times.begin(), times.end());
    const double mean = std::accumulate(times.begin(), times.end(), 0.0) / double(times.size());
    const int exchanges = units;
    printf("Polling round of %d units (%d exchanges), %lld round(s): best %lld ms, mean %.0f ms, worst %lld ms; "
           "wire floor %.0f ms\n",
           units, exchanges, qint64(times.size()), best, mean, worst, floorMs);
    printf("Over the wire's floor: %.2f ms an exchange at best, %.2f ms on the mean (target at most 1 ms)\n",
           (best - floorMs) / exchanges, (mean - floorMs) / exchanges);

    // Twenty units among thirty addresses, every third empty.
    QList<quint8> answering;
    QList<quint8> withEmpty;
    QStringList slaves;
    for (int address = 1; address <= kReadingUnits * kEmptyEvery / (kEmptyEvery - 1); ++address) {
        withEmpty << quint8(address);
        if (!isEmptyAddress(address)) {
            answering << quint8(address);
            slaves << QString::number(address);
        }
    }
    SimProcess twenty({"--wire-timing", "--slave", slaves.join(u','), "--reading", "12", "--noise", "0.01"});
    if (!twenty.started()) {
        fprintf(stderr, "indicator-bus-bench: no indicator-sim for the readings\n");
        return 1;
    }
    const QList<int> alone = readingsOf(twenty.devicePath(), answering);
    const QList<int> among = readingsOf(twenty.devicePath(), withEmpty);
    if (alone.isEmpty() || among.isEmpty()) {
        fprintf(stderr, "indicator-bus-bench: the readings were not polled\n");
        return 1;
    }
    printf("Readings of %d units in %.0f s: %.1f each on the mean (fewest %d) at their %d addresses alone; "
           "%.1f (fewest %d) with %lld empty addresses among them: %.0f %% (target at least 90 %%)\n",
           kReadingUnits, kReadingsMs / 1000.0, meanOf(alone), *std::min_element(alone.begin(), alone.end()),
           kReadingUnits, meanOf(among), *std::min_element(among.begin(), among.end()),
           qint64(withEmpty.size() - answering.size()), 100.0 * meanOf(among) / std::max(meanOf(alone), 1.0));
    return listing.found == units ? 0 : 1;
}
