#include "servedpdu.h"

#include "mbapframe.h"
#include "resultcodes.h"
#include "rtuframe.h"

namespace ServedPdu {

namespace {

// Unit, function, first register and count: a read is exactly these 6 bytes; a write adds its
// byte count and data.
constexpr int kReadSize = 6;
constexpr int kFirstRegisterOffset = 2;
constexpr int kCountOffset = 4;
constexpr int kByteCountOffset = 6;
constexpr int kWriteHeaderSize = 7;
// Unicast addresses are 1..247. A broadcast (0) gets no reply that could tell the client what
// came of it, and 248..255 are no unit's.
constexpr quint8 kLowestUnit = 1;
constexpr quint8 kHighestUnit = 247;

void appendWord(QByteArray &pdu, quint16 value)
{
    pdu.append(char(value >> 8));
    pdu.append(char(value & 0xFF));
}

Asked refused(quint8 code)
{
    return {std::nullopt, code};
}

// The line's frames hold at most 100 bytes: 47 registers read, 45 written, fewer than the 125
// and 123 that Modbus allows; a longer request is refused, not cut.
Asked askRead(QByteArrayView unitAndPdu)
{
    if (unitAndPdu.size() != kReadSize)
        return refused(illegalDataValue);
    const quint16 count = Rtu::wordAt(unitAndPdu, kCountOffset);
    if (count < 1 || count > Rtu::maxReadRegisters)
        return refused(illegalDataValue);
    return {LineRequest::read(quint8(unitAndPdu[0]), Rtu::wordAt(unitAndPdu, kFirstRegisterOffset), count), 0};
}

Asked askWrite(QByteArrayView unitAndPdu)
{
    if (unitAndPdu.size() < kWriteHeaderSize)
        return refused(illegalDataValue);
    const quint16 count = Rtu::wordAt(unitAndPdu, kCountOffset);
    const int dataBytes = quint8(unitAndPdu[kByteCountOffset]);
    if (count < 1 || count > Rtu::maxWriteRegisters || dataBytes != 2 * count
        || unitAndPdu.size() != kWriteHeaderSize + dataBytes)
        return refused(illegalDataValue);
    QList<quint16> values(count);
    Rtu::copyRegisters(unitAndPdu.sliced(kWriteHeaderSize), values.data());
    return {LineRequest::write(quint8(unitAndPdu[0]), Rtu::wordAt(unitAndPdu, kFirstRegisterOffset), values), 0};
}

} // namespace

Asked ask(QByteArrayView unitAndPdu)
{
    const quint8 unit = quint8(unitAndPdu[0]);
    if (unit < kLowestUnit || unit > kHighestUnit)
        return refused(Mbap::gatewayPathUnavailable);
    switch (quint8(unitAndPdu[1])) {
    case Rtu::fnReadHoldingRegisters:
        return askRead(unitAndPdu);
    case Rtu::fnWriteMultipleRegisters:
        return askWrite(unitAndPdu);
    default:
        return refused(illegalFunction);
    }
}

QByteArray answer(const LineRequest &request, const LineReply &reply)
{
    QByteArray pdu;
    pdu.append(char(request.slave));
    const bool read = request.function == LineRequest::Function::ReadHoldingRegisters;
    const quint8 function = read ? Rtu::fnReadHoldingRegisters : Rtu::fnWriteMultipleRegisters;
    if (reply.exception != 0) {
        pdu.append(char(function | Rtu::exceptionFlag));
        pdu.append(char(reply.exception));
        return pdu;
    }
    if (reply.code != lrOk)
        return {};
    pdu.append(char(function));
    if (read) {
        pdu.append(char(2 * reply.registers.size()));
        for (quint16 value : reply.registers)
            appendWord(pdu, value);
    } else {
        appendWord(pdu, request.firstRegister);
        appendWord(pdu, quint16(request.values.size()));
    }
    return pdu;
}

QByteArray exception(QByteArrayView unitAndPdu, quint8 code)
{
    QByteArray pdu;
    pdu.append(unitAndPdu[0]);
    pdu.append(char(quint8(unitAndPdu[1]) | Rtu::exceptionFlag));
    pdu.append(char(code));
    return pdu;
}

} // namespace ServedPdu
