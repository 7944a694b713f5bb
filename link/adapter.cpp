#include "adapter.h"

#include "linesettings.h"
#include "resultcodes.h"
#include "rtuframe.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QThread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <termios.h>
#endif

namespace {

// Read time-outs of one exchange: at most 50 ms of silence between two bytes of a reply, and
// ReadTimeoutMs (read) or 500 ms (write) for each stage of the reply, plus one character time
// per expected byte so that slow lines fit: at 1200 baud a 10-register reply (25 bytes) alone
// takes 230 ms.
constexpr int kIntervalTimeoutMs = 50;
constexpr int kWriteTotalTimeoutMs = 500;

// A request must have left within this time plus its own duration on the wire.
constexpr int kSendTimeoutMs = 1000;

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

CAdapter::CAdapter() = default;
CAdapter::~CAdapter() = default;

QString CAdapter::PlatformPortName(quint8 portNumber)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(int(portNumber) + 1);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber);
#endif
}

int CAdapter::Open()
{
    const auto baud = LineSettings::baudRate(SpeedNumber);
    const auto parity = LineSettings::parity(Parity);
    const auto stopBits = LineSettings::stopBits(StopBits);
    OpenError = OpenFailure::None;
    OpenErrorText.clear();
    if (!baud || !parity || !stopBits) {
        OpenError = OpenFailure::LineSettings;
        return -1;
    }

    // Given before opening, the settings reach the port together as the port opens, and a
    // setting the port rejects makes the opening fail. One by one, a pseudo-terminal would
    // refuse even parity: it drops the parity-enable bit, so that request changes nothing.
    auto port = std::make_unique<QSerialPort>();
    const QString path = PortName.isEmpty() ? PlatformPortName(PortNumber) : PortName;
    port->setPortName(path);
    port->setBaudRate(qint32(*baud));
    port->setDataBits(QSerialPort::Data8);
    port->setParity(*parity);
    port->setStopBits(*stopBits);
    if (!port->open(QIODevice::ReadWrite)) {
        noteOpenFailure(*port, path);
        return -1;
    }
    // Pseudo-terminals and some adapters have no modem lines; that does not make the port unusable.
    port->setDataTerminalReady(true);
    port->setRequestToSend(true);

    // A vanished port (adapter unplugged, other end of a pseudo-terminal closed) reports a read
    // error at every turn of the event loop; closing it stops that, and every later exchange
    // then fails at once. Queued, because the error is raised from inside the port's own code.
    QObject::connect(
        port.get(), &QSerialPort::errorOccurred, port.get(),
        [p = port.get()](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
                p->close();
        },
        Qt::QueuedConnection);

    MultiplierMs = LineSettings::characterTimeMs(*baud);
    PortHandle = std::move(port);
    return 0;
}

// The port refuses both a user without the right to the device and a device that another
// program holds (its lock file, or the exclusive mode of the terminal); the device's own
// permissions tell the two apart.
void CAdapter::noteOpenFailure(const QSerialPort &port, const QString &path)
{
    OpenErrorText = port.errorString();
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        OpenError = OpenFailure::NoDevice;
        break;
    case QSerialPort::PermissionError:
        OpenError = mayReadAndWrite(path) ? OpenFailure::Busy : OpenFailure::NoPermission;
        break;
    default:
        OpenError = OpenFailure::SystemError;
        break;
    }
}

int CAdapter::Close()
{
    if (!PortHandle)
        return -1;
    m_closedByOwner = true;
    PortHandle->close();
    return 0;
}

// Only the vanished-port handler closes an open port; Close() is the owner's last word.
bool CAdapter::PortLost() const
{
    return PortHandle && !PortHandle->isOpen() && !m_closedByOwner;
}

qint16 CAdapter::ReadRegisters(quint8 slave, quint16 firstRegister, quint16 count, quint16 *buffer)
{
    return observed([&] { return readRegisters(slave, firstRegister, count, buffer); });
}

qint16 CAdapter::WriteRegisters(quint8 slave, quint16 firstRegister, quint16 count, const quint16 *buffer)
{
    return observed([&] { return writeRegisters(slave, firstRegister, count, buffer); });
}

// The report waits until the exchange is over, so that an observer's work never stretches the
// time-outs or the gaps between the stages of a reply.
qint16 CAdapter::observed(const std::function<qint16()> &exchange)
{
    if (!m_observer)
        return exchange();
    m_record.emplace();
    const qint16 result = exchange();
    ExchangeRecord record = std::move(*m_record);
    m_record.reset();
    if (record.request.isEmpty())
        return result; // refused before anything reached the line
    record.ended = record.sent.addMSecs(m_sinceSent.elapsed());
    record.result = result;
    m_observer(record);
    return result;
}

