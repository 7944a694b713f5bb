#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

// The thread that owns a link: its port is opened, used, closed and destroyed there, so that an
// exchange waiting on the line never stops the caller's event loop. The caller waits for each
// job in a local event loop that serves everything but user input: a window repaints, answers
// its desktop and runs its timers, while clicks and keys wait, in their order, until the job is
// over. Jobs run one at a time, in the order they were given.
class LinkThread
{
public:
    LinkThread();
    ~LinkThread();
    LinkThread(const LinkThread &) = delete;
    LinkThread &operator=(const LinkThread &) = delete;

    // Runs job on the link's thread and returns once it has finished. A job given while another
    // one is waited for (by a timer that the waiting loop serves) runs after it.
    void run(const std::function<void()> &job);
    // The same, without serving the caller's events meanwhile: for a caller that must not be
    // re-entered, such as a destructor.
    void runBlocking(const std::function<void()> &job);

    // A job is being waited for: what a timer served by the waiting loop asks before it starts
    // an exchange of its own.
    bool busy() const { return m_waiting > 0; }

private:
    QThread m_thread;
    std::unique_ptr<QObject> m_context; // lives in m_thread: the jobs are queued to it
    int m_waiting = 0;
};
