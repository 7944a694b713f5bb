#include "backgroundlistener.h"

#include "linesettings.h"
#include "listenport.h"

#include <QMutexLocker>
#include <QThread>

BackgroundListener::BackgroundListener(QObject *parent) : QObject(parent) {}

BackgroundListener::~BackgroundListener()
{
    stop();
}

void BackgroundListener::start(const LineSetup &line)
{
    stop();
    {
        const QMutexLocker lock(&m_mutex);
        m_heard = Heard{};
        m_heard.state = State::Opening;
    }
    m_stopping = false;
    m_thread.reset(QThread::create([this, line] { hear(line); }));
    m_thread->start();
}

void BackgroundListener::stop()
{
    if (!m_thread)
        return;
    m_stopping = true;
    m_thread->wait();
    m_thread.reset();
}

BackgroundListener::Heard BackgroundListener::take()
{
    const QMutexLocker lock(&m_mutex);
    Heard heard = m_heard;
    m_heard.records.clear();
    m_heard.events.clear();
    return heard;
}

// On the thread. The port is made here, so that it belongs to this thread, where its handling
// of a vanished device is queued.
void BackgroundListener::hear(const LineSetup &line)
{
    const std::unique_ptr<ListenPort> port = ListenPort::forLine(line);
    const QString failure = port ? port->open() : OpenFailureText(OpenFailure::LineSettings, line.portName, {});
    if (!failure.isEmpty()) {
        setState(State::NotOpened, failure);
        return;
    }
    LineListener listener(LineSettings::baudRate(line.speedNumber).value_or(0));
    setState(State::Listening);
    m_sinceArrived.start();
    while (!m_stopping && !port->lost()) {
        port->poll(kWaitMs, listener);
        hand(listener, State::Listening, false);
    }
    const bool lost = port->lost();
    port->close();
    listener.finish();
    hand(listener, lost ? State::Lost : State::Stopped, true);
}

void BackgroundListener::hand(LineListener &listener, State state, bool now)
{
    QList<LineListener::Record> records = listener.takeRecords();
    QList<LineListener::Event> events = listener.takeEvents();
    bool waiting = false;
    {
        const QMutexLocker lock(&m_mutex);
        m_heard.records.append(std::move(records));
        m_heard.events.append(std::move(events));
        m_heard.counts = listener.counts();
        m_heard.unframedBytes = listener.unframedBytes();
        m_heard.state = state;
        waiting = !m_heard.records.isEmpty() || !m_heard.events.isEmpty();
    }
    if (now || (waiting && m_sinceArrived.elapsed() >= kBatchIntervalMs)) {
        m_sinceArrived.restart();
        emit arrived();
    }
}

void BackgroundListener::setState(State state, const QString &failure)
{
    {
        const QMutexLocker lock(&m_mutex);
        m_heard.state = state;
        m_heard.failure = failure;
    }
    emit arrived();
}
