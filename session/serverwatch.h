#pragma once

#include <QElapsedTimer>
#include <QString>

#include <memory>

class QTcpSocket;

// Whether a serial device server accepts connections again after its connection dropped,
// looked at without ever blocking: each look starts a connection attempt in the background
// when none is under way, and tells whether the last one got through. A window may look at
// every tick of a timer and stay responsive.
class ServerWatch
{
public:
    // portName: tcp://HOST:PORT.
    explicit ServerWatch(const QString &portName);
    ~ServerWatch();
    ServerWatch(const ServerWatch &) = delete;
    ServerWatch &operator=(const ServerWatch &) = delete;

    bool accepts();

private:
    void startAttempt();

    QString m_host;
    quint16 m_port = 0;
    std::unique_ptr<QTcpSocket> m_attempt;
    QElapsedTimer m_sinceAttempt;
    bool m_accepted = false; // the last attempt got through
};
