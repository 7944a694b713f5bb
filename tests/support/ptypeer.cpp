#include "ptypeer.h"

#include <QDeadlineTimer>
#include <QtGlobal>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {
// A request is complete when the line has been quiet this long after its last byte.
constexpr int kRequestGapMs = 3;
constexpr int kPollMs = 1;
} // namespace

PtyPeer::PtyPeer()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        qFatal("openpty failed");
    // A program the test starts must not hold this end open, or hangUp() would hang up nothing.
    for (const int fd : {m_master, m_slave})
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    m_path = QString::fromLocal8Bit(name);
    m_thread = std::thread([this] { run(); });
}

PtyPeer::~PtyPeer()
{
    m_stop = true;
    m_thread.join();
    if (m_master >= 0)
        ::close(m_master);
    ::close(m_slave);
}

void PtyPeer::queueReply(const Reply &reply)
{
    std::lock_guard lock(m_mutex);
    m_replies.push_back(reply);
}

QList<QByteArray> PtyPeer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool PtyPeer::waitForRequests(int count, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= count; });
}

bool PtyPeer::settle(int timeoutMs) const
{
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kRequestGapMs));
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !m_busy; });
}

void PtyPeer::writeNow(const QByteArray &bytes)
{
    std::lock_guard lock(m_mutex);
    if (m_master >= 0 && ::write(m_master, bytes.constData(), size_t(bytes.size())) != bytes.size())
        qWarning("PtyPeer: short write");
}

void PtyPeer::hangUp()
{
    std::lock_guard lock(m_mutex);
    ::close(m_master);
    m_master = -1;
}

termios PtyPeer::lineSettings() const
{
    termios settings{};
    tcgetattr(m_slave, &settings);
    return settings;
}

PtyPeer::Reply PtyPeer::paced(const QByteArray &bytes, int baud)
{
    const int characterUs = 11 * 1000000 / baud;
    Reply reply;
    for (int i = 0; i < bytes.size(); ++i) {
        // Whole milliseconds per chunk would drift; spread the rounding over the bytes.
        const int delayMs = ((i + 1) * characterUs) / 1000 - (i * characterUs) / 1000;
        reply.append({delayMs, bytes.mid(i, 1)});
    }
    return reply;
}

void PtyPeer::run()
{
    QByteArray pending;
    QDeadlineTimer quiet;
    while (!m_stop) {
        int master;
        {
            std::lock_guard lock(m_mutex);
            master = m_master;
        }
        if (master < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, kPollMs) > 0 && (fd.revents & POLLIN)) {
            char buffer[256];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                setBusy(true);
                pending.append(buffer, n);
                quiet.setRemainingTime(kRequestGapMs);
            }
            continue;
        }
        if (pending.isEmpty() || !quiet.hasExpired())
            continue;
        Reply reply;
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(pending);
            if (!m_replies.empty()) {
                reply = m_replies.front();
                m_replies.pop_front();
            }
        }
        m_changed.notify_all();
        pending.clear();
        play(reply);
        setBusy(false);
    }
}

void PtyPeer::setBusy(bool busy)
{
    {
        std::lock_guard lock(m_mutex);
        m_busy = busy;
    }
    m_changed.notify_all();
}

void PtyPeer::play(const Reply &reply)
{
    for (const Chunk &chunk : reply) {
        const QDeadlineTimer due(chunk.delayMs, Qt::PreciseTimer);
        while (!due.hasExpired() && !m_stop)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        writeNow(chunk.bytes);
    }
}
