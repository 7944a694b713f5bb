#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The far end of a pseudo-terminal, playing a device from a script. The port under test opens
// devicePath(); every request that arrives there (bytes followed by a short silence) is kept,
// and answered with the next queued reply, chunk by chunk after each chunk's delay. A request
// with no reply queued meets silence.
class PtyPeer
{
public:
    struct Chunk
    {
        int delayMs = 0;
        QByteArray bytes;
    };
    using Reply = QList<Chunk>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    QString devicePath() const { return m_path; }

    void queueReply(const Reply &reply);
    void queueReply(const QByteArray &bytes, int delayMs = 0) { queueReply(Reply{{delayMs, bytes}}); }

    // Requests received so far, one per burst of bytes.
    QList<QByteArray> requests() const;
    bool waitForRequests(int count, int timeoutMs) const;

    // Waits until the last request has been taken in and its reply played to the end, so that
    // nothing of one exchange spills into the next.
    bool settle(int timeoutMs) const;

    // Writes bytes now, outside any script (a late reply, line noise).
    void writeNow(const QByteArray &bytes);

    // Closes this end, as an unplugged adapter would: the port under test sees a hang-up.
    void hangUp();

    // The line settings of the port under test, as this end sees them.
    termios lineSettings() const;

    // A reply paced as a line at `baud` would deliver it: one byte every 11 bit times.
    static Reply paced(const QByteArray &bytes, int baud);

private:
    void run();
    void play(const Reply &reply);
    void setBusy(bool busy);

    int m_master = -1;
    int m_slave = -1; // kept open so that the port under test may close and reopen
    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<Reply> m_replies;
    QList<QByteArray> m_requests;
    bool m_busy = false; // a request is arriving or its reply is being played
};
