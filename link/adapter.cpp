#include "adapter.h"

#include "linesettings.h"
#include "resultcodes.h"
#include "rtuframe.h"
#include "serialtransport.h"
#include "tcptransport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>

namespace {

// Read time-outs of one exchange: at most 50 ms of silence between two bytes of a reply, and
// ReadTimeoutMs (read) or 500 ms (write) for each stage of the reply, plus one character time
// per expected byte so that slow lines fit: at 1200 baud a 10-register reply (25 bytes) alone
// takes 230 ms. A pipe's own latency (TcpTransport's network allowance) comes on top of both.
constexpr int kIntervalTimeoutMs = 50;
constexpr int kWriteTotalTimeoutMs = 500;

// A request must have left within this time plus its own duration on the wire.
constexpr int kSendTimeoutMs = 1000;

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

// Over TCP the server sets the line: only the speed has to be one of the table's, for the
// reply's time on the line behind the server.
std::unique_ptr<Transport> CAdapter::transportFor(const QString &path, quint8 speedNumber, quint8 parityRow,
                                                  quint8 stopBitsRow)
{
    const auto baud = LineSettings::baudRate(speedNumber);
    if (TcpTransport::isTcpName(path))
        return baud ? std::make_unique<TcpTransport>(path) : nullptr;
    const auto parity = LineSettings::parity(parityRow);
    const auto stopBits = LineSettings::stopBits(stopBitsRow);
    if (!baud || !parity || !stopBits)
        return nullptr;
    return std::make_unique<SerialTransport>(path, SerialTransport::Line{qint32(*baud), *parity, *stopBits});
}

int CAdapter::Open()
{
    OpenError = OpenFailure::None;
    OpenErrorText.clear();
    std::unique_ptr<Transport> transport =
        transportFor(PortName.isEmpty() ? PlatformPortName(PortNumber) : PortName, SpeedNumber, Parity, StopBits);
    if (!transport) {
        OpenError = OpenFailure::LineSettings;
        return -1;
    }
    OpenError = transport->open(&OpenErrorText);
    if (OpenError != OpenFailure::None)
        return -1;
    MultiplierMs = LineSettings::characterTimeMs(*LineSettings::baudRate(SpeedNumber));
    PortHandle = std::move(transport);
    return 0;
}

int CAdapter::Close()
{
    if (!PortHandle)
        return -1;
    PortHandle->close();
    return 0;
}

bool CAdapter::PortLost() const
{
    return PortHandle && PortHandle->lost();
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
    const int allowanceMs = PortHandle ? PortHandle->latencyAllowanceMs() : 0;
    IntervalMs = kIntervalTimeoutMs + allowanceMs;
    TotalMs = totalMs + allowanceMs;
}

// Bytes of a late reply to an earlier exchange must not be read as part of the next one.
void CAdapter::discardPendingInput()
{
    if (!PortHandle || !PortHandle->isOpen())
        return;
    PortHandle->discardInput(m_record ? &m_record->discarded : nullptr);
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
    return PortHandle->write(request, QDeadlineTimer(kSendTimeoutMs + qint64(request.size()) * MultiplierMs));
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
        if (!PortHandle->waitForBytes(int(wait)))
            break;
    }
    if (m_record)
        m_record->reply += bytes;
    return bytes;
}
