// How long the configurator's window takes to appear, beside a bare Qt main window with a tool
// bar and a menu, started in turns on the same X display: from the start of the process to the
// X server's MapNotify of its first top-level window, and the processor time the process used
// by then (less sensitive to a busy machine than the wall clock). The pairs alternate so that a
// noisy machine slows both alike; the figures are the medians.
//
// Usage: indicator-startup-bench [PAIRS [PROGRAM]]   (11, the configurator built beside it;
//        needs DISPLAY, e.g. under xvfb-run)
//        indicator-startup-bench --bare    (the bare window itself)
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QToolBar>

#include <xcb/xcb.h>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultPairs = 11;
constexpr auto kAppearLimit = std::chrono::seconds(20);

int showBareWindow(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    QMenu *menu = window.menuBar()->addMenu(QStringLiteral("Файл"));
    menu->addAction(QStringLiteral("Выход"));
    QToolBar *toolBar = window.addToolBar(QStringLiteral("Панель"));
    for (const char *caption : {"Старт", "Стоп", "Режим", "Порт", "Калибровка", "Информация"})
        toolBar->addAction(QString::fromUtf8(caption));
    window.resize(800, 600);
    window.show();
    return QApplication::exec();
}

class XDisplay
{
public:
    XDisplay() : m_connection(xcb_connect(nullptr, nullptr)) {}
    ~XDisplay() { xcb_disconnect(m_connection); }
    XDisplay(const XDisplay &) = delete;
    XDisplay &operator=(const XDisplay &) = delete;

    bool open() const { return xcb_connection_has_error(m_connection) == 0; }

    // Top-level windows are the root's children: their mapping reaches whoever listens to the
    // root's substructure.
    void watchTopLevelMaps()
    {
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }

    // Waits for the next map of a window that is not a pop-up, until the deadline.
    bool waitForMap(Clock::time_point deadline)
    {
        while (Clock::now() < deadline) {
            xcb_generic_event_t *event = xcb_poll_for_event(m_connection);
            if (!event) {
                usleep(200);
                continue;
            }
            const bool mapped = (event->response_type & ~0x80) == XCB_MAP_NOTIFY
                                && !reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect;
            std::free(event);
            if (mapped)
                return true;
        }
        return false;
    }

    void dropPendingEvents()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

private:
    xcb_connection_t *m_connection;
};

struct Appearance
{
    double wallMs;
    double cpuMs; // user and system time, up to its end just after the map
};

double milliseconds(const timeval &time)
{
    return time.tv_sec * 1e3 + time.tv_usec / 1e3;
}

// From the spawn to the window's map, or nothing when it never appeared.
std::optional<Appearance> timeToAppear(XDisplay &display, std::vector<const char *> command)
{
    display.dropPendingEvents();
    command.push_back(nullptr);
    pid_t child = 0;
    const Clock::time_point start = Clock::now();
    if (posix_spawn(&child, command[0], nullptr, nullptr, const_cast<char *const *>(command.data()), environ) != 0)
        return std::nullopt;
    const bool appeared = display.waitForMap(start + kAppearLimit);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    kill(child, SIGKILL);
    rusage usage{};
    wait4(child, nullptr, 0, &usage);
    if (!appeared)
        return std::nullopt;
    return Appearance{ms, milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime)};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::string_view(argv[1]) == "--bare")
        return showBareWindow(argc, argv);

    const int pairs = argc > 1 ? std::atoi(argv[1]) : kDefaultPairs;
    if (pairs < 1) {
        std::fprintf(stderr, "usage: indicator-startup-bench [PAIRS [PROGRAM]]\n");
        return 2;
    }
    XDisplay display;
    if (!display.open()) {
        std::fprintf(stderr, "indicator-startup-bench: no X display (run it under xvfb-run)\n");
        return 1;
    }
    display.watchTopLevelMaps();

    const char *program = argc > 2 ? argv[2] : INDICATOR_CONFIG_PROGRAM;
    std::vector<double> bare, bareCpu;
    std::vector<double> config, configCpu;
    for (int pair = 0; pair < pairs; ++pair) {
        const std::optional<Appearance> b = timeToAppear(display, {argv[0], "--bare"});
        const std::optional<Appearance> c = timeToAppear(display, {program});
        if (!b || !c) {
            std::fprintf(stderr, "indicator-startup-bench: a window did not appear within %lld s\n",
                         static_cast<long long>(kAppearLimit.count()));
            return 1;
        }
        bare.push_back(b->wallMs);
        bareCpu.push_back(b->cpuMs);
        config.push_back(c->wallMs);
        configCpu.push_back(c->cpuMs);
    }
    const double bareMs = median(bare), bareCpuMs = median(bareCpu);
    const double configMs = median(config), configCpuMs = median(configCpu);
    std::printf("medians of %d           wall ms   cpu ms\n", pairs);
    std::printf("bare Qt main window    %7.1f  %7.1f\n", bareMs, bareCpuMs);
    std::printf("the configurator       %7.1f  %7.1f   (%s)\n", configMs, configCpuMs, program);
    std::printf("ratio                  %7.2f  %7.2f   (target at most 1.30)\n", configMs / bareMs,
                configCpuMs / bareCpuMs);
    return 0;
}
