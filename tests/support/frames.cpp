#include "frames.h"

namespace Frames {

namespace {
QByteArray header(quint8 slave, char function)
{
    QByteArray frame;
    frame.append(char(slave));
    frame.append(function);
    return frame;
}

void appendWord(QByteArray &frame, quint16 word)
{
    frame.append(char(word >> 8));
    frame.append(char(word & 0xFF));
}
} // namespace

QByteArray withCrc(QByteArray frame)
{
    quint16 crc = 0xFFFF;
    for (char c : frame) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray readRequest(quint8 slave, quint16 first, quint16 count)
{
    QByteArray frame = header(slave, '\x03');
    appendWord(frame, first);
    appendWord(frame, count);
    return withCrc(frame);
}

QByteArray readReply(quint8 slave, const QList<quint16> &registers)
{
    QByteArray frame = header(slave, '\x03');
    frame.append(char(registers.size() * 2));
    for (quint16 word : registers)
        appendWord(frame, word);
    return withCrc(frame);
}

QByteArray writeRequest(quint8 slave, quint16 first, const QList<quint16> &registers)
{
    QByteArray frame = header(slave, '\x10');
    appendWord(frame, first);
    appendWord(frame, quint16(registers.size()));
    frame.append(char(registers.size() * 2));
    for (quint16 word : registers)
        appendWord(frame, word);
    return withCrc(frame);
}

QByteArray writeEcho(quint8 slave, quint16 first, quint16 count)
{
    QByteArray frame = header(slave, '\x10');
    appendWord(frame, first);
    appendWord(frame, count);
    return withCrc(frame);
}

QByteArray withBadCrc(QByteArray frame)
{
    frame = withCrc(frame);
    frame[frame.size() - 1] = char(frame[frame.size() - 1] ^ 0x01);
    return frame;
}

} // namespace Frames
