#include "winserialtransport.h"

#include "winsystemtext.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

#include <windows.h>

#include <limits>

namespace {

static_assert(NOPARITY == 0 && ODDPARITY == 1 && EVENPARITY == 2 && MARKPARITY == 3 && SPACEPARITY == 4,
              "the parity table holds the DCB's codes");
static_assert(ONESTOPBIT == 0 && ONE5STOPBITS == 1 && TWOSTOPBITS == 2, "the stop-bits table holds the DCB's codes");

// COM1..COM9 have names of their own; the rest only exist in the device namespace.
constexpr int kFirstNamespaceOnlyPort = 10;

// How often a write looks whether its bytes have left the driver's queue.
constexpr int kOutputPollMs = 1;
// A read of bytes already queued ends at once; this only bounds a driver that misbehaves.
constexpr int kQueuedReadMs = 1000;

// Another program holding the port and a port the user may not open both answer "access
// denied" from CreateFile; on Windows a COM port has no rights of its own to tell them
// apart, and a port in use is by far the usual case.
OpenFailure failureOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return OpenFailure::NoDevice;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return OpenFailure::Busy;
    default:
        return OpenFailure::SystemError;
    }
}

// A read that returns at once with the bytes already received, or waits for the first one
// for at most ms and returns it (the documented combination of MAXDWORD for the interval
// and the multiplier with a constant below MAXDWORD).
COMMTIMEOUTS firstByteTimeouts(int ms)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = DWORD(qMax(1, ms));
    return timeouts; // writes without a time-out of their own: the caller's deadline ends them
}

} // namespace

QString WinSerialTransport::deviceName(const QString &port)
{
    static const QRegularExpression comPort(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comPort.match(port);
    if (match.hasMatch() && match.captured(1).toInt() >= kFirstNamespaceOnlyPort)
        return QStringLiteral("\\\\.\\") + port;
    return port;
}

WinSerialTransport::WinSerialTransport(const QString &port, const Line &line) : m_port(port), m_line(line) {}

WinSerialTransport::~WinSerialTransport()
{
    close();
}

OpenFailure WinSerialTransport::open(QString *systemText)
{
    // Communications devices open only as existing ones, for exclusive use.
    const QString name = deviceName(m_port);
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(name.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *systemText = WinSystemText::message(error);
        return failureOf(error);
    }
    m_handle = handle;
    // Manual reset: a completion seen by GetOverlappedResult stays seen for the wait that follows.
    m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_event || !configure(systemText)) {
        if (!m_event)
            *systemText = WinSystemText::message(GetLastError());
        close();
        return OpenFailure::SystemError;
    }
    return OpenFailure::None;
}

// The line as the adapter's settings give it. Flow control, the abort on a line error and the
// special characters are switched off as well: a port that another program left with CTS
// handshaking on would hold every request back, and one left aborting on errors would fail
// every read after the first framing error.
bool WinSerialTransport::configure(QString *systemText)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    COMMTIMEOUTS timeouts = firstByteTimeouts(1);
    if (!GetCommState(m_handle, &dcb)) {
        *systemText = WinSystemText::message(GetLastError());
        return false;
    }
    dcb.BaudRate = DWORD(m_line.baud);
    dcb.ByteSize = 8;
    dcb.Parity = m_line.parity;
    dcb.StopBits = m_line.stopBits;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE; // parity is sent, received parity is not checked
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(m_handle, &dcb) || !SetCommTimeouts(m_handle, &timeouts)
        || !PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        *systemText = WinSystemText::message(GetLastError());
        return false;
    }
    return true;
}

