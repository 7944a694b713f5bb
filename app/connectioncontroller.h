#pragma once

#include "linesetup.h"

#include <QObject>
#include <QString>

#include <memory>

class QTimer;
class ServerWatch;
class Session;

// The main window's connection, without widgets: it owns the session, opens and closes its line,
// paces the polls of a live page, and after an adapter unplugged or a server's connection
// dropped, watches for it to come back. The window calls in and draws what the signals tell.
// A call that ends something (stop, stopPolling) acts at once and tells nothing; what the line
// decides later (whether the port opened, that it went, that it is back, that a poll is due)
// comes as a signal, with the text the window shows.
class ConnectionController : public QObject
{
    Q_OBJECT

public:
    explicit ConnectionController(QObject *parent = nullptr);
    ~ConnectionController() override;

    Session &session() { return *m_session; }

    // Opens the line with these settings, its portName the device or server to open; opened()
    // or failed() follows. A replug watch under way ends.
    void start(const LineSetup &line);
    // Opens again the adapter or server that came back, as the port it was, with these settings
    // otherwise.
    void reconnect(const LineSetup &settings);
    // Ends the polls, the replug watch and the line, at once.
    void stop();

    // Asks for a poll of page every intervalMs through pollDue(), while the line is open: a
    // tick that meets the page's last poll still on the line is held until pagePolled() says it
    // is over, so that no more than one poll is ever queued.
    void pollPage(const QObject *page, int intervalMs);
    void stopPolling();
    void pagePolled(const QObject *page);

signals:
    void opened();
    // message: why the port did not open, naming it.
    void failed(const QString &message);
    // The adapter or server of the open line went; the line is closed and watched for.
    void lost(const QString &message);
    // It is there again; reconnect() opens it.
    void back(const QString &message);
    void pollDue();

private:
    void portLost();
    void watchForReplug();
    void endReplugWatch();
    void tick();

    std::unique_ptr<Session> m_session;
    // Up from opened() until stop() or lost(); the line may be open meanwhile for a tool, whose
    // exchanges hear of a lost port themselves.
    bool m_connected = false;
    // Of the connection, whatever the port list shows meanwhile: its port (COM2 is 1) and the
    // name the adapter comes back under.
    quint8 m_portNumber = 0;
    QString m_stablePort;
    QTimer *m_replugWatch;
    std::unique_ptr<ServerWatch> m_serverWatch; // while a server's dropped connection is watched
    QTimer *m_pollTimer;
    const QObject *m_polledPage = nullptr; // the receiver of the polls' requests
    bool m_tickDeferred = false; // a tick met the last poll still on the line
};
