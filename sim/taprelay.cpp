#include "taprelay.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

enum Watched { LineSide, SimulatorSide, Wake, Tap, WatchedCount };

// ppoll's time-out: a random gap between two pieces is microseconds, not whole milliseconds.
timespec timeoutOf(LineTap::Clock::duration wait)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    return {time_t(ns / 1000000000), long(ns % 1000000000)};
}

// With nothing left to read: what is still there is carried first.
bool hungUp(const pollfd &watched)
{
    return (watched.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(watched.revents & POLLIN);
}

} // namespace

std::unique_ptr<TapRelay> TapRelay::start(int line, std::unique_ptr<LineTap> tap, QString *error)
{
    std::unique_ptr<TapRelay> relay(new TapRelay);
    relay->m_line = line;
    relay->m_tap = std::move(tap);
    relay->m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (relay->m_wake < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, relay->m_pair.data()) != 0) {
        *error = QStringLiteral("cannot set up the tap: %1").arg(strerror(errno));
        return nullptr;
    }
    // The relay waits on everything it reads and writes at once, and blocks on none of it.
    fcntl(line, F_SETFL, fcntl(line, F_GETFL) | O_NONBLOCK);
    fcntl(relay->m_pair[1], F_SETFL, O_NONBLOCK);

    // The stop signals go to the request loop, whose waits they are to interrupt: the relay's
    // thread starts with them blocked.
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, signal);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    relay->m_thread = std::thread(&TapRelay::run, relay.get());
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return relay;
}

TapRelay::~TapRelay()
{
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    for (int fd : {m_pair[0], m_pair[1], m_wake}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void TapRelay::run()
{
    std::array<pollfd, WatchedCount> watched{};
    watched[LineSide] = {m_line, POLLIN, 0};
    watched[SimulatorSide] = {m_pair[1], POLLIN, 0};
    watched[Wake] = {m_wake, POLLIN, 0};
    for (;;) {
        const std::optional<LineTap::Clock::duration> wait = m_tap->serve();
        const timespec timeout = timeoutOf(wait.value_or(LineTap::Clock::duration::zero()));
        watched[Tap] = {m_tap->descriptor(), POLLIN, 0};
        const int ready = ppoll(watched.data(), watched.size(), wait ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (watched[Wake].revents)
            return;
        if (hungUp(watched[LineSide]) || hungUp(watched[SimulatorSide]))
            break;
        if (watched[LineSide].revents && !carry(m_line, m_pair[1]))
            break;
        if (watched[SimulatorSide].revents && !carry(m_pair[1], m_line))
            break;
    }
    // The line has gone (an adapter unplugged) or failed: the request loop sees the hang-up.
    shutdown(m_pair[1], SHUT_RDWR);
}

// What `from` has, heard on the tap as it crosses, then passed on. False when `from` has ended.
bool TapRelay::carry(int from, int to)
{
    char bytes[4096];
    const ssize_t n = ::read(from, bytes, sizeof bytes);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (n <= 0)
        return false;
    m_tap->hear(bytes, n);
    return writeAll(to, bytes, n);
}

bool TapRelay::writeAll(int fd, const char *bytes, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size_t(size));
        if (n > 0) {
            bytes += n;
            size -= n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // A master that does not read its replies holds the relay here, as it would hold the
        // simulator's own writes; a stop still ends the wait.
        std::array<pollfd, 2> ready{{{fd, POLLOUT, 0}, {m_wake, POLLIN, 0}}};
        if (poll(ready.data(), ready.size(), -1) > 0 && ready[1].revents)
            return false;
    }
    return true;
}
