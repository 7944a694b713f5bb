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

