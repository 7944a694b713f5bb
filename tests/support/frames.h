#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// Modbus RTU frames written out again for the tests, so that they do not trust the code under test.
namespace Frames {

inline QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// Appends the CRC-16/MODBUS, low-order byte first.
QByteArray withCrc(QByteArray frame);
// The same with the CRC's last bit flipped.
QByteArray withBadCrc(QByteArray frame);

// A read request (function 0x03) and its reply carrying registers, high-order byte first.
QByteArray readRequest(quint8 slave, quint16 first, quint16 count);
QByteArray readReply(quint8 slave, const QList<quint16> &registers);

// A write request (function 0x10) of registers, and the device's echo of it.
QByteArray writeRequest(quint8 slave, quint16 first, const QList<quint16> &registers);
QByteArray writeEcho(quint8 slave, quint16 first, quint16 count);

} // namespace Frames
