#include "mbapframe.h"

#include "rtuframe.h"

namespace Mbap {

namespace {

constexpr int kTransactionOffset = 0;
constexpr int kProtocolOffset = 2;
constexpr int kLengthOffset = 4;
constexpr int kUnitOffset = 6;
constexpr int kFunctionOffset = 7;
constexpr int kCountOffset = 10; // after function and first register

// Unit and function, then a read's byte count or a write's first register and count.
constexpr int kReadReplyOverhead = 3;
constexpr int kWriteEchoLength = 6;

void appendWord(QByteArray &frame, quint16 value)
{
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
}

} // namespace

QByteArray request(quint16 transaction, QByteArrayView rtuRequest)
{
    return frame(transaction, rtuRequest.first(rtuRequest.size() - Rtu::crcSize));
}

QByteArray frame(quint16 transaction, QByteArrayView unitAndPdu)
{
    QByteArray frame;
    appendWord(frame, transaction);
    appendWord(frame, modbusProtocol);
    appendWord(frame, quint16(unitAndPdu.size()));
    frame.append(unitAndPdu);
    return frame;
}

int requestSize(QByteArrayView received)
{
    if (received.size() < headerSize)
        return -1;
    const int length = Rtu::wordAt(received, kLengthOffset);
    if (Rtu::wordAt(received, kProtocolOffset) != modbusProtocol || length < shortestRequestLength || length > maxLength)
        return 0;
    return countedFrom + length;
}

int replyLength(QByteArrayView request)
{
    if (quint8(request[kFunctionOffset]) == Rtu::fnWriteMultipleRegisters)
        return kWriteEchoLength;
    return kReadReplyOverhead + 2 * Rtu::wordAt(request, kCountOffset);
}

Reading read(QByteArrayView request, QByteArrayView received)
{
    if (received.size() < headerSize)
        return {Reading::Wait, headerSize};
    const int length = Rtu::wordAt(received, kLengthOffset);
    if (Rtu::wordAt(received, kProtocolOffset) != modbusProtocol || length < exceptionLength || length > maxLength)
        return {Reading::Refused, 0};
    const bool ours = Rtu::wordAt(received, kTransactionOffset) == Rtu::wordAt(request, kTransactionOffset);
    if (ours
        && (received[kUnitOffset] != request[kUnitOffset]
            || (length != replyLength(request) && length != exceptionLength)))
        return {Reading::Refused, 0};
    const int size = countedFrom + length;
    if (received.size() < size)
        return {Reading::Wait, size};
    if (!ours)
        return {Reading::Foreign, size};
    // The PDU's own length, by its function and byte count, against the header's: the RTU
    // frame of the unit, with its CRC, is 2 bytes longer than the length.
    if (Rtu::replyLength(received.sliced(kUnitOffset)) != length + Rtu::crcSize)
        return {Reading::Refused, 0};
    return {Reading::Reply, size};
}

QByteArray asRtu(QByteArrayView frame)
{
    QByteArray rtu = frame.sliced(kUnitOffset).toByteArray();
    Rtu::appendCrc(rtu);
    return rtu;
}

} // namespace Mbap
