#pragma once

#include "exchangerecord.h"
#include "transport.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

// The link to the device: one serial port, or one TCP connection to a serial device server
// (a port name tcp://HOST:PORT), and a Modbus RTU master on it with two synchronous exchanges,
// read holding registers (0x03) and write multiple registers (0x10); or one TCP connection to a
// Modbus TCP gateway (modbus-tcp://HOST[:PORT]), with the same exchanges in Modbus TCP frames,
// the device's address as their unit identifier. Each exchange blocks until the reply is
// complete or its time-out has passed and returns a TResultCode.
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
    // Device path, tcp://HOST:PORT or modbus-tcp://HOST[:PORT] to open; when empty, Open
    // derives it from PortNumber.
    QString PortName;
    // Set by the owner once Open has succeeded; exchanges refuse to touch the line without it.
    bool Connected = false;
    // How long each stage of a read's reply may take, besides one character time per byte and,
    // over TCP, the network's allowance. A search of the line, where most probes meet silence,
    // shortens it; the pages keep 100 ms.
    static constexpr int DefaultReadTimeoutMs = 100;
    int ReadTimeoutMs = DefaultReadTimeoutMs;
    // A Modbus TCP gateway asks the unit on its line and, when the unit is silent, answers
    // exception 0x0B only once its own time-out has passed, which is set on the gateway and
    // unknown here. The first stage of a reply through a gateway waits a second longer, so that
    // a gateway that waits up to a second is heard with its 0x0B instead of being taken for
    // silence: a page's read of a silent gateway fails after 100 + 100 (network) + 1000 ms,
    // 1.2 s. A gateway set to wait longer answers after the exchange has given up; that late
    // reply is known by its transaction identifier and set aside.
    static constexpr int GatewayTimeoutAllowanceMs = 1000;

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

    // The `count` registers land in host order in buffer. A reply that does not answer the
    // request (another function, another byte count) is lrWrongReply and leaves buffer alone;
    // one of another slave address, or through a gateway of another transaction, is set
    // aside, and the wait for this slave's goes on. A gateway's exceptions 0x0A and 0x0B are
    // lrGatewayNoPath and lrGatewayNoAnswer, any other exception lrDeviceError.
    qint16 ReadRegisters(quint8 slave, quint16 firstRegister, quint16 count, quint16 *buffer);
    // At most Rtu::maxWriteRegisters registers; more are refused with lrBadParameters. The echo
    // must name the request's first register and count, else lrWrongReply.
    qint16 WriteRegisters(quint8 slave, quint16 firstRegister, quint16 count, const quint16 *buffer);
    // The exception code of the last exchange's reply when it was an exception (lrDeviceError,
    // lrGatewayNoPath, lrGatewayNoAnswer), else 0: whoever passes the reply on passes the code.
    quint8 LastException = 0;

    // Hears of every exchange that reaches the line, after it has ended; none by default.
    void setObserver(ExchangeObserver observer) { m_observer = std::move(observer); }
    // Asked, from the exchange's own thread, while it waits for a reply: true gives the wait up
    // at once, as if its time-out had passed, so that a port closed from another thread does
    // not first wait out a silent device. None by default.
    using Interruption = std::function<bool()>;
    void setInterruption(Interruption interrupted) { m_interrupted = std::move(interrupted); }
    // How often a wait looks at the interruption: 1200 baud brings a byte every 9.2 ms.
    static constexpr int InterruptionCheckMs = 10;

    // What the pipe to a device path, tcp://HOST:PORT or modbus-tcp://HOST[:PORT] lets this
    // computer do, known from the name before anything opens.
    struct PipeAbilities
    {
        // The speed, parity and stop bits are set here; behind a serial device server they are
        // the server's, and a search of the line tries addresses only.
        bool setsLine = true;
        // A device of this system, which comes and goes with its adapter; otherwise a server
        // reached over the network, asked again when its connection drops.
        bool systemDevice = true;
        // The bytes of the line come through as they are, so that a listener hears the other
        // masters' exchanges. A Modbus TCP gateway passes on only the replies to its own
        // client's requests.
        bool passesLine = true;
        // Added to the wait for a reply, for the time the pipe takes to pass the bytes on and,
        // through a gateway, for the gateway's own wait for a silent unit.
        int latencyAllowanceMs = 0;
    };
    static PipeAbilities abilitiesOf(const QString &path);

    // The device path of COM port PortNumber + 1 when no PortName is given.
    static QString PlatformPortName(quint8 portNumber);
    // The pipe to a device path or a server's name with these rows of the line-settings
    // tables, not yet open; none for a row the tables lack.
    static std::unique_ptr<Transport> transportFor(const QString &path, quint8 speedNumber, quint8 parity,
                                                   quint8 stopBits);

    // Where Open takes its pipe from: transportFor, unless another source stands in its place
    // (a pipe that plays a device from a script). Set for every adapter that opens from then on,
    // on whichever thread; an empty source puts transportFor back.
    using TransportSource = std::function<std::unique_ptr<Transport>(const QString &path, quint8 speedNumber,
                                                                     quint8 parity, quint8 stopBits)>;
    static void setTransportSource(TransportSource source);

private:
    // Decides, from the bytes received so far, that a read may end before its count.
    using EarlyEnd = std::function<bool(const QByteArray &)>;

    qint16 readRegisters(quint8 slave, quint16 firstRegister, quint16 count, quint16 *buffer);
    qint16 writeRegisters(quint8 slave, quint16 firstRegister, quint16 count, const quint16 *buffer);
    // Runs one exchange; with an observer, records its bytes and reports them once it is over.
    qint16 observed(const std::function<qint16()> &exchange);

    void setReadTimeouts(int totalMs);
    void discardPendingInput();
    // Sends the RTU request in the pipe's frames and receives the reply into frame as an RTU
    // frame; for Modbus TCP, as the unit put it on the gateway's line. An exception's code goes
    // into LastException.
    qint16 exchange(const QByteArray &rtuRequest, int firstStage, QByteArray &frame);
    // The exchange's sending and receiving alone.
    qint16 sendAndReceive(const QByteArray &rtuRequest, int firstStage, QByteArray &frame);
    bool send(const QByteArray &request);
    qint16 receiveReply(const QByteArray &request, int firstStage, QByteArray &frame);
    qint16 receiveGatewayReply(const QByteArray &request, const QByteArray &rtuRequest, QByteArray &frame);
    void receive(QByteArray &bytes, int count, qint64 budgetMs, const EarlyEnd &earlyEnd = {});
    void setAside(const QByteArray &foreignFrame);
    bool waitForBytes(qint64 ms);
    // The time on the pipe's clock, which every time-out of an exchange runs on.
    qint64 nowMs() const;

    std::unique_ptr<Transport> PortHandle; // null until Open succeeds
    // What the read time-outs do, on a serial port as over TCP: a read ends when its bytes are
    // in, when more than IntervalMs pass between two bytes, or after TotalMs plus MultiplierMs
    // per byte.
    int IntervalMs = 0;
    int TotalMs = 0;
    int MultiplierMs = 0;

    bool m_modbusTcp = false; // frames of the pipe opened last: Modbus TCP, else RTU
    quint16 m_transaction = 0; // the identifier of the last Modbus TCP request

    ExchangeObserver m_observer;
    Interruption m_interrupted;
    std::optional<ExchangeRecord> m_record; // the exchange under way, while observed
    qint64 m_sentAtMs = 0; // on the pipe's clock
};
