#include "linetap.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// USB serial adapters hand what they receive to the computer in USB packets: a CH340 in
// pieces of 32 bytes at most, an FTDI whenever its latency timer lapses or its buffer fills,
// so that a frame arrives cut anywhere, the pieces a few milliseconds apart or back to back.
constexpr int kLongestPiece = 32;
constexpr auto kLongestGap = 3ms;
// One gap in this many is none at all: two pieces that arrive together.
constexpr int kNoGapOneIn = 4;
// While no one listens, how often to look for a listener that has come and writes.
constexpr auto kListenerCheck = 200ms;

} // namespace

std::unique_ptr<LineTap> LineTap::open(std::optional<quint32> pieceSeed, QString *error)
{
    std::unique_ptr<LineTap> tap(new LineTap);
    char name[PATH_MAX] = {};
    int otherSide = -1;
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&tap->m_fd, &otherSide, name, &raw, nullptr) != 0) {
        *error = QStringLiteral("cannot make a pseudo-terminal for the tap: %1").arg(strerror(errno));
        return nullptr;
    }
    // The other side stays closed until a listener opens it: its hang-up says no one listens.
    ::close(otherSide);
    fcntl(tap->m_fd, F_SETFD, FD_CLOEXEC);
    fcntl(tap->m_fd, F_SETFL, O_NONBLOCK);
    tap->m_path = QString::fromLocal8Bit(name);
    if (pieceSeed)
        tap->m_pieces.emplace(*pieceSeed);
    return tap;
}

LineTap::~LineTap()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LineTap::listenerPresent() const
{
    pollfd tap{m_fd, POLLIN, 0};
    return poll(&tap, 1, 0) >= 0 && !(tap.revents & POLLHUP);
}

// A listener that has gone leaves in the pseudo-terminal what it did not read, and the next
// one would take that for the line of now: it is thrown away as the listener goes.
void LineTap::noticeListener()
{
    const bool present = listenerPresent();
    if (m_listening && !present) {
        forgetLeftovers();
        m_pending.clear();
    }
    m_listening = present;
}

void LineTap::forgetLeftovers()
{
    const int otherSide = ::open(m_path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (otherSide < 0)
        return;
    tcflush(otherSide, TCIFLUSH);
    ::close(otherSide);
}

void LineTap::ignoreListener()
{
    char ignored[256];
    while (::read(m_fd, ignored, sizeof ignored) > 0) {
    }
}

void LineTap::hear(const char *bytes, qsizetype size)
{
    if (!m_listening)
        noticeListener();
    if (!m_listening)
        return;
    m_pending.append(bytes, size);
    deliver();
}

std::optional<LineTap::Clock::duration> LineTap::serve()
{
    noticeListener();
    if (!m_listening)
        return kListenerCheck;
    ignoreListener();
    deliver();
    if (m_pending.isEmpty())
        return std::nullopt;
    return std::max<Clock::duration>(m_nextPiece - Clock::now(), Clock::duration::zero());
}

void LineTap::deliver()
{
    if (!m_pieces) {
        put(m_pending.constData(), m_pending.size());
        m_pending.clear();
        return;
    }
    while (!m_pending.isEmpty() && Clock::now() >= m_nextPiece) {
        const qsizetype size = std::min(nextPieceSize(), m_pending.size());
        if (!put(m_pending.constData(), size)) {
            m_pending.clear();
            return;
        }
        m_pending.remove(0, size);
        m_nextPiece = Clock::now() + nextGap();
    }
}

// A listener that does not read fills the pseudo-terminal; what does not fit is lost.
bool LineTap::put(const char *bytes, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, bytes, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= n;
    }
    return true;
}

qsizetype LineTap::nextPieceSize() { return m_pieces->bounded(1, kLongestPiece + 1); }

LineTap::Clock::duration LineTap::nextGap()
{
    if (m_pieces->bounded(kNoGapOneIn) == 0)
        return Clock::duration::zero();
    const auto longest = std::chrono::duration_cast<std::chrono::microseconds>(kLongestGap).count();
    return std::chrono::microseconds(m_pieces->bounded(1, int(longest) + 1));
}
