// Time of the Mode page's read-all against indicator-sim pacing the line as a real one would,
// next to the floor that the characters on the wire alone take.
//
// Usage: indicator-modepage-bench [N]   (N read-alls at each baud rate; 5)
#include "catalogue.h"
#include "linesettings.h"
#include "modepage.h"
#include "resultcodes.h"
#include "session.h"
#include "support/simprocess.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDefaultRuns = 5;
constexpr std::array<quint32, 2> kBauds{19200, 1200};
constexpr int kReadRequestBytes = 8;  // slave, function, first register, count, CRC
constexpr int kReadReplyOverhead = 5; // slave, function, byte count, CRC

// The page reads every setting of the catalogue's, once each.
QList<const Catalogue::Parameter *> pageParameters()
{
    QList<const Catalogue::Parameter *> settings;
    for (const Catalogue::Parameter &parameter : Catalogue::parameters()) {
        if (parameter.role == Catalogue::Role::Setting)
            settings.append(&parameter);
    }
    return settings;
}

int wireCharacters()
{
    int characters = 0;
    for (const Catalogue::Parameter *parameter : pageParameters())
        characters += kReadRequestBytes + kReadReplyOverhead + parameter->bytes();
    return characters;
}

double floorMs(quint32 baud)
{
    return 1000.0 * wireCharacters() * LineSettings::bitsPerCharacter / baud;
}

// Milliseconds of each read-all, or nothing when the page could not connect or an exchange
// failed: a failure ends early and would flatter the figures.
std::vector<double> timeReadAll(quint32 baud, int runs)
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
    bool failed = false;
    QObject::connect(&session, &Session::outcome, [&failed](qint16 code) { failed = failed || code < lrOk; });
    ModePage page(session, nullptr);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        page.ModeAllRd();
        times.push_back(clock.nsecsElapsed() / 1e6);
        if (failed)
            return {};
    }
    return times;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultRuns;
    std::printf("%-7s %10s %10s %10s %16s\n", "baud", "floor ms", "best ms", "median ms", "over/exchange ms");
    for (quint32 baud : kBauds) {
        std::vector<double> times = timeReadAll(baud, runs);
        if (times.empty()) {
            std::fprintf(stderr, "no connection to indicator-sim, or a failed read, at %u baud\n", baud);
            return 1;
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        std::printf("%-7u %10.1f %10.1f %10.1f %16.2f\n", baud, floorMs(baud), times.front(), median,
                    (median - floorMs(baud)) / pageParameters().size());
    }
    return 0;
}
