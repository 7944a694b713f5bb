#include "rtuframe.h"

namespace Rtu {

namespace {
void appendWord(QByteArray &frame, quint16 value)
{
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
}
} // namespace

quint16 crc16(QByteArrayView bytes)
{
    quint16 crc = 0xFFFF;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

void appendCrc(QByteArray &frame)
{
    const quint16 crc = crc16(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
}

bool crcVerifies(QByteArrayView frame)
{
    return frame.size() > crcSize && crc16(frame) == 0;
}

QByteArray readRequest(quint8 slave, quint16 firstRegister, quint16 count)
{
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(fnReadHoldingRegisters));
    appendWord(frame, firstRegister);
    appendWord(frame, count);
    appendCrc(frame);
    return frame;
}

QByteArray writeRequest(quint8 slave, quint16 firstRegister, quint16 count, const quint16 *values)
{
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(fnWriteMultipleRegisters));
    appendWord(frame, firstRegister);
    appendWord(frame, count);
    frame.append(char((2 * count) & 0xFF));
    for (quint16 k = 0; k < count; ++k)
        appendWord(frame, values[k]);
    appendCrc(frame);
    return frame;
}

quint16 wordAt(QByteArrayView frame, qsizetype offset)
{
    return quint16(quint8(frame[offset]) << 8 | quint8(frame[offset + 1]));
}

int replyLength(QByteArrayView start)
{
    const quint8 function = quint8(start[1]);
    if (isException(function))
        return exceptionReplySize;
    if (function == fnWriteMultipleRegisters)
        return writeReplySize;
    return readHeaderSize + quint8(start[2]) + crcSize;
}

int requestLength(QByteArrayView start)
{
    constexpr int readRequestSize = 8; // address, function, first register, count, CRC
    constexpr int writeByteCountOffset = 6;
    if (start.size() < 2)
        return -1;
    switch (quint8(start[1])) {
    case fnReadHoldingRegisters:
        return readRequestSize;
    case fnWriteMultipleRegisters:
        return start.size() > writeByteCountOffset ? writeRequestOverhead + quint8(start[writeByteCountOffset]) : -1;
    default:
        return 0;
    }
}

Mismatch mismatch(QByteArrayView request, QByteArrayView reply)
{
    // Both requests begin with address, function, first register and count.
    constexpr int requestHeaderSize = 6;
    if (request.size() < requestHeaderSize || reply.size() < readHeaderSize || reply.size() < replyLength(reply))
        return Mismatch::None; // no whole frame: nothing to judge
    if (reply[0] != request[0])
        return Mismatch::Slave;
    const quint8 function = quint8(request[1]);
    const quint8 answered = quint8(reply[1]);
    if (answered == (function | exceptionFlag))
        return Mismatch::None;
    if (answered != function)
        return Mismatch::Function;
    const quint16 count = wordAt(request, 4);
    if (function == fnReadHoldingRegisters)
        return quint8(reply[2]) == 2 * count ? Mismatch::None : Mismatch::ByteCount;
    if (wordAt(reply, 2) != wordAt(request, 2))
        return Mismatch::FirstRegister;
    return wordAt(reply, 4) == count ? Mismatch::None : Mismatch::Count;
}

void copyRegisters(QByteArrayView data, quint16 *registers)
{
    for (qsizetype k = 0; k < data.size() / 2; ++k)
        registers[k] = wordAt(data, 2 * k);
}

} // namespace Rtu
