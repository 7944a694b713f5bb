// How long the window stops answering while its pages are entered: the worst lateness of a 5 ms
// timer of the window's event loop, while each page is entered and for a second after (the
// polling pages go on exchanging), at 1200 baud against a device that answers at the pace of
// the line and against one that never answers, and over TCP to a simulated serial device
// server. Then how long a click takes to act while the line is busy at 1200 baud with a unit
// that never answers: «Стоп» and another page during the Mode page's read-all, the search's
// «Отмена» and the bus window's «Закрыть» while they probe and poll, each click delivered
// through the platform's event queue as a user's is.
//
// Usage: indicator-freeze-bench [ROUNDS]   (each page entered, each click made, ROUNDS times; 3)
#include "mainform.h"
#include "windowstart.h"
#include "support/platformclick.h"
#include "support/simprocess.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QTableView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <cstdio>

namespace {

constexpr int kDefaultRounds = 3;
constexpr int kTickMs = 5;
constexpr int kAfterEntryMs = 1000;
constexpr qint64 kTargetMs = 50;
constexpr qint64 kClickTargetMs = 100;
// How long the line is left busy before the click, and the longest a click is waited for.
constexpr int kBusyBeforeClickMs = 300;
constexpr int kClickGivenUpMs = 10000;
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

template <typename T = QWidget>
T *findIn(QWidget &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// Serves events until done() holds, at most timeoutMs; whether it did.
template <typename Done>
bool serveUntil(Done done, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Clicks button through the platform's queue; the ms until acted() holds, or -1.
template <typename Acted>
qint64 clickTime(QWidget *button, Acted acted)
{
    QElapsedTimer clicked;
    clicked.start();
    platformClick(button);
    return serveUntil(acted, kClickGivenUpMs) ? clicked.elapsed() : -1;
}

// A configurator on the simulator of sim, on a settings file of its own at 1200 baud.
struct Configurator
{
    QTemporaryDir dir;
    std::unique_ptr<TfrmMain> window;

    bool open(const SimProcess &sim)
    {
        const QString settingsPath = dir.filePath(QStringLiteral("indicator-config.ini"));
        if (!sim.started() || !writeSettings(settingsPath, sim.devicePath(), 0))
            return false;
        window = std::make_unique<TfrmMain>(nullptr, settingsPath);
        window->show();
        return true;
    }
    QAction *action(const char *name) const { return findIn<QAction>(*window, name); }
};

// «Стоп» or a page during the Mode page's read-all of a unit that never answers.
qint64 clickDuringReadAll(const char *button)
{
    SimProcess sim({QStringLiteral("--baud"), QStringLiteral("1200"), QStringLiteral("--wire-timing"),
                    QStringLiteral("--silent")});
    Configurator configurator;
    if (!configurator.open(sim) || !startWindow(*configurator.window))
        return -1;
    TfrmMain &window = *configurator.window;
    configurator.action("ActionMode")->trigger();
    serveEvents(kBusyBeforeClickMs);
    if (QLatin1String(button) == QLatin1String("sbStop"))
        return clickTime(findIn(window, "sbStop"), [&] { return configurator.action("ActionStart")->isEnabled(); });
    return clickTime(findIn(window, button), [&] { return findIn(window, "gbPort")->isVisible(); });
}

// «Отмена» while the search probes a line where nothing answers.
qint64 cancelSearch()
{
    SimProcess sim({QStringLiteral("--baud"), QStringLiteral("1200"), QStringLiteral("--wire-timing"),
                    QStringLiteral("--silent")});
    Configurator configurator;
    if (!configurator.open(sim))
        return -1;
    configurator.action("mnuSearch")->trigger();
    auto *search = findIn<QDialog>(*configurator.window, "frmSearch");
    if (!search)
        return -1;
    findIn<QAbstractButton>(*search, "btnSearchStart")->click();
    serveEvents(kBusyBeforeClickMs);
    auto *start = findIn<QAbstractButton>(*search, "btnSearchStart");
    return clickTime(findIn(*search, "btnSearchCancel"), [start] { return start->isEnabled(); });
}

// «Закрыть» while the bus window polls five units, one of which never answers.
qint64 closeBusWindow()
{
    SimProcess sim({QStringLiteral("--baud"), QStringLiteral("1200"), QStringLiteral("--wire-timing"),
                    QStringLiteral("--slave"), QStringLiteral("1-5"), QStringLiteral("--fall-silent"),
                    QStringLiteral("3=0")});
    Configurator configurator;
    if (!configurator.open(sim))
        return -1;
    configurator.action("mnuBus")->trigger();
    QPointer<QDialog> bus = findIn<QDialog>(*configurator.window, "frmBus");
    if (!bus)
        return -1;
    findIn<QLineEdit>(*bus, "edtBusAddresses")->setText(QStringLiteral("1-5"));
    findIn<QAbstractButton>(*bus, "btnBusFind")->click();
    const QAbstractItemModel *table = findIn<QTableView>(*bus, "tblBus")->model();
    // The four units that answer are in the table, and the last has been polled.
    constexpr int kResultColumn = 8;
    if (!serveUntil(
            [table] { return table->rowCount() == 4 && !table->index(3, kResultColumn).data().toString().isEmpty(); },
            kClickGivenUpMs))
        return -1;
    serveEvents(kBusyBeforeClickMs);
    return clickTime(findIn(*bus, "btnBusClose"), [&bus] { return !bus || !bus->isVisible(); });
}

bool printClicks(int rounds)
{
    struct Click
    {
        const char *name;
        std::function<qint64()> run;
    };
    const Click clicks[] = {
        {"«Стоп», Mode read-all", [] { return clickDuringReadAll("sbStop"); }},
        {"a page, Mode read-all", [] { return clickDuringReadAll("sbPort"); }},
        {"search «Отмена»", cancelSearch},
        {"bus window «Закрыть»", closeBusWindow},
    };
    printf("\ntime until a click has acted, ms, at 1200 baud with a silent unit (target %lld)\n",
           static_cast<long long>(kClickTargetMs));
    for (const Click &click : clicks) {
        qint64 worst = 0;
        for (int round = 0; round < rounds; ++round) {
            const qint64 ms = click.run();
            if (ms < 0) {
                fprintf(stderr, "%s: the simulator did not start, or the click never acted\n", click.name);
                return false;
            }
            worst = std::max(worst, ms);
        }
        // Padded as text, not as bytes: the names are Cyrillic.
        printf("%s %8lld   %s\n", qPrintable(QString::fromUtf8(click.name).leftJustified(26)),
               static_cast<long long>(worst), worst <= kClickTargetMs ? "PASS" : "FAIL");
        fflush(stdout);
    }
    return true;
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
    return printClicks(rounds) ? 0 : 1;
}
