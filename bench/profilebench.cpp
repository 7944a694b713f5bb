// Time of reading a device's profile, as a save does, against indicator-sim pacing the line as a
// real one would, next to the floor that the characters on the wire alone take.
//
// Usage: indicator-profile-bench [N]   (N saves at each baud rate; 5)
#include "linesettings.h"
#include "profile.h"
#include "profilereader.h"
#include "session.h"
#include "support/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDefaultRuns = 5;
constexpr std::array<quint32, 2> kBauds{19200, 1200};
constexpr int kReadRequestBytes = 8;  // slave, function, first register, count, CRC
constexpr int kReadReplyOverhead = 5; // slave, function, byte count, CRC

int wireCharacters()
{
    int characters = 0;
    for (const Catalogue::Parameter *parameter : Profiles::readParameters())
        characters += kReadRequestBytes + kReadReplyOverhead + parameter->bytes();
    return characters;
}

double floorMs(quint32 baud)
{
    return 1000.0 * wireCharacters() * LineSettings::bitsPerCharacter / baud;
}

// Milliseconds of each whole reading, or nothing when there was no connection or a read failed:
// a failure ends early and would flatter the figures.
std::vector<double> timeSaves(quint32 baud, int runs)
{
    SimProcess sim({QStringLiteral("--wire-timing"), QStringLiteral("--baud"), QString::number(baud)});
    if (!sim.started())
        return {};
    Session session;
    session.setDeviceNumber(1);
    LineSetup line;
    line.speedNumber = *LineSettings::speedNumber(baud);
    line.portName = sim.devicePath();
    if (!session.start(line))
        return {};
    const Profiles::Origin origin{sim.devicePath(), line.speedNumber, 0, 0, 1};
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        ProfileReader reader(session, origin);
        reader.readAll();
        times.push_back(clock.nsecsElapsed() / 1e6);
        if (!reader.complete())
            return {};
    }
    return times;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultRuns;
    const auto exchanges = Profiles::readParameters().size();
    std::printf("%-7s %10s %10s %10s %16s\n", "baud", "floor ms", "best ms", "median ms", "over/exchange ms");
    for (quint32 baud : kBauds) {
        std::vector<double> times = timeSaves(baud, runs);
        if (times.empty()) {
            std::fprintf(stderr, "no connection to indicator-sim, or a failed read, at %u baud\n", baud);
            return 1;
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        std::printf("%-7u %10.1f %10.1f %10.1f %16.2f\n", baud, floorMs(baud), times.front(), median,
                    (median - floorMs(baud)) / double(exchanges));
    }
    return 0;
}
