#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// The two multi-register layouts of device values, on registers held in host order.
namespace RegisterCodec {

// Register float: an IEEE 754 single whose low-order 16 bits are the first register and whose
// high-order 16 bits are the second. 1.5 (0x3FC00000) is 0x0000, 0x3FC0.
float floatFrom(const quint16 *registers);
void putFloat(float value, quint16 *registers);

// Register text: single-byte characters two per register, character 2k in the low-order byte
// of register k and character 2k + 1 in its high-order byte. A text ends at its first zero
// byte or after maxBytes characters.
QByteArray textBytesFrom(const quint16 *registers, int maxBytes);
QString textFrom(const quint16 *registers, int maxBytes);
// Stores at most maxBytes characters and nothing else: bytes after the text keep their value,
// so a text shorter than its registers ends at the zero bytes of a cleared buffer.
void putTextBytes(QByteArrayView bytes, quint16 *registers, int maxBytes);
void putText(const QString &text, quint16 *registers, int maxBytes);

// Windows-1251, the device's character set. A character it lacks becomes "?".
QByteArray toCp1251(QStringView text);
QString fromCp1251(QByteArrayView bytes);

} // namespace RegisterCodec
