#include "serverwatch.h"

#include "tcptransport.h"

#include <QTcpSocket>

ServerWatch::ServerWatch(const QString &portName)
{
    if (const std::optional<TcpTransport::Endpoint> server = TcpTransport::endpoint(portName)) {
        m_host = server->host;
        m_port = server->port;
    }
}

ServerWatch::~ServerWatch() = default;

// An attempt that neither connects nor fails within Start's own connect time-out has met a
// server that does not answer; a fresh one takes its place, as the next Start would.
bool ServerWatch::accepts()
{
    if (m_port == 0)
        return false;
    if (m_accepted) {
        m_accepted = false;
        m_attempt.reset();
        return true;
    }
    const bool underWay = m_attempt && m_attempt->state() != QAbstractSocket::UnconnectedState
                          && m_sinceAttempt.elapsed() < TcpTransport::kConnectTimeoutMs;
    if (!underWay)
        startAttempt();
    return false;
}

// A server often serves one connection at a time (ser2net turns a second one away), so the
// attempt lets go as soon as it has got through: the connection that counts is Start's own.
void ServerWatch::startAttempt()
{
    m_attempt = std::make_unique<QTcpSocket>();
    QTcpSocket *attempt = m_attempt.get();
    QObject::connect(attempt, &QTcpSocket::connected, attempt, [this, attempt] {
        m_accepted = true;
        attempt->abort();
    });
    attempt->connectToHost(m_host, m_port);
    m_sinceAttempt.start();
}