void WinSerialTransport::close()
{
    if (m_handle) {
        CancelIo(m_handle);
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
    if (m_event) {
        CloseHandle(m_event);
        m_event = nullptr;
    }
    m_received.clear();
}

bool WinSerialTransport::isOpen() const
{
    return m_handle != nullptr;
}

bool WinSerialTransport::lost() const
{
    return m_lost;
}

// An adapter unplugged while open fails every call on its handle from then on.
void WinSerialTransport::markLost()
{
    close();
    m_lost = true;
}

qint64 WinSerialTransport::queued(Queue queue)
{
    COMSTAT status{};
    DWORD errors = 0;
    if (!isOpen() || !ClearCommError(m_handle, &errors, &status)) {
        if (isOpen())
            markLost();
        return -1;
    }
    return queue == Queue::Input ? status.cbInQue : status.cbOutQue;
}

qint64 WinSerialTransport::transfer(bool reading, char *data, qint64 size, int ms)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_event;
    ResetEvent(m_event);
    DWORD done = 0;
    const BOOL finished = reading ? ReadFile(m_handle, data, DWORD(size), &done, &overlapped)
                                  : WriteFile(m_handle, data, DWORD(size), &done, &overlapped);
    if (!finished && GetLastError() != ERROR_IO_PENDING) {
        markLost();
        return -1;
    }
    // Past its time the transfer is cancelled; what it moved until then still counts. The
    // cancelled transfer is waited for, as it writes into `overlapped` when it ends.
    if (!finished && WaitForSingleObject(m_event, DWORD(qMax(0, ms))) != WAIT_OBJECT_0)
        CancelIoEx(m_handle, &overlapped);
    if (!GetOverlappedResult(m_handle, &overlapped, &done, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED) {
        markLost();
        return -1;
    }
    return done;
}

// Windows hands the bytes to the driver at once; like the drain on other systems, the driver's
// queue is then watched until it is empty, so that the reply's budget starts once the request
// is on the line, and never past the deadline.
bool WinSerialTransport::write(const QByteArray &bytes, qint64 timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    if (!isOpen())
        return false;
    QByteArray data = bytes;
    const int ms = int(qMin<qint64>(deadline.isForever() ? std::numeric_limits<int>::max() : deadline.remainingTime(),
                                    std::numeric_limits<int>::max()));
    if (transfer(false, data.data(), data.size(), ms) != bytes.size())
        return false;
    for (qint64 waiting = queued(Queue::Output); waiting != 0; waiting = queued(Queue::Output)) {
        if (waiting < 0 || deadline.hasExpired())
            return false;
        QThread::msleep(kOutputPollMs);
    }
    return true;
}

// The wait is a read of the first byte with the time-outs above, bounded by ms itself as well:
// Wine's serial emulation leaves such a read pending on an empty port instead of ending it
// when its constant has passed, and cancelling it at ms gives the same result.
bool WinSerialTransport::waitForBytes(int ms)
{
    if (!m_received.isEmpty())
        return true;
    const qint64 waiting = queued(Queue::Input);
    if (waiting != 0)
        return waiting > 0;
    COMMTIMEOUTS timeouts = firstByteTimeouts(ms);
    if (!SetCommTimeouts(m_handle, &timeouts)) {
        markLost();
        return false;
    }
    char byte = 0;
    const qint64 got = transfer(true, &byte, 1, ms);
    if (got > 0)
        m_received.append(byte);
    return got > 0;
}

QByteArray WinSerialTransport::read(qint64 maxBytes)
{
    QByteArray bytes = m_received.left(maxBytes);
    m_received.remove(0, bytes.size());
    const qint64 wanted = qMin(maxBytes - bytes.size(), queued(Queue::Input));
    if (wanted <= 0)
        return bytes;
    // Only bytes already queued are asked for: the read ends at once.
    QByteArray more(wanted, Qt::Uninitialized);
    const qint64 got = transfer(true, more.data(), wanted, kQueuedReadMs);
    if (got > 0)
        bytes += more.first(got);
    return bytes;
}

void WinSerialTransport::discardInput(QByteArray *discarded)
{
    if (!isOpen())
        return;
    if (discarded)
        *discarded = read(std::numeric_limits<qint64>::max());
    m_received.clear();
    if (isOpen())
        PurgeComm(m_handle, PURGE_RXCLEAR);
}
