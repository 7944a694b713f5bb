#include "linkthread.h"

#include <QCoreApplication>
#include <QEventLoop>

LinkThread::LinkThread() : m_context(std::make_unique<QObject>())
{
    m_thread.setObjectName(QStringLiteral("link"));
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

LinkThread::~LinkThread()
{
    m_thread.quit();
    m_thread.wait();
}

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
