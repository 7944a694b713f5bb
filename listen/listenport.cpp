#include "listenport.h"

#include "adapter.h"
#include "linelistener.h"
#include "session.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {
// More than any piece an adapter hands over at once.
constexpr qint64 kReadChunk = 4096;
constexpr qint64 kMicrosecondsPerMillisecond = 1000;
constexpr qint64 kNanosecondsPerMicrosecond = 1000;
} // namespace

ListenPort::ListenPort(std::unique_ptr<Transport> transport) : m_transport(std::move(transport)) {}

std::unique_ptr<ListenPort> ListenPort::forLine(const LineSetup &line)
{
    std::unique_ptr<Transport> transport =
        CAdapter::transportFor(line.portName, line.speedNumber, line.parity, line.stopBits);
    if (!transport)
        return nullptr;
    auto port = std::make_unique<ListenPort>(std::move(transport));
    port->m_portName = line.portName;
    return port;
}

QString ListenPort::open()
{
    QString systemText;
    const OpenFailure failure = m_transport->open(&systemText);
    if (failure != OpenFailure::None)
        return OpenFailureText(failure, m_portName, systemText);
    m_openedUs = QDateTime::currentMSecsSinceEpoch() * kMicrosecondsPerMillisecond;
    m_sinceOpened.start();
    return {};
}

void ListenPort::close()
{
    m_transport->close();
}

bool ListenPort::lost() const
{
    return m_transport->lost();
}

void ListenPort::poll(int waitMs, LineListener &listener)
{
    if (!m_transport->isOpen()) {
        listener.idle(nowUs());
        return;
    }
    // Bytes already taken in by the port come first: waiting would only see the ones after.
    QByteArray bytes = m_transport->read(kReadChunk);
    if (bytes.isEmpty() && m_transport->waitForBytes(waitMs))
        bytes = m_transport->read(kReadChunk);
    if (bytes.isEmpty())
        listener.idle(nowUs());
    else
        listener.feed(bytes, nowUs());
    // The port closes itself when its device goes away, by a call queued to this thread; a
    // loop that only waits for bytes runs no event loop, and would go on hearing nothing.
    QCoreApplication::sendPostedEvents();
}

qint64 ListenPort::nowUs() const
{
    return m_openedUs + m_sinceOpened.nsecsElapsed() / kNanosecondsPerMicrosecond;
}
