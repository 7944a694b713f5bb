#include "simline.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
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
    if (m_connected || tcgetattr(m_fd, &master) != 0)
        return true;
    if (cfgetospeed(&master) != terminalSpeed(m_baud))
        return false;
    const bool stick = master.c_cflag & CMSPAR; // mark or space: never the device's parity
    const bool odd = master.c_cflag & PARODD;
    return !stick && odd == (m_parity == 'O');
}

SimLine::~SimLine()
{
    if (m_connected)
        modbus_close(m_modbus);
    else if (m_fd >= 0)
        ::close(m_fd);
    if (m_otherSide >= 0)
        ::close(m_otherSide);
    if (m_modbus)
        modbus_free(m_modbus);
}
