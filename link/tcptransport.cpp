#include "tcptransport.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>
#include <QUrl>

#include <chrono>
#include <future>
#include <thread>

namespace {

constexpr char kScheme[] = "tcp";
constexpr char kPrefix[] = "tcp://";
constexpr char kModbusScheme[] = "modbus-tcp";
constexpr char kModbusPrefix[] = "modbus-tcp://";

// The server's addresses, or nothing when its name does not resolve before the deadline.
// QAbstractSocket would look a name up with a blocking call that no deadline bounds (with a
// name server that does not answer, the resolver's retries take 10 s and more), so the lookup
// runs on a thread of its own, and Start stops waiting for it at the deadline; a lookup that
// finishes later only ends its thread.
std::optional<QList<QHostAddress>> lookUp(const QString &host, const QDeadlineTimer &deadline)
{
    if (QHostAddress literal; literal.setAddress(host))
        return QList<QHostAddress>{literal};
    auto promise = std::make_shared<std::promise<QList<QHostAddress>>>();
    std::future<QList<QHostAddress>> addresses = promise->get_future();
    std::thread([promise, host] { promise->set_value(QHostInfo::fromName(host).addresses()); }).detach();
    if (addresses.wait_for(std::chrono::milliseconds(deadline.remainingTime())) != std::future_status::ready)
        return std::nullopt;
    QList<QHostAddress> found = addresses.get();
    if (found.isEmpty())
        return std::nullopt;
    return found;
}

OpenFailure failureOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return OpenFailure::Refused;
    // No answer in time, or no way to the host (EHOSTUNREACH once the neighbour lookup of a
    // switched-off server on the same network has failed).
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::NetworkError:
        return OpenFailure::NoAnswer;
    case QAbstractSocket::HostNotFoundError:
        return OpenFailure::HostNotFound;
    default:
        return OpenFailure::SystemError;
    }
}

} // namespace

QString TcpTransport::Endpoint::text() const
{
    const bool ipv6 = host.contains(QLatin1Char(':'));
    return (ipv6 ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2")).arg(host).arg(port);
}

bool TcpTransport::isTcpName(const QString &name)
{
    return name.startsWith(QLatin1String(kPrefix), Qt::CaseInsensitive);
}

bool TcpTransport::isModbusTcpName(const QString &name)
{
    return name.startsWith(QLatin1String(kModbusPrefix), Qt::CaseInsensitive);
}

// A serial device server has no port of its own: its name must give one. A gateway without
// one is on Modbus TCP's 502.
std::optional<TcpTransport::Endpoint> TcpTransport::endpoint(const QString &name)
{
    const bool gateway = isModbusTcpName(name);
    if (!gateway && !isTcpName(name))
        return std::nullopt;
    const QUrl url(name, QUrl::StrictMode);
    const int port = gateway ? url.port(kModbusTcpPort) : url.port();
    const bool wellFormed = url.isValid() && url.scheme() == QLatin1String(gateway ? kModbusScheme : kScheme)
                            && !url.host().isEmpty() && port > 0 && url.path().isEmpty()
                            && url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment();
    if (!wellFormed)
        return std::nullopt;
    return Endpoint{url.host(), quint16(port)};
}

TcpTransport::TcpTransport(const QString &name) : m_name(name) {}

TcpTransport::~TcpTransport() = default;

// A name may stand for several addresses (localhost: ::1 and 127.0.0.1); each is tried in
// turn within the one connect time-out.
OpenFailure TcpTransport::open(QString *systemText)
{
    const std::optional<Endpoint> server = endpoint(m_name);
    if (!server)
        return OpenFailure::BadAddress;
    const QDeadlineTimer deadline(kConnectTimeoutMs);
    const std::optional<QList<QHostAddress>> addresses = lookUp(server->host, deadline);
    if (!addresses)
        return OpenFailure::HostNotFound;

    OpenFailure failure = OpenFailure::NoAnswer;
    for (const QHostAddress &address : *addresses) {
        if (deadline.hasExpired())
            break;
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(address, server->port);
        if (socket->waitForConnected(int(deadline.remainingTime()))) {
            // A request is one small packet: it leaves at once, not after the system has
            // waited for the acknowledgement of an earlier one.
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            m_socket = std::move(socket);
            return OpenFailure::None;
        }
        failure = failureOf(socket->error());
        *systemText = socket->errorString();
    }
    return failure;
}

void TcpTransport::close()
{
    if (!m_socket)
        return;
    m_closedByOwner = true;
    m_socket->abort();
}

bool TcpTransport::isOpen() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

// The socket leaves the connected state only when the server closes or the connection breaks;
// close() is the owner's last word.
bool TcpTransport::lost() const
{
    return m_socket && m_socket->state() != QAbstractSocket::ConnectedState && !m_closedByOwner;
}

// Once the system has taken the bytes they are on their way; the time that the server takes to
// put them on the line is part of the reply's budget.
bool TcpTransport::write(const QByteArray &bytes, qint64 timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    if (!isOpen() || m_socket->write(bytes) != bytes.size())
        return false;
    while (m_socket->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !m_socket->waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    return true;
}

bool TcpTransport::waitForBytes(int ms)
{
    return isOpen() && m_socket->waitForReadyRead(ms);
}

// Bytes that came just before the server closed are still there to be read.
QByteArray TcpTransport::read(qint64 maxBytes)
{
    return m_socket ? m_socket->read(maxBytes) : QByteArray();
}

// A socket has no queue to flush: what has arrived is read and dropped. The system's queue
// reaches the socket's own buffer only through a wait.
void TcpTransport::discardInput(QByteArray *discarded)
{
    if (!m_socket)
        return;
    if (isOpen())
        m_socket->waitForReadyRead(0);
    const QByteArray bytes = m_socket->readAll();
    if (discarded)
        *discarded = bytes;
}
