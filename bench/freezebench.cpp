// How long the window stops answering while its pages are entered: the worst lateness of a 5 ms
// timer of the window's event loop, while each page is entered and for a second after (the
// polling pages go on exchanging), at 1200 baud against a device that answers at the pace of
// the line and against one that never answers, and over TCP to a simulated serial device
// server.
//
// Usage: indicator-freeze-bench [ROUNDS]   (each page entered ROUNDS times in each case; 3)
#include "mainform.h"
#include "windowstart.h"
#include "support/simprocess.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kDefaultRounds = 3;
constexpr int kTickMs = 5;
constexpr int kAfterEntryMs = 1000;
constexpr qint64 kTargetMs = 50;
constexpr const char *kPages[] = {"ActionMode", "ActionPort", "ActionCalibration", "ActionInformation", "ActionData"};

struct Case
{
    const char *name;
    QStringList simArguments;
    int speedNumber; // the window's row of the speed list for the simulator's baud rate
};

// The worst lateness of a timer that should tick every kTickMs, from its start until stop().
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        m_worstMs = 0;
        m_sinceTick.start();
        m_timer.start();
    }
    qint64 stop()
    {
        tick();
        m_timer.stop();
        return m_worstMs;
    }

private:
    void tick()
    {
        m_worstMs = std::max(m_worstMs, m_sinceTick.restart() - kTickMs);
    }

    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_worstMs = 0;
};

bool writeSettings(const QString &path, const QString &device, int speedNumber)
{
    const QByteArray settings = "[PORTS]\nCOM2=" + device.toLocal8Bit() +
                                "\n[COMP]\nPortNumber=1\nSpeedNumber=" + QByteArray::number(speedNumber) + "\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size();
}

void serveEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The worst stall of any page in this case, or -1 when the connection did not open.
qint64 runCase(const Case &test, int rounds)
{
    SimProcess sim(test.simArguments);
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("indicator-config.ini"));
    if (!sim.started() || !writeSettings(settingsPath, sim.devicePath(), test.speedNumber))
        return -1;
    TfrmMain window(nullptr, settingsPath);
    window.show();
    const auto action = [&window](const char *name) { return window.findChild<QAction *>(QLatin1String(name)); };
    if (!startWindow(window))
        return -1;

    StallMeter meter;
    qint64 worstOfCase = 0;
    printf("%-26s", test.name);
    for (const char *page : kPages) {
        qint64 worst = 0;
        for (int round = 0; round < rounds; ++round) {
            meter.start();
            action(page)->trigger();
            serveEvents(kAfterEntryMs);
            worst = std::max(worst, meter.stop());
        }
        printf(" %8lld", static_cast<long long>(worst));
        worstOfCase = std::max(worstOfCase, worst);
    }
    printf("   %s\n", worstOfCase <= kTargetMs ? "PASS" : "FAIL");
    fflush(stdout);
    action("ActionStop")->trigger();
    return worstOfCase;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultRounds;
    if (rounds < 1) {
        fprintf(stderr, "Usage: indicator-freeze-bench [ROUNDS]   (ROUNDS >= 1)\n");
        return 2;
    }
    const QStringList slow{QStringLiteral("--baud"), QStringLiteral("1200"), QStringLiteral("--wire-timing")};
    const Case cases[] = {
        {"1200 baud, answering", slow, 0},
        {"1200 baud, silent", slow + QStringList{QStringLiteral("--silent")}, 0},
        {"TCP, answering", {QStringLiteral("--tcp"), QStringLiteral("0")}, 4},
    };
    printf("worst lateness of a %d ms timer, ms, while a page is entered and %d ms after (target %lld)\n", kTickMs,
           kAfterEntryMs, static_cast<long long>(kTargetMs));
    printf("%-26s %8s %8s %8s %8s %8s\n", "", "Mode", "Port", "Calibr.", "Info", "Readings");
    // The figures are judged by the reader: a busy machine stalls any program now and then.
    for (const Case &test : cases) {
        if (runCase(test, rounds) < 0) {
            fprintf(stderr, "%s: the simulator did not start or the connection did not open\n", test.name);
            return 1;
        }
    }
    return 0;
}
