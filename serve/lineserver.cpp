#include "lineserver.h"

#include "line.h"
#include "mbapframe.h"
#include "rtuframe.h"
#include "rtuframer.h"
#include "servedpdu.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// What a client's socket holds of its requests before reading stops and TCP holds the client
// back: many times the longest frame (260 bytes), so that a frame is never cut by it.
constexpr qint64 kReadBufferBytes = 4096;
// Replies a client leaves unread: nearly a thousand of the longest (103 bytes: the 7-byte
// header, function, byte count and 47 registers); more, and it is let go rather than held in
// memory.
constexpr qint64 kMostUnsentBytes = 100'000;
// The request's transaction identifier leads its header.
constexpr int kTransactionOffset = 0;

} // namespace

struct LineServer::Listener
{
    Framing framing = Framing::ModbusTcp;
    QTcpServer server;
};

// One client's connection: its framing, the request it has under way, its idle clock.
class LineServer::Client : public QObject
{
public:
    Client(LineServer &server, Framing framing, QTcpSocket *socket)
        : QObject(&server), m_server(server), m_framing(framing), m_socket(socket)
    {
        m_socket->setParent(this);
        m_socket->setReadBufferSize(kReadBufferBytes);
        m_name = QStringLiteral("%1 (%2)")
                     .arg(Endpoint{socket->peerAddress(), socket->peerPort()}.text(), framingName(framing));
        m_idle.setSingleShot(true);
        m_idle.setInterval(server.m_limits.idleMs);
        connect(&m_idle, &QTimer::timeout, this, [this] {
            leave(QStringLiteral("let go: idle for %1 s").arg(m_server.m_limits.idleMs / 1000.0));
        });
        connect(m_socket, &QTcpSocket::readyRead, this, &Client::readFrames);
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { leave(QStringLiteral("left")); });
        m_idle.start();
    }

    QString name() const { return m_name; }

    // Closes the connection at once; the line forgets the client's request.
    void leave(const QString &why)
    {
        if (m_gone)
            return;
        m_gone = true;
        m_server.m_line.cancel(this);
        m_idle.stop();
        m_socket->disconnect(this);
        m_socket->abort();
        emit m_server.note(QStringLiteral("client %1 %2 after %3 request(s)").arg(m_name, why).arg(m_requests));
        m_server.forget(this);
        deleteLater();
    }

