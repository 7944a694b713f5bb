#include "simline.h"

#include "linetap.h"
#include "taprelay.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int kBitsPerCharacter = 11;

// RTU ends a frame after 3.5 characters of silence. Below 19200 baud that is what counts
// (32 ms at 1200 baud); above it, USB adapters deliver a frame in bursts a few milliseconds
// apart, so the gap never falls below their latency.
constexpr double kFrameGapCharacters = 3.5;
constexpr auto kShortestFrameGap = 20ms;

// libmodbus waits this long for a reply it expects from another slave after a request to it,
// and sleeps this long before answering a request it finds malformed: never the 500 ms it
// starts with.
constexpr auto kResponseTimeout = 2ms;
// modbus_receive is called once bytes are there; should they vanish, it still returns.
constexpr auto kIndicationTimeout = 100ms;

// The terminal's code for each rate of the line-settings table.
speed_t terminalSpeed(quint32 baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

QString systemError(const char *what) { return QStringLiteral("%1: %2").arg(what, strerror(errno)); }

void setTimeout(int (*set)(modbus_t *, uint32_t, uint32_t), modbus_t *ctx, std::chrono::microseconds timeout)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    set(ctx, uint32_t(seconds.count()), uint32_t((timeout - seconds).count()));
}

} // namespace

std::unique_ptr<SimLine> SimLine::openPseudoTerminal(const Settings &settings, QString *error)
{
    std::unique_ptr<SimLine> line(new SimLine);
    char name[PATH_MAX] = {};
    // Raw from the start: a master that has not set its own modes yet must not echo our
    // replies back to us.
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&line->m_fd, &line->m_otherSide, name, &raw, nullptr) != 0) {
        *error = systemError("cannot make a pseudo-terminal");
        return nullptr;
    }
    fcntl(line->m_fd, F_SETFD, FD_CLOEXEC);
    fcntl(line->m_otherSide, F_SETFD, FD_CLOEXEC);
    line->m_path = QString::fromLocal8Bit(name);
    line->m_modbus = modbus_new_rtu(name, int(settings.baud), settings.parity, 8, settings.stopBits);
    if (!line->m_modbus) {
        *error = systemError("libmodbus");
        return nullptr;
    }
    modbus_set_socket(line->m_modbus, line->m_fd);
    return line->setUpModbus(settings, error) ? std::move(line) : nullptr;
}

std::unique_ptr<SimLine> SimLine::openSerialPort(const QString &path, const Settings &settings, QString *error)
{
    std::unique_ptr<SimLine> line(new SimLine);
    line->m_path = path;
    line->m_modbus = modbus_new_rtu(path.toLocal8Bit().constData(), int(settings.baud), settings.parity, 8,
                                    settings.stopBits);
    if (!line->m_modbus) {
        *error = systemError("libmodbus");
        return nullptr;
    }
    if (modbus_connect(line->m_modbus) != 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, modbus_strerror(errno));
        return nullptr;
    }
    line->m_connected = true;
    line->m_fd = modbus_get_socket(line->m_modbus);
    return line->setUpModbus(settings, error) ? std::move(line) : nullptr;
}

// SO_REUSEADDR: a simulator started again on the port of one that has just stopped gets it,
// although the system keeps the old connection's end for a minute (TIME_WAIT).
bool SimLine::listenOnLoopback(quint16 port, const char *scheme, QString *error)
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0) {
        *error = systemError("cannot make a socket");
        return false;
    }
    const int on = 1;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(m_listener, 1) != 0
        || getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(strerror(errno));
        return false;
    }
    m_path = QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1StringView(scheme)).arg(ntohs(address.sin_port));
    return true;
}

