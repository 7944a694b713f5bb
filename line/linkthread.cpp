#include "linkthread.h"

LinkThread::LinkThread() : m_context(std::make_unique<QObject>())
{
    m_thread.setObjectName(QStringLiteral("link"));
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

// quit() is queued behind the jobs already posted, so they all run before the thread ends.
LinkThread::~LinkThread()
{
    QMetaObject::invokeMethod(m_context.get(), [this] { m_thread.quit(); }, Qt::QueuedConnection);
    m_thread.wait();
    m_context.reset();
}

void LinkThread::post(std::function<void()> job)
{
    QMetaObject::invokeMethod(m_context.get(), std::move(job), Qt::QueuedConnection);
}

#include <QCoreApplication>
#include <QEventLoop>

void LinkThread::run(const std::function<void()> &job)
{
    // Without an application there is no event loop to serve.
    if (!QCoreApplication::instance() || QThread::currentThread() == &m_thread) {
        runBlocking(job);
        return;
    }
    QEventLoop waiting;
    ++m_waiting;
    QMetaObject::invokeMethod(
        m_context.get(),
        [&job, &waiting] {
            job();
            // Posted, so that the loop ends even if the job was over before the loop began.
            QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    waiting.exec(QEventLoop::ExcludeUserInputEvents);
    --m_waiting;
}

void LinkThread::runBlocking(const std::function<void()> &job)
{
    if (QThread::currentThread() == &m_thread)
        job();
    else
        QMetaObject::invokeMethod(m_context.get(), job, Qt::BlockingQueuedConnection);
}
