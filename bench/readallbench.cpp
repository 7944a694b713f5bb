#include "readallbench.h"

#include "blocking.h"
#include "linesettings.h"
#include "session.h"
#include "support/simprocess.h"

#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace ReadAllBench {

namespace {

constexpr int kDefaultRuns = 5;
constexpr int kMinRepeats = 3; // failed runs a short benchmark may repeat
constexpr std::array<quint32, 2> kBauds{19200, 1200};
constexpr int kReadRequestBytes = 8;  // slave, function, first register, count, CRC
constexpr int kReadReplyOverhead = 5; // slave, function, byte count, CRC

double floorMs(const QList<const Catalogue::Parameter *> &reads, quint32 baud)
{
    int characters = 0;
    for (const Catalogue::Parameter *parameter : reads)
        characters += kReadRequestBytes + kReadReplyOverhead + parameter->bytes();
    return 1000.0 * characters * LineSettings::bitsPerCharacter / baud;
}

// Milliseconds of each run, or nothing when there was no connection or reads failed in as many
// runs again (three, at least). A paced line on a loaded machine now and then misses a
// time-out (the simulator held back past the 50 ms between two bytes): such a run is repeated,
// not timed, and counted.
std::vector<double> timeRuns(quint32 baud, int runs, const std::function<ReadAll(Session &)> &prepare)
{
    SimProcess sim({QStringLiteral("--wire-timing"), QStringLiteral("--baud"), QString::number(baud)});
    if (!sim.started())
        return {};
    Session session;
    session.setDeviceNumber(1);
    LineSetup line;
    line.speedNumber = *LineSettings::speedNumber(baud);
    line.portName = sim.devicePath();
    if (!Blocking::start(session, line))
        return {};
    const ReadAll readAll = prepare(session);
    std::vector<double> times;
    int failedRuns = 0;
    while (int(times.size()) < runs) {
        QElapsedTimer clock;
        clock.start();
        if (readAll())
            times.push_back(clock.nsecsElapsed() / 1e6);
        else if (++failedRuns > std::max(runs, kMinRepeats))
            return {};
    }
    if (failedRuns > 0)
        std::fprintf(stderr, "%u baud: %d run(s) with a failed read repeated\n", baud, failedRuns);
    return times;
}

} // namespace

int run(int argc, char *argv[], const QList<const Catalogue::Parameter *> &reads,
        const std::function<ReadAll(Session &)> &prepare)
{
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultRuns;
    std::printf("%-7s %10s %10s %10s %16s\n", "baud", "floor ms", "best ms", "median ms", "over/exchange ms");
    for (quint32 baud : kBauds) {
        std::vector<double> times = timeRuns(baud, runs, prepare);
        if (times.empty()) {
            std::fprintf(stderr, "no connection to indicator-sim, or failed reads in most runs, at %u baud\n", baud);
            return 1;
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        const double floor = floorMs(reads, baud);
        std::printf("%-7u %10.1f %10.1f %10.1f %16.2f\n", baud, floor, times.front(), median,
                    (median - floor) / double(reads.size()));
    }
    return 0;
}

} // namespace ReadAllBench
