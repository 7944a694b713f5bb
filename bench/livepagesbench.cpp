// The configurator's window on the Readings page, polling indicator-sim: polls per second and
// the configurator's own processor time per second of polling.
//
// Usage: indicator-livepages-bench [S]   (S seconds of polling; 10)
#include "mainform.h"
#include "windowstart.h"
#include "support/simprocess.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

constexpr int kDefaultSeconds = 10;

// User and system time of this process so far.
double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool writeSettings(const QString &path, const QString &device)
{
    // The simulator's 19200 baud is row 4 of the speed list, its slave address the default 1.
    const QByteArray settings = "[PORTS]\nCOM2=" + device.toLocal8Bit() + "\n[COMP]\nPortNumber=1\nSpeedNumber=4\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultSeconds;
    if (seconds < 1) {
        fprintf(stderr, "Usage: indicator-livepages-bench [S]   (S >= 1 seconds of polling)\n");
        return 2;
    }

    SimProcess sim({QStringLiteral("--self-diag"), QStringLiteral("5")});
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("indicator-config.ini"));
    if (!sim.started() || !writeSettings(settingsPath, sim.devicePath())) {
        fprintf(stderr, "indicator-sim did not start, or no settings file\n");
        return 1;
    }

    TfrmMain window(nullptr, settingsPath);
    window.show();
    const auto action = [&window](const char *name) { return window.findChild<QAction *>(QLatin1String(name)); };
    if (!startWindow(window)) {
        fprintf(stderr, "the connection to %s did not open\n", qPrintable(sim.devicePath()));
        return 1;
    }

    int polls = 0;
    QObject::connect(window.findChild<QTimer *>(QStringLiteral("Timer")), &QTimer::timeout, [&polls] { ++polls; });
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QCoreApplication::quit);
    QElapsedTimer elapsed;
    elapsed.start();
    const double processorBefore = processorSeconds();
    action("ActionData")->trigger();
    app.exec();
    const double wall = double(elapsed.nsecsElapsed()) / 1e9;
    const double processor = processorSeconds() - processorBefore;
    action("ActionStop")->trigger();

    const QString errors = window.findChild<QLabel *>(QStringLiteral("lblErrors"))->text();
    const QString display = window.findChild<QLineEdit *>(QStringLiteral("edtDataCur"))->text();
    printf("Readings page polling indicator-sim on %s for %.1f s (3 reads a poll, 100 ms interval)\n",
           qPrintable(sim.devicePath()), wall);
    printf("polls: %d, %.2f per second\n", polls, polls / wall);
    printf("processor time: %.3f s, %.4f s per second of polling (%.2f %% of one core)\n", processor,
           processor / wall, 100 * processor / wall);
    printf("display \"%s\", error area \"%s\"\n", qPrintable(display), qPrintable(errors));
    if (!errors.isEmpty() || polls == 0) {
        fprintf(stderr, "the polls did not reach the simulator\n");
        return 1;
    }
    return 0;
}
