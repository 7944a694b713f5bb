#include "adapter.h"

#include "linesettings.h"
#include "mbapframe.h"
#include "resultcodes.h"
#include "rtuframe.h"
#include "tcptransport.h"

#ifdef Q_OS_WIN
#include "winserialtransport.h"
using PlatformSerialTransport = WinSerialTransport;
#else
#include "serialtransport.h"
using PlatformSerialTransport = SerialTransport;
#endif

#include <mutex>

namespace {

// Read time-outs of one exchange: at most 50 ms of silence between two bytes of a reply, and
// ReadTimeoutMs (read) or 500 ms (write) for each stage of the reply, plus one character time
// per expected byte so that slow lines fit: at 1200 baud a 10-register reply (25 bytes) alone
// takes 230 ms. A pipe's own latency (TcpTransport's network allowance) comes on top of both.
constexpr int kIntervalTimeoutMs = 50;
constexpr int kWriteTotalTimeoutMs = 500;

// A request must have left within this time plus its own duration on the wire.
constexpr int kSendTimeoutMs = 1000;

// Late replies that a Modbus TCP exchange sets aside before it gives up on its own: a gateway
// whose time-out is longer than our wait answers a search's probes late, one a probe, so a
// few at once are already a gateway that has lost count.
constexpr int kMostLateReplies = 4;

// A whole reply, its CRC verified and its address the request's: does it answer the request,
// and with which outcome. Exceptions 0x0A and 0x0B come from a gateway between this computer
// and the unit, whichever pipe brought them.
qint16 answerResult(const QByteArray &request, const QByteArray &frame)
{
    if (Rtu::mismatch(request, frame) != Rtu::Mismatch::None)
        return lrWrongReply;
    if (!Rtu::isException(quint8(frame[1])))
        return lrOk;
    switch (quint8(frame[Rtu::exceptionCodeOffset])) {
    case Mbap::gatewayPathUnavailable:
        return lrGatewayNoPath;
    case Mbap::gatewayTargetFailed:
        return lrGatewayNoAnswer;
    default:
        return lrDeviceError;
    }
}

std::mutex sourceMutex;
CAdapter::TransportSource transportSource; // empty: CAdapter::transportFor

std::unique_ptr<Transport> transportFromSource(const QString &path, quint8 speedNumber, quint8 parity,
                                               quint8 stopBits)
{
    CAdapter::TransportSource source;
    {
        const std::lock_guard lock(sourceMutex);
        source = transportSource;
    }
    return source ? source(path, speedNumber, parity, stopBits)
                  : CAdapter::transportFor(path, speedNumber, parity, stopBits);
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

CAdapter::PipeAbilities CAdapter::abilitiesOf(const QString &path)
{
    if (TcpTransport::isModbusTcpName(path))
        return {.setsLine = false,
                .systemDevice = false,
                .passesLine = false,
                .latencyAllowanceMs = TcpTransport::kNetworkAllowanceMs + GatewayTimeoutAllowanceMs};
    if (TcpTransport::isTcpName(path))
        return {.setsLine = false, .systemDevice = false, .latencyAllowanceMs = TcpTransport::kNetworkAllowanceMs};
    return {};
}

// Over TCP the server sets the line: only the speed has to be one of the table's, for the
// reply's time on the line behind the server.
std::unique_ptr<Transport> CAdapter::transportFor(const QString &path, quint8 speedNumber, quint8 parityRow,
                                                  quint8 stopBitsRow)
{
    const auto baud = LineSettings::baudRate(speedNumber);
    if (TcpTransport::isTcpName(path) || TcpTransport::isModbusTcpName(path))
        return baud ? std::make_unique<TcpTransport>(path) : nullptr;
    const auto parity = LineSettings::parity(parityRow);
    const auto stopBits = LineSettings::stopBits(stopBitsRow);
    if (!baud || !parity || !stopBits)
        return nullptr;
    return std::make_unique<PlatformSerialTransport>(path,
                                                     PlatformSerialTransport::Line{qint32(*baud), *parity, *stopBits});
}

void CAdapter::setTransportSource(TransportSource source)
{
    const std::lock_guard lock(sourceMutex);
    transportSource = std::move(source);
}

int CAdapter::Open()
{
    OpenError = OpenFailure::None;
    OpenErrorText.clear();
    const std::optional<quint32> baud = LineSettings::baudRate(SpeedNumber);
    const QString path = PortName.isEmpty() ? PlatformPortName(PortNumber) : PortName;
    std::unique_ptr<Transport> transport =
        baud ? transportFromSource(path, SpeedNumber, Parity, StopBits) : nullptr;
    if (!transport) {
        OpenError = OpenFailure::LineSettings;
        return -1;
    }
    OpenError = transport->open(&OpenErrorText);
    if (OpenError != OpenFailure::None)
        return -1;
    MultiplierMs = LineSettings::characterTimeMs(*baud);
    m_modbusTcp = TcpTransport::isModbusTcpName(path);
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
    LastException = 0;
    if (!m_observer)
        return exchange();
    m_record.emplace();
    const qint16 result = exchange();
    ExchangeRecord record = std::move(*m_record);
    m_record.reset();
    if (record.request.isEmpty())
        return result; // refused before anything reached the line
    record.ended = record.sent.addMSecs(nowMs() - m_sentAtMs);
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

    QByteArray reply;
    const qint16 result = exchange(request, Rtu::readHeaderSize, reply);
    if (result == lrOk)
        Rtu::copyRegisters(QByteArrayView(reply).sliced(Rtu::readHeaderSize, 2 * count), buffer);
    return result;
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

    // The reply's first stage is its first 6 bytes.
    constexpr int firstStage = 6;
    QByteArray reply;
    return exchange(request, firstStage, reply);
}

qint16 CAdapter::exchange(const QByteArray &rtuRequest, int firstStage, QByteArray &frame)
{
    const qint16 result = sendAndReceive(rtuRequest, firstStage, frame);
    if (result == lrDeviceError || result == lrGatewayNoPath || result == lrGatewayNoAnswer)
        LastException = quint8(frame[Rtu::exceptionCodeOffset]);
    return result;
}

qint16 CAdapter::sendAndReceive(const QByteArray &rtuRequest, int firstStage, QByteArray &frame)
{
    if (!m_modbusTcp) {
        if (!send(rtuRequest))
            return lrWriteFailed;
        return receiveReply(rtuRequest, firstStage, frame);
    }
    const QByteArray request = Mbap::request(++m_transaction, rtuRequest);
    if (!send(request))
        return lrWriteFailed;
    return receiveGatewayReply(request, rtuRequest, frame);
}

// Receives the reply to `request` into frame: its first `firstStage` bytes within the stage's
// budget (else lrNoAnswer), then the rest, as long as its function and byte count say, with no
// pause longer than the interval (else lrIncomplete).
//
// A whole frame of another slave address with a verified CRC (a late reply of another unit on
// the line) is set aside, and the first stage goes on for this slave's reply. Its bytes count
// towards the stage's budget as if the stage had asked for them, one character time each, so
// that it costs this reply nothing; but no more than one longest frame's worth, so that a line
// full of other units' traffic still ends the wait.
qint16 CAdapter::receiveReply(const QByteArray &request, int firstStage, QByteArray &frame)
{
    // A frame shorter than the first stage (an exception reply, another unit's empty read
    // reply to a write) ends it once it is whole.
    const auto wholeFrame = [](const QByteArray &bytes) {
        return bytes.size() >= Rtu::readHeaderSize && bytes.size() >= Rtu::replyLength(bytes);
    };
    QByteArray bytes;
    int setAsideBytes = 0;
    const qint64 waitingSinceMs = nowMs();
    for (;;) {
        const qint64 stageMs = TotalMs + qint64(firstStage + setAsideBytes) * MultiplierMs;
        receive(bytes, firstStage, stageMs - (nowMs() - waitingSinceMs), wholeFrame);
        if (bytes.size() < firstStage && !wholeFrame(bytes))
            return lrNoAnswer;
        const int length = Rtu::replyLength(bytes);
        if (length > Rtu::maxFrameSize)
            return lrIncomplete;
        receive(bytes, length, TotalMs + qint64(length - bytes.size()) * MultiplierMs);
        if (bytes.size() < length)
            return lrIncomplete;
        frame = bytes.first(length);
        if (!Rtu::crcVerifies(frame))
            return lrBadCrc;
        if (frame[0] == request[0])
            break;
        setAsideBytes += length;
        if (setAsideBytes > Rtu::maxFrameSize)
            return lrNoAnswer;
        setAside(frame);
        bytes.remove(0, length);
    }
    return answerResult(request, frame);
}

// Receives the reply of this transaction into frame, as the RTU frame of the unit; any reply
// of another transaction (a late one, to an exchange that has given up) is set aside. The
// header comes first, within the first stage's budget (else lrNoAnswer); its length is judged
// before the rest is waited for, and a header that no reply to the request has is lrWrongReply
// at once. The rest follows as on RTU (else lrIncomplete).
//
// The gateway answers once the unit's whole reply has crossed its line, so the first stage
// takes the request's and the reply's characters on that line (a read of 10 registers at
// 1200 baud: 8 + 25 characters of 9.2 ms, 302 ms), and the gateway's own time-out when the
// unit is silent. The late replies cost the stage nothing: they do not hold up the line.
qint16 CAdapter::receiveGatewayReply(const QByteArray &request, const QByteArray &rtuRequest, QByteArray &frame)
{
    const int lineCharacters = int(rtuRequest.size()) + Mbap::replyLength(request) + Rtu::crcSize;
    const qint64 stageMs = TotalMs + GatewayTimeoutAllowanceMs + qint64(lineCharacters) * MultiplierMs;
    const qint64 waitingSinceMs = nowMs();
    QByteArray bytes;
    for (int lateReplies = 0;; ++lateReplies) {
        receive(bytes, Mbap::headerSize, stageMs - (nowMs() - waitingSinceMs));
        if (bytes.size() < Mbap::headerSize)
            return lrNoAnswer;
        Mbap::Reading reading = Mbap::read(request, bytes);
        if (reading.outcome == Mbap::Reading::Wait) {
            receive(bytes, reading.size, TotalMs + qint64(reading.size - bytes.size()) * MultiplierMs);
            reading = Mbap::read(request, bytes);
        }
        switch (reading.outcome) {
        case Mbap::Reading::Wait:
            return lrIncomplete;
        case Mbap::Reading::Refused:
            return lrWrongReply;
        case Mbap::Reading::Reply:
            frame = Mbap::asRtu(bytes.first(reading.size));
            return answerResult(rtuRequest, frame);
        case Mbap::Reading::Foreign:
            break;
        }
        if (lateReplies == kMostLateReplies)
            return lrNoAnswer;
        setAside(bytes.first(reading.size));
        bytes.remove(0, reading.size);
    }
}

// The monitor shows another unit's frame in a row of its own, not as a part of this reply.
void CAdapter::setAside(const QByteArray &foreignFrame)
{
    if (!m_record)
        return;
    m_record->foreign.append(foreignFrame);
    m_record->reply.remove(0, foreignFrame.size());
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
        m_sentAtMs = nowMs();
    }
    if (!PortHandle || !PortHandle->isOpen())
        return false;
    return PortHandle->write(request, kSendTimeoutMs + qint64(request.size()) * MultiplierMs);
}

// With an interruption to look at, a long wait goes in slices: bytes that come meanwhile end it
// as they would end the whole wait.
bool CAdapter::waitForBytes(qint64 ms)
{
    if (!m_interrupted)
        return PortHandle->waitForBytes(int(ms));
    const qint64 untilMs = nowMs() + ms;
    for (qint64 left = ms; left > 0; left = untilMs - nowMs()) {
        if (PortHandle->waitForBytes(int(qMin<qint64>(left, InterruptionCheckMs))))
            return true;
        if (PortHandle->lost() || m_interrupted())
            return false;
    }
    return false;
}

qint64 CAdapter::nowMs() const
{
    return PortHandle ? PortHandle->nowMs() : Transport::steadyNowMs();
}

// Reads until bytes holds `count` (or earlyEnd accepts them), at most budgetMs from now;
// bytes may already hold some from an earlier read.
void CAdapter::receive(QByteArray &bytes, int count, qint64 budgetMs, const EarlyEnd &earlyEnd)
{
    if (!PortHandle || !PortHandle->isOpen())
        return;
    const qsizetype before = bytes.size();
    const qint64 startMs = nowMs();
    const auto done = [&] { return bytes.size() >= count || (earlyEnd && earlyEnd(bytes)); };
    while (!done()) {
        const QByteArray arrived = PortHandle->read(count - bytes.size());
        bytes += arrived;
        if (m_record)
            m_record->reply += arrived;
        if (done())
            break;
        const qint64 left = budgetMs - (nowMs() - startMs);
        if (left <= 0 || (m_interrupted && m_interrupted()))
            break;
        // The interval counts from the last byte this read received; before its first one
        // only the budget applies.
        const qint64 wait = bytes.size() == before ? left : qMin<qint64>(left, IntervalMs);
        if (!waitForBytes(wait))
            break;
    }
}
