// CPU of the configurator while the Readings page polls indicator-sim at 30 exchanges a second
// (three reads every 100 ms), with the exchange monitor closed and open in turns.
//
// Then the memory that the monitor's history takes when full, and after it has gone on.
//
// Usage: indicator-monitor-bench [SECONDS [ROUNDS]]   (each round: SECONDS closed, SECONDS open; 20 3)
#include "exchangelog.h"
#include "mainform.h"
#include "windowstart.h"
#include "rtuframe.h"
#include "support/simprocess.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

constexpr int kDefaultSeconds = 20;
constexpr int kDefaultRounds = 3;
constexpr int kReadsPerPoll = 3; // display text, self-diagnostics, EEPROM errors

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

struct Phase
{
    double cpu = 0;
    double wall = 0;
    int exchanges = 0;
};

// Runs the event loop for `seconds` and adds what it cost to `phase`.
void measure(Phase &phase, int seconds, const int &exchanges)
{
    const int exchangesBefore = exchanges;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    // A loop of its own: quitting the application's loop would close the window, and the connection with it.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    phase.cpu += cpuSeconds() - cpuBefore;
    phase.wall += double(wall.elapsed()) / 1000.0;
    phase.exchanges += exchanges - exchangesBefore;
}

void report(const char *name, const Phase &phase)
{
    std::printf("%-15s %7.1f s  %6d exchanges (%5.1f/s)  CPU %6.3f s = %6.3f %% of one core\n", name, phase.wall,
                phase.exchanges, phase.exchanges / phase.wall, phase.cpu, 100.0 * phase.cpu / phase.wall);
}

// Resident memory as the history fills up and then goes on for five times as long: once the
// oldest rows are dropped, it must stop growing.
void reportHistoryMemory()
{
    constexpr int kReplySize = 7; // a one-register read reply
    constexpr int kPerBatch = 30;  // a second of polling
    ExchangeLog log;
    const auto feed = [&log](int count) {
        for (int i = 0; i < count; ++i) {
            ExchangeRecord record;
            record.request = Rtu::readRequest(1, quint16(i), 1);
            record.reply = QByteArray(kReplySize, char(i));
            record.sent = record.ended = QDateTime::currentDateTime();
            log.add(record);
            if (i % kPerBatch == 0)
                log.flush();
        }
        log.flush();
    };
    const long before = residentKiB();
    feed(ExchangeLog::kDefaultCapacity);
    const long full = residentKiB();
    feed(5 * ExchangeLog::kDefaultCapacity);
    std::printf("history: +%ld KiB with %d rows, +%ld KiB after %d rows more\n", full - before,
                ExchangeLog::kDefaultCapacity, residentKiB() - before, 5 * ExchangeLog::kDefaultCapacity);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultSeconds;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : kDefaultRounds;

    SimProcess sim;
    if (!sim.started()) {
        std::fprintf(stderr, "indicator-sim did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("indicator-config.ini"));
    QFile settings(settingsPath);
    const QByteArray content = "[COMP]\nPortNumber=1\nSpeedNumber=4\n[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\n";
    if (!settings.open(QIODevice::WriteOnly) || settings.write(content) != content.size())
        return 1;
    settings.close();

    TfrmMain window(nullptr, settingsPath);
    window.show();
    const auto action = [&window](const char *name) { return window.findChild<QAction *>(QLatin1String(name)); };
    if (!startWindow(window)) {
        std::fprintf(stderr, "no connection to %s\n", qPrintable(sim.devicePath()));
        return 1;
    }

    // Connected after the window's own handler, so each count follows the poll it counts; a
    // poll with a failed read leaves its message in the error area.
    int exchanges = 0;
    int failedPolls = 0;
    auto *errors = window.findChild<QLabel *>(QStringLiteral("lblErrors"));
    QObject::connect(window.findChild<QTimer *>(QStringLiteral("Timer")), &QTimer::timeout, &window, [&] {
        exchanges += kReadsPerPoll;
        if (!errors->text().isEmpty())
            ++failedPolls;
    });
    action("ActionData")->trigger();

    Phase closed;
    Phase open;
    for (int round = 0; round < rounds; ++round) {
        measure(closed, seconds, exchanges);
        action("mnuMonitor")->trigger();
        measure(open, seconds, exchanges);
        std::printf("round %d: resident %ld KiB with the monitor open\n", round + 1, residentKiB());
        if (QWidget *monitor = window.findChild<QWidget *>(QStringLiteral("frmMonitor")))
            monitor->close();
    }
    reportHistoryMemory();
    report("monitor closed", closed);
    report("monitor open", open);
    // A loaded machine may make the simulator miss a time-out now and then; only a poll that
    // never got through means the measurement is void.
    const int polls = exchanges / kReadsPerPoll;
    std::printf("the monitor adds %.3f %% of one core; %d of %d polls had a failed read\n",
                100.0 * (open.cpu / open.wall - closed.cpu / closed.wall), failedPolls, polls);
    return failedPolls < polls ? 0 : 1;
}
