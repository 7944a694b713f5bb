#pragma once

#include "endpoint.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>

class Line;
class QTcpServer;

// One open line served to several clients on the network at once: as Modbus TCP (a SCADA, the
// configurator's modbus-tcp://) and as RTU frames over TCP (the configurator's tcp://, as
// behind a serial device server). Every request goes through the line's one owner, so they
// reach the line one at a time in the order they came, with the line's time-outs.
//
// Nothing a client sends is trusted, and what it can hold is bounded: at most mostClients at a
// time (the next is let go at once), one request under way each (a second is refused with
// exception 06, busy, or over RTU dropped), a frame's length judged from its header before its
// body is read, an idle client let go. A client that goes away leaves the line as it was: its
// request never goes out when it is still queued, and the reply of one under way is dropped.
class LineServer : public QObject
{
    Q_OBJECT

public:
    enum class Framing { ModbusTcp, RtuOverTcp };

    struct Limits
    {
        int mostClients = 16;
        // Counted from a client's last request or reply.
        int idleMs = 60'000;
    };

    // line is open, or opens later: requests meanwhile fail as the line's do.
    explicit LineServer(Line &line, QObject *parent = nullptr);
    LineServer(Line &line, Limits limits, QObject *parent = nullptr);
    ~LineServer() override;

    // Takes clients of this framing at endpoint; false with the system's words in error.
    bool listen(Framing framing, const Endpoint &endpoint, QString *error);
    // Where clients of this framing are taken, with the port the system chose for 0.
    std::optional<Endpoint> listening(Framing framing) const;
    int clientCount() const { return int(m_clients.size()); }
    // Lets every client go and takes no more.
    void close();

    static QString framingName(Framing framing);

signals:
    // A line for a person: a client came or went, was refused or let go, and why.
    void note(const QString &text);

private:
    class Client;
    struct Listener;

    void accept(Listener &listener);
    void forget(Client *client);

    Line &m_line;
    Limits m_limits;
    std::vector<std::unique_ptr<Listener>> m_listeners;
    QList<Client *> m_clients; // children of this
};
