#pragma once

#include "transport.h"

#include <memory>
#include <optional>

class QTcpSocket;

// A TCP connection to a serial device server (an RS-485 to Ethernet gateway, ser2net) that
// passes the bytes of the RTU line through unchanged, frames and CRC included, or to a Modbus
// TCP gateway, which takes Modbus TCP frames and asks the units on its line itself. The pipe
// is the same for both, and only moves bytes: the frames are the adapter's. The server sets the
// line's speed, parity and stop bits; there is nothing to set from here.
class TcpTransport final : public Transport
{
public:
    // A server as a port name gives it: tcp://HOST:PORT, or modbus-tcp://HOST[:PORT] for a
    // Modbus TCP gateway, HOST a name or an address (an IPv6 address in brackets).
    struct Endpoint
    {
        QString host;
        quint16 port = 0;
        QString text() const; // HOST:PORT, as the user wrote it
    };
    // Whether the name means a serial device server, or a Modbus TCP gateway, well formed or not.
    static bool isTcpName(const QString &name);
    static bool isModbusTcpName(const QString &name);
    // The port that Modbus TCP is registered on, for a gateway named without one.
    static constexpr quint16 kModbusTcpPort = 502;
    // The server of a well-formed name; nothing for any other name.
    static std::optional<Endpoint> endpoint(const QString &name);

    // A server on the plant's network accepts within milliseconds, across a VPN within a few
    // hundred. One that is switched off or cut off never answers, and the system would go on
    // sending the connection request for two minutes (the first and 6 retries, 1 + 2 + 4 + 8 +
    // 16 + 32 + 64 s = 127 s). Start waits with the window frozen, so it gives up after 3 s,
    // which still leaves room for the system's first retry, after 1 s, of a request lost on
    // the way.
    static constexpr int kConnectTimeoutMs = 3000;

    // What the network and the server add to the line's own time, on every stage of a reply
    // and between its bytes. A round trip takes under 1 ms on the plant's network and 20 to
    // 50 ms across a VPN or a radio link; the server holds the bytes from the line until the
    // line pauses, to send them in one packet, tens of milliseconds on many gateways. 100 ms
    // covers a 50 ms round trip with a 50 ms hold: a page's read of a silent device fails
    // after 200 ms instead of 100 ms, and a search's probe at 19200 baud waits 149 ms.
    static constexpr int kNetworkAllowanceMs = 100;

    explicit TcpTransport(const QString &name);
    ~TcpTransport() override;

    OpenFailure open(QString *systemText) override;
    void close() override;
    bool isOpen() const override;
    bool lost() const override;

    bool write(const QByteArray &bytes, qint64 timeoutMs) override;
    bool waitForBytes(int ms) override;
    QByteArray read(qint64 maxBytes) override;
    void discardInput(QByteArray *discarded) override;

    int latencyAllowanceMs() const override { return kNetworkAllowanceMs; }

private:
    QString m_name;
    std::unique_ptr<QTcpSocket> m_socket; // null until open succeeds
    bool m_closedByOwner = false;
};
