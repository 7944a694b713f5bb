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

void copyRegisters(QByteArrayView data, quint16 *registers)
{
    for (qsizetype k = 0; k < data.size() / 2; ++k)
        registers[k] = quint16(quint8(data[2 * k]) << 8 | quint8(data[2 * k + 1]));
}

} // namespace Rtu
