#include "serialtransport.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <termios.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace {

constexpr int kOutputPollMs = 1;

// Lets the request leave the computer before the reply's budget starts: at 1200 baud an 8-byte
// request alone takes 74 ms on the wire. tcdrain alone has no deadline and would freeze the
// window behind a driver that stalls (flow control held off, a hung USB adapter), so the
// driver's queue is watched until the deadline first; once it is empty, tcdrain only waits for
// the last bytes in the UART, which the drivers bound themselves.
bool drainOutput(QSerialPort &port, const QDeadlineTimer &deadline)
{
#ifdef Q_OS_UNIX
    const int fd = int(port.handle());
    int queued = 0;
    while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kOutputPollMs);
    }
    tcdrain(fd);
#else
    Q_UNUSED(port);
    Q_UNUSED(deadline);
#endif
    return true;
}

// USB adapters hold received bytes back to fill a USB packet: an FTDI chip for up to 16 ms
// by default, which adds up to 16 ms to every reply. The serial driver shortens that to 1 ms
// when asked for low latency (ftdi_sio sets its latency timer from the flag). A driver without
// the serial ioctls, a pseudo-terminal among them, refuses, and the port works as it is.
void askForLowLatency([[maybe_unused]] QSerialPort &port)
{
#ifdef Q_OS_LINUX
    const int fd = int(port.handle());
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
#endif
}

// The system's word on an open port: a device that went away, or a terminal whose other end
// closed, is hung up for good.
bool hungUp(QSerialPort &port)
{
#ifdef Q_OS_UNIX
    pollfd descriptor{int(port.handle()), POLLIN, 0};
    return poll(&descriptor, 1, 0) < 0 || (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    Q_UNUSED(port);
    return true;
#endif
}

// Whether this process's user may open the device at all: the effective user decides, as it
// does for the opening itself.
bool mayReadAndWrite(const QString &path)
{
#ifdef Q_OS_UNIX
    return faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK | W_OK, AT_EACCESS) == 0;
#else
    const QFileInfo device(path);
    return device.isReadable() && device.isWritable();
#endif
}

} // namespace

SerialTransport::SerialTransport(const QString &path, const Line &line) : m_path(path), m_line(line) {}

SerialTransport::~SerialTransport() = default;

OpenFailure SerialTransport::open(QString *systemText)
{
    // Given before opening, the settings reach the port together as the port opens, and a
    // setting the port rejects makes the opening fail. One by one, a pseudo-terminal would
    // refuse even parity: it drops the parity-enable bit, so that request changes nothing.
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(m_path);
    port->setBaudRate(m_line.baud);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(m_line.parity);
    port->setStopBits(m_line.stopBits);
    if (!port->open(QIODevice::ReadWrite)) {
        *systemText = port->errorString();
        return failureOf(*port);
    }
    // Pseudo-terminals and some adapters have no modem lines; that does not make the port unusable.
    port->setDataTerminalReady(true);
    port->setRequestToSend(true);
    askForLowLatency(*port);

    // A vanished port (adapter unplugged, other end of a pseudo-terminal closed) reports a read
    // error at every turn of the event loop; closing it stops that, and every later exchange
    // then fails at once. Queued, because the error is raised from inside the port's own code.
    // The port reports the same error when its read notification comes after an exchange took
    // the bytes that raised it (nothing left to read): a port that is still there stays open.
    QObject::connect(
        port.get(), &QSerialPort::errorOccurred, port.get(),
        [p = port.get()](QSerialPort::SerialPortError error) {
            if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
                return;
            if (hungUp(*p))
                p->close();
            else
                p->clearError();
        },
        Qt::QueuedConnection);
    m_port = std::move(port);
    return OpenFailure::None;
}

// The port refuses both a user without the right to the device and a device that another
// program holds (its lock file, or the exclusive mode of the terminal); the device's own
// permissions tell the two apart.
OpenFailure SerialTransport::failureOf(const QSerialPort &port) const
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return OpenFailure::NoDevice;
    case QSerialPort::PermissionError:
        return mayReadAndWrite(m_path) ? OpenFailure::Busy : OpenFailure::NoPermission;
    default:
        return OpenFailure::SystemError;
    }
}

void SerialTransport::close()
{
    if (!m_port)
        return;
    m_closedByOwner = true;
    m_port->close();
}

bool SerialTransport::isOpen() const
{
    return m_port && m_port->isOpen();
}

// Only the vanished-port handler closes an open port; close() is the owner's last word.
bool SerialTransport::lost() const
{
    return m_port && !m_port->isOpen() && !m_closedByOwner;
}

bool SerialTransport::write(const QByteArray &bytes, qint64 timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    if (!isOpen() || m_port->write(bytes) != bytes.size())
        return false;
    while (m_port->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !m_port->waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    return drainOutput(*m_port, deadline);
}

bool SerialTransport::waitForBytes(int ms)
{
    return isOpen() && m_port->waitForReadyRead(ms);
}

QByteArray SerialTransport::read(qint64 maxBytes)
{
    return isOpen() ? m_port->read(maxBytes) : QByteArray();
}

void SerialTransport::discardInput(QByteArray *discarded)
{
    if (!isOpen())
        return;
    if (discarded) {
        // Bytes still in the system's queue reach the port's own buffer only through a wait.
        m_port->waitForReadyRead(0);
        *discarded = m_port->readAll();
    }
    m_port->clear(QSerialPort::Input);
}
