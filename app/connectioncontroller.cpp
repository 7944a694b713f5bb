#include "connectioncontroller.h"

#include "adapter.h"
#include "portdevices.h"
#include "serverwatch.h"
#include "session.h"

#include <QTimer>

namespace {
// How often an unplugged adapter is looked for: it is back within half a second of the plug.
// A server is asked as often, with a connection attempt that runs in the background.
constexpr int kReplugWatchMs = 500;

} // namespace

ConnectionController::ConnectionController(QObject *parent)
    : QObject(parent),
      m_session(std::make_unique<Session>()),
      m_replugWatch(new QTimer(this)),
      m_pollTimer(new QTimer(this))
{
    m_pollTimer->setObjectName(QStringLiteral("Timer"));
    connect(m_pollTimer, &QTimer::timeout, this, &ConnectionController::tick);
    connect(m_replugWatch, &QTimer::timeout, this, &ConnectionController::watchForReplug);
    connect(m_session.get(), &Session::portLost, this, &ConnectionController::portLost);
}

ConnectionController::~ConnectionController()
{
    stop();
}

// The port opens on the link's thread; the window goes on meanwhile, and learns the outcome
// when it is in.
void ConnectionController::start(const LineSetup &line)
{
    endReplugWatch();
    m_session->start(line, this, [this, line](bool isOpen) {
        if (!isOpen) {
            emit failed(m_session->openFailureMessage(PortDevices::caption(line.portNumber), line.portName));
            return;
        }
        m_connected = true;
        m_portNumber = line.portNumber;
        m_stablePort = PortDevices::stableName(line.portName);
        emit opened();
    });
}

void ConnectionController::reconnect(const LineSetup &settings)
{
    LineSetup line = settings;
    line.portNumber = m_portNumber;
    line.portName = m_stablePort;
    start(line);
}

void ConnectionController::stop()
{
    endReplugWatch();
    stopPolling();
    m_session->stop();
    m_connected = false;
}

// Every exchange on a vanished port would fail at once, a message a tick: the connection ends
// as Stop ends it, with the reason in the error area. A server's connection that dropped is
// told the same way: the server is back once it accepts a connection again.
void ConnectionController::portLost()
{
    if (!m_connected)
        return; // the line was a tool's, which hears of it through its own exchanges
    stopPolling();
    m_session->stop();
    m_connected = false;
    const bool server = !CAdapter::abilitiesOf(m_stablePort).systemDevice;
    if (server)
        m_serverWatch = std::make_unique<ServerWatch>(m_stablePort);
    m_replugWatch->start(kReplugWatchMs);
    emit lost(QStringLiteral("Ошибка! Адаптер %1 отключён (%2). %3")
                  .arg(PortDevices::caption(m_portNumber), m_stablePort,
                       server ? QStringLiteral("Соединение с сервером разорвано.")
                              : QStringLiteral("Подключите его снова.")));
}

void ConnectionController::watchForReplug()
{
    const bool isBack = m_serverWatch ? m_serverWatch->accepts() : PortDevices::present(m_stablePort);
    if (!isBack)
        return;
    m_replugWatch->stop();
    emit back(QStringLiteral("Адаптер %1 снова подключён (%2).").arg(PortDevices::caption(m_portNumber), m_stablePort));
}

void ConnectionController::endReplugWatch()
{
    m_replugWatch->stop();
    m_serverWatch.reset();
}

// The interval is set whether or not the line is open; the timer runs only while it is.
void ConnectionController::pollPage(const QObject *page, int intervalMs)
{
    stopPolling();
    m_pollTimer->setInterval(intervalMs);
    if (!m_session->isConnected())
        return;
    m_polledPage = page;
    m_pollTimer->start();
}

void ConnectionController::stopPolling()
{
    m_pollTimer->stop();
    m_pollTimer->setInterval(0);
    m_polledPage = nullptr;
    m_tickDeferred = false;
}

// The timer delivers no backlog: a tick that falls due while the page's last poll is still on
// the line is run once, as soon as that poll is over, and the ones after it keep the interval
// again. A tick that comes without a started connection makes no exchange.
void ConnectionController::tick()
{
    if (!m_polledPage || !m_session->isConnected())
        return;
    if (m_session->hasPending(m_polledPage)) {
        m_tickDeferred = true;
        return;
    }
    m_tickDeferred = false;
    emit pollDue();
}

void ConnectionController::pagePolled(const QObject *page)
{
    if (m_tickDeferred && page == m_polledPage)
        tick();
}