qint16 CAdapter::readRegisters(quint8 slave, quint16 firstRegister, quint16 count, quint16 *buffer)
{
    setReadTimeouts(ReadTimeoutMs);
    const QByteArray request = Rtu::readRequest(slave, firstRegister, count);
    if (!Connected)
        return lrNotConnected;
    discardPendingInput();
    if (!send(request))
        return lrWriteFailed;

    QByteArray reply = receive(Rtu::readHeaderSize);
    if (reply.size() < Rtu::readHeaderSize)
        return lrNoAnswer;
    if (Rtu::isException(quint8(reply[1])))
        return finishExceptionReply(reply);

    const int dataBytes = quint8(reply[2]);
    if (dataBytes > Rtu::maxReadDataBytes)
        return lrIncomplete;
    const int rest = dataBytes + Rtu::crcSize;
    reply += receive(rest);
    if (reply.size() != Rtu::readHeaderSize + rest)
        return lrIncomplete;
    if (!Rtu::crcVerifies(reply))
        return lrBadCrc;
    Rtu::copyRegisters(QByteArrayView(reply).sliced(Rtu::readHeaderSize, dataBytes), buffer);
    return lrOk;
}

qint16 CAdapter::writeRegisters(quint8 slave, quint16 firstRegister, quint16 count, const quint16 *buffer)
{
    if (count > Rtu::maxWriteRegisters)
        return lrBadParameters;
    setReadTimeouts(kWriteTotalTimeoutMs);
    const QByteArray request = Rtu::writeRequest(slave, firstRegister, count, buffer);
    if (!Connected)
        return lrNotConnected;
    discardPendingInput();
    if (!send(request))
        return lrWriteFailed;

    // The reply's first stage is its first 6 bytes; an exception reply ends after 5.
    constexpr int firstStage = 6;
    QByteArray reply = receive(firstStage, [](const QByteArray &bytes) {
        return bytes.size() >= Rtu::exceptionReplySize && Rtu::isException(quint8(bytes[1]));
    });
    if (reply.size() >= Rtu::exceptionReplySize && Rtu::isException(quint8(reply[1])))
        return finishExceptionReply(reply);
    if (reply.size() < firstStage)
        return lrNoAnswer;
    reply += receive(Rtu::writeReplySize - firstStage);
    if (reply.size() < Rtu::writeReplySize)
        return lrIncomplete;
    return Rtu::crcVerifies(reply) ? lrOk : lrBadCrc;
}

// The reply holds at least address, function and exception code; its CRC may still be missing.
qint16 CAdapter::finishExceptionReply(QByteArray reply)
{
    const int missing = Rtu::exceptionReplySize - int(reply.size());
    if (missing > 0)
        reply += receive(missing);
    if (reply.size() < Rtu::exceptionReplySize)
        return lrIncomplete;
    return Rtu::crcVerifies(reply.first(Rtu::exceptionReplySize)) ? lrDeviceError : lrBadCrc;
}

void CAdapter::setReadTimeouts(int totalMs)
{
    IntervalMs = kIntervalTimeoutMs;
    TotalMs = totalMs;
}

// Bytes of a late reply to an earlier exchange must not be read as part of the next one.
void CAdapter::discardPendingInput()
{
    if (!PortHandle || !PortHandle->isOpen())
        return;
    if (m_record) {
        // Bytes still in the system's queue reach the port's own buffer only through a wait.
        PortHandle->waitForReadyRead(0);
        m_record->discarded = PortHandle->readAll();
    }
    PortHandle->clear(QSerialPort::Input);
}

bool CAdapter::send(const QByteArray &request)
{
    if (m_record) {
        m_record->request = request;
        m_record->sent = QDateTime::currentDateTime();
        m_sinceSent.start();
    }
    if (!PortHandle || !PortHandle->isOpen())
        return false;
    if (PortHandle->write(request) != request.size())
        return false;
    const QDeadlineTimer deadline(kSendTimeoutMs + qint64(request.size()) * MultiplierMs);
    while (PortHandle->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !PortHandle->waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    return drainOutput(*PortHandle, deadline);
}

// One read of `count` bytes under the current time-outs; returns what arrived, possibly nothing.
QByteArray CAdapter::receive(int count, const EarlyEnd &earlyEnd)
{
    QByteArray bytes;
    if (!PortHandle || !PortHandle->isOpen())
        return bytes;
    const qint64 budgetMs = TotalMs + qint64(count) * MultiplierMs;
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        bytes += PortHandle->read(count - bytes.size());
        if (bytes.size() >= count || (earlyEnd && earlyEnd(bytes)))
            break;
        const qint64 left = budgetMs - elapsed.elapsed();
        if (left <= 0)
            break;
        // The interval counts from the last byte received; before the first one only the
        // total budget applies.
        const qint64 wait = bytes.isEmpty() ? left : qMin<qint64>(left, IntervalMs);
        if (!PortHandle->waitForReadyRead(int(wait)))
            break;
    }
    if (m_record)
        m_record->reply += bytes;
    return bytes;
}