std::unique_ptr<SimLine> SimLine::listenOnTcp(quint16 port, const Settings &settings, QString *error)
{
    std::unique_ptr<SimLine> line(new SimLine);
    if (!line->listenOnLoopback(port, "tcp", error))
        return nullptr;
    line->m_modbus = modbus_new_rtu(line->m_path.toLocal8Bit().constData(), int(settings.baud), settings.parity, 8,
                                    settings.stopBits);
    if (!line->m_modbus) {
        *error = systemError("libmodbus");
        return nullptr;
    }
    return line->setUpModbus(settings, error) ? std::move(line) : nullptr;
}

// libmodbus's Modbus TCP context only frames here: the listening and the connections are ours,
// as for the serial device server, and its address and port are never used.
std::unique_ptr<SimLine> SimLine::listenAsGateway(quint16 port, const Settings &settings, QString *error)
{
    std::unique_ptr<SimLine> line(new SimLine);
    if (!line->listenOnLoopback(port, "modbus-tcp", error))
        return nullptr;
    line->m_gateway = true;
    line->m_modbus = modbus_new_tcp("127.0.0.1", port);
    if (!line->m_modbus) {
        *error = systemError("libmodbus");
        return nullptr;
    }
    return line->setUpModbus(settings, error) ? std::move(line) : nullptr;
}

// A reply is one write: it leaves at once, not after the system has waited for the
// acknowledgement of the one before.
bool SimLine::takeMaster()
{
    const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_fd = fd;
    modbus_set_socket(m_modbus, m_fd);
    return true;
}

void SimLine::dropMaster()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    modbus_set_socket(m_modbus, m_fd);
}

int SimLine::descriptor() const { return m_relay ? m_relay->simulatorEnd() : m_fd; }

bool SimLine::tapInto(std::unique_ptr<LineTap> tap, QString *error)
{
    if (m_listener >= 0) {
        *error = QStringLiteral("a line over TCP has no tap");
        return false;
    }
    m_relay = TapRelay::start(m_fd, std::move(tap), error);
    if (!m_relay)
        return false;
    modbus_set_socket(m_modbus, descriptor());
    return true;
}

bool SimLine::setUpModbus(const Settings &settings, QString *error)
{
    m_characterTime = std::chrono::microseconds(kBitsPerCharacter * 1000000 / settings.baud);
    m_baud = settings.baud;
    m_parity = settings.parity;
    if (modbus_set_slave(m_modbus, settings.slave) != 0) {
        *error = QStringLiteral("libmodbus refuses slave %1").arg(settings.slave);
        return false;
    }
    setTimeout(modbus_set_response_timeout, m_modbus, kResponseTimeout);
    setTimeout(modbus_set_byte_timeout, m_modbus, frameGap());
    setTimeout(modbus_set_indication_timeout, m_modbus, kIndicationTimeout);
    return true;
}

std::chrono::microseconds SimLine::frameGap() const
{
    const auto gap = std::chrono::microseconds(qint64(kFrameGapCharacters * double(m_characterTime.count())));
    return std::max<std::chrono::microseconds>(gap, kShortestFrameGap);
}

bool SimLine::hearsMaster() const
{
    termios master{};
    // On a pseudo-terminal either side reads the settings that the master set on its side.
    if (m_connected || m_listener >= 0 || tcgetattr(m_fd, &master) != 0)
        return true;
    if (cfgetospeed(&master) != terminalSpeed(m_baud))
        return false;
    const bool stick = master.c_cflag & CMSPAR; // mark or space: never the device's parity
    const bool odd = master.c_cflag & PARODD;
    return !stick && odd == (m_parity == 'O');
}

SimLine::~SimLine()
{
    // The relay lets go of the line first; libmodbus closes the port it opened itself.
    m_relay.reset();
    if (m_connected) {
        modbus_set_socket(m_modbus, m_fd);
        modbus_close(m_modbus);
    }
    else if (m_fd >= 0)
        ::close(m_fd);
    if (m_otherSide >= 0)
        ::close(m_otherSide);
    if (m_listener >= 0)
        ::close(m_listener);
    if (m_modbus)
        modbus_free(m_modbus);
}