private:
    void readFrames()
    {
        while (!m_gone) {
            const std::optional<QByteArray> frame =
                m_framing == Framing::ModbusTcp ? takeModbusTcpFrame() : takeRtuFrame();
            if (!frame)
                return;
            if (m_framing == Framing::ModbusTcp)
                requestArrived(frame->sliced(Mbap::countedFrom), Rtu::wordAt(*frame, kTransactionOffset));
            else
                requestArrived(frame->first(frame->size() - Rtu::crcSize), 0);
        }
    }

    // The next whole frame, its length judged from its header before its body is waited for;
    // a header that no request has lets the client go, since nothing after it can be framed.
    std::optional<QByteArray> takeModbusTcpFrame()
    {
        const int size = Mbap::requestSize(m_socket->peek(Mbap::headerSize));
        if (size == 0)
            leave(QStringLiteral("let go: a header of another protocol, or a length outside %1..%2")
                      .arg(Mbap::shortestRequestLength)
                      .arg(Mbap::maxLength));
        if (size <= 0 || m_socket->bytesAvailable() < size)
            return std::nullopt;
        return m_socket->read(size);
    }

    // The next whole frame whose CRC verifies. A frame of another function, longer than a line
    // carries (256 bytes), or whose CRC fails is dropped with whatever came behind it, since
    // where the next frame begins is lost: the client's next request starts afresh.
    std::optional<QByteArray> takeRtuFrame()
    {
        constexpr int kBytesThatTell = 7; // a write's byte count is its 7th byte
        for (;;) {
            const int length = Rtu::requestLength(m_socket->peek(kBytesThatTell));
            if (length < 0)
                return std::nullopt;
            if (length == 0 || length > Rtu::Framer::kLongestFrame) {
                m_socket->readAll();
                return std::nullopt;
            }
            if (m_socket->bytesAvailable() < length)
                return std::nullopt;
            const QByteArray frame = m_socket->read(length);
            if (Rtu::crcVerifies(frame))
                return frame;
            m_socket->readAll();
        }
    }

    void requestArrived(const QByteArray &unitAndPdu, quint16 transaction)
    {
        m_idle.start();
        ++m_requests;
        if (m_pending) {
            refuse(unitAndPdu, transaction, ServedPdu::serverBusy);
            return;
        }
        const ServedPdu::Asked asked = ServedPdu::ask(unitAndPdu);
        if (!asked.request) {
            refuse(unitAndPdu, transaction, asked.exception);
            return;
        }
        m_pending = true;
        const auto answered = [this, request = *asked.request, transaction, unitAndPdu](const LineReply &reply) {
            m_pending = false;
            m_idle.start();
            const QByteArray answer = ServedPdu::answer(request, reply);
            if (m_framing == Framing::RtuOverTcp) {
                if (!answer.isEmpty())
                    sendRtu(answer);
                return;
            }
            send(Mbap::frame(transaction, answer.isEmpty()
                                              ? ServedPdu::exception(unitAndPdu, Mbap::gatewayTargetFailed)
                                              : answer));
        };
        m_server.m_line.request(*asked.request, this, answered);
    }

    // The server's own refusals go to a Modbus TCP client only: an RTU client hears nothing
    // but the units, as on a line where no unit answered.
    void refuse(const QByteArray &unitAndPdu, quint16 transaction, quint8 code)
    {
        if (m_framing == Framing::ModbusTcp)
            send(Mbap::frame(transaction, ServedPdu::exception(unitAndPdu, code)));
    }

    void sendRtu(QByteArray frame)
    {
        Rtu::appendCrc(frame);
        send(frame);
    }

    void send(const QByteArray &frame)
    {
        m_socket->write(frame);
        if (m_socket->bytesToWrite() > kMostUnsentBytes)
            leave(QStringLiteral("let go: %1 bytes of replies unread").arg(m_socket->bytesToWrite()));
    }

    LineServer &m_server;
    const Framing m_framing;
    QTcpSocket *m_socket; // a child
    QString m_name;
    QTimer m_idle;
    bool m_pending = false;
    bool m_gone = false;
    qint64 m_requests = 0;
};

LineServer::LineServer(Line &line, QObject *parent) : LineServer(line, Limits(), parent) {}

LineServer::LineServer(Line &line, Limits limits, QObject *parent) : QObject(parent), m_line(line), m_limits(limits) {}

LineServer::~LineServer()
{
    close();
}

bool LineServer::listen(Framing framing, const Endpoint &endpoint, QString *error)
{
    auto listener = std::make_unique<Listener>();
    listener->framing = framing;
    if (!listener->server.listen(endpoint.address, endpoint.port)) {
        *error = listener->server.errorString();
        return false;
    }
    Listener &added = *listener;
    connect(&added.server, &QTcpServer::newConnection, this, [this, &added] { accept(added); });
    m_listeners.push_back(std::move(listener));
    return true;
}

std::optional<Endpoint> LineServer::listening(Framing framing) const
{
    for (const auto &listener : m_listeners) {
        if (listener->framing == framing)
            return Endpoint{listener->server.serverAddress(), listener->server.serverPort()};
    }
    return std::nullopt;
}

void LineServer::close()
{
    m_listeners.clear();
    while (!m_clients.isEmpty())
        m_clients.first()->leave(QStringLiteral("let go: the server stops"));
}

QString LineServer::framingName(Framing framing)
{
    return framing == Framing::ModbusTcp ? QStringLiteral("Modbus TCP") : QStringLiteral("RTU over TCP");
}

void LineServer::accept(Listener &listener)
{
    while (QTcpSocket *socket = listener.server.nextPendingConnection()) {
        if (m_clients.size() >= m_limits.mostClients) {
            emit note(QStringLiteral("client %1 (%2) refused: %3 clients already")
                          .arg(Endpoint{socket->peerAddress(), socket->peerPort()}.text(), framingName(listener.framing))
                          .arg(m_clients.size()));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *client = new Client(*this, listener.framing, socket);
        m_clients.append(client);
        emit note(QStringLiteral("client %1 came, %2 of %3").arg(client->name()).arg(m_clients.size()).arg(m_limits.mostClients));
    }
}

void LineServer::forget(Client *client)
{
    m_clients.removeOne(client);
}
