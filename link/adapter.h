#pragma once

#include "exchangerecord.h"
#include "transport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

// The link to the device: one serial port, or one TCP connection to a serial device server
// (a port name tcp://HOST:PORT), and a Modbus RTU master on it with two synchronous exchanges,
// read holding registers (0x03) and write multiple registers (0x10). Each exchange blocks until
// the reply is complete or its time-out has passed and returns a TResultCode.
//
// The owner sets the line settings, calls Open, sets Connected when Open returned 0, exchanges,
// and calls Close once before destroying the adapter.
class CAdapter
{
public:
    CAdapter();
    ~CAdapter();
    CAdapter(const CAdapter &) = delete;
    CAdapter &operator=(const CAdapter &) = delete;

    // Line settings, indexes into the tables of LineSettings. Over TCP the server sets the line;
    // only the speed counts here, for the time a reply takes on the line behind the server.
    quint8 PortNumber = 1;  // COM2
    quint8 SpeedNumber = 4; // 19200 baud
    // Total read time-out of a freshly opened port. Every exchange sets its own time-outs
    // before it sends, so nothing that waits on the line ever uses it.
    quint16 TimeOut = 400;
    quint8 Parity = 4;   // space
    quint8 StopBits = 0; // one
    // Device path or tcp://HOST:PORT to open; when empty, Open derives it from PortNumber.
    QString PortName;
    // Set by the owner once Open has succeeded; exchanges refuse to touch the line without it.
    bool Connected = false;
    // How long each stage of a read's reply may take, besides one character time per byte and,
    // over TCP, the network's allowance. A search of the line, where most probes meet silence,
    // shortens it; the pages keep 100 ms.
    static constexpr int DefaultReadTimeoutMs = 100;
    int ReadTimeoutMs = DefaultReadTimeoutMs;

    // Why the last Open returned -1; SystemError for a reason without a name of its own, with
    // the system's words in OpenErrorText. A server that does not answer fails it within
    // TcpTransport::kConnectTimeoutMs.
    using OpenFailure = ::OpenFailure;
    OpenFailure OpenError = OpenFailure::None;
    QString OpenErrorText;

    // 0 when the port is open and configured, -1 otherwise (nothing is left open then).
    int Open();
    // 0 when the port was closed, -1 when none had been opened.
    int Close();
    // The port went away while open (adapter unplugged, far end of a pseudo-terminal closed,
    // the server's connection dropped): every exchange fails at once from then on.
    bool PortLost() const;

    // The registers land in host order in buffer, which must hold Rtu::maxReadRegisters slots:
    // a reply may carry more registers than were asked for, and all of them are copied.
    qint16 ReadRegisters(quint8 slave, quint16 firstRegister, quint16 count, quint16 *buffer);
    // At most Rtu::maxWriteRegisters registers; more are refused with lrBadParameters.
    qint16 WriteRegisters(quint8 slave, quint16 firstRegister, quint16 count, const quint16 *buffer);

    // Hears of every exchange that reaches the line, after it has ended; none by default.
    void setObserver(ExchangeObserver observer) { m_observer = std::move(observer); }

    // The device path of COM port PortNumber + 1 when no PortName is given.
    static QString PlatformPortName(quint8 portNumber);
    // The pipe to a device path or tcp://HOST:PORT with these rows of the line-settings
    // tables, not yet open; none for a row the tables lack.
    static std::unique_ptr<Transport> transportFor(const QString &path, quint8 speedNumber, quint8 parity,
                                                   quint8 stopBits);

private:
    // Decides, from the bytes received so far, that a read may end before its count.
    using EarlyEnd = std::function<bool(const QByteArray &)>;

    qint16 readRegisters(quint8 slave, quint16 firstRegister, quint16 count, quint16 *buffer);
    qint16 writeRegisters(quint8 slave, quint16 firstRegister, quint16 count, const quint16 *buffer);
    // Runs one exchange; with an observer, records its bytes and reports them once it is over.
    qint16 observed(const std::function<qint16()> &exchange);

    void setReadTimeouts(int totalMs);
    void discardPendingInput();
    bool send(const QByteArray &request);
    QByteArray receive(int count, const EarlyEnd &earlyEnd = {});
    qint16 finishExceptionReply(QByteArray reply);

    std::unique_ptr<Transport> PortHandle; // null until Open succeeds
    // What the read time-outs do, on a serial port as over TCP: a read ends when its bytes are
    // in, when more than IntervalMs pass between two bytes, or after TotalMs plus MultiplierMs
    // per byte.
    int IntervalMs = 0;
    int TotalMs = 0;
    int MultiplierMs = 0;

    ExchangeObserver m_observer;
    std::optional<ExchangeRecord> m_record; // the exchange under way, while observed
    QElapsedTimer m_sinceSent;
};
