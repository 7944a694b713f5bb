// Time of the Mode page's read-all against indicator-sim pacing the line as a real one would,
// next to the floor that the characters on the wire alone take.
//
// Usage: indicator-modepage-bench [N]   (N read-alls at each baud rate; 5)
#include "linesettings.h"
#include "mainform.h"
#include "parammap.h"
#include "support/simprocess.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDefaultRuns = 5;
constexpr std::array<quint32, 2> kBauds{19200, 1200};
constexpr int kBitsPerCharacter = 11; // start, 8 data, parity, stop at most
constexpr int kReadRequestBytes = 8;  // slave, function, first register, count, CRC
constexpr int kReadReplyOverhead = 5; // slave, function, byte count, CRC

// The page's reads, as its read-all makes them.
constexpr std::array kPageParameters{prmModeDeadSpace,   prmModeBrightness,     prmModeRElSignalBottomRange,
                                     prmModeRElSignalTopRange, prmModeDecimalPointPos, prmModeRangeSet,
                                     prmModeBottomRange, prmModeTopRange,       prmModeUnit,
                                     prmModeScaleType,   prmModeBlink};

int wireCharacters()
{
    int characters = 0;
    for (TParamId id : kPageParameters)
        characters += kReadRequestBytes + kReadReplyOverhead + ParamMap[id].Bytes;
    return characters;
}

double floorMs(quint32 baud)
{
    return 1000.0 * wireCharacters() * kBitsPerCharacter / baud;
}

// Milliseconds of each read-all, or nothing when the window could not connect or an exchange
// failed: a failure ends early and would flatter the figures.
std::vector<double> timeReadAll(quint32 baud, int runs)
{
    SimProcess sim({QStringLiteral("--wire-timing"), QStringLiteral("--baud"), QString::number(baud)});
    if (!sim.started())
        return {};
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("indicator-config.ini"));
    QFile settings(settingsPath);
    if (!settings.open(QIODevice::WriteOnly))
        return {};
    settings.write(QStringLiteral("[COMP]\nPortNumber=1\nSpeedNumber=%1\n[PORTS]\nCOM2=%2\n")
                       .arg(*LineSettings::speedNumber(baud))
                       .arg(sim.devicePath())
                       .toLocal8Bit());
    settings.close();

    TfrmMain window(nullptr, settingsPath);
    window.findChild<QAction *>(QStringLiteral("ActionStart"))->trigger();
    if (!window.findChild<QAction *>(QStringLiteral("ActionStop"))->isEnabled())
        return {};
    const QLabel *errors = window.findChild<QLabel *>(QStringLiteral("lblErrors"));
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        window.ModeAllRd();
        times.push_back(clock.nsecsElapsed() / 1e6);
        if (!errors->text().isEmpty())
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
                    (median - floorMs(baud)) / kPageParameters.size());
    }
    return 0;
}
