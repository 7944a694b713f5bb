#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

// The thread that owns a link: its port is opened, used, closed and destroyed there, so that an
// exchange waiting on the line never holds up the thread that asked for it. Jobs run one at a
// time, in the order they were posted; nobody waits for them.
class LinkThread
{
public:
    LinkThread();
    // Runs the jobs still posted, then ends the thread.
    ~LinkThread();
    LinkThread(const LinkThread &) = delete;
    LinkThread &operator=(const LinkThread &) = delete;

    // Queues job on the link's thread and returns at once.
    void post(std::function<void()> job);

private:
    QThread m_thread;
    std::unique_ptr<QObject> m_context; // lives in m_thread: the jobs are queued to it
};
