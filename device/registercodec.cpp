#include "registercodec.h"

#include <QList>
#include <algorithm>
#include <array>
#include <bit>

namespace RegisterCodec {

namespace {

// Unicode of the Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are А..я (U+0410..U+044F) in order.
// Byte 0x98 has no character; it is kept as U+0098 so that it survives a round trip.
constexpr std::array<char16_t, 64> kUpperHalf{
    u'\u0402', u'\u0403', u'\u201A', u'\u0453', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u20AC', u'\u2030', u'\u0409', u'\u2039', u'\u040A', u'\u040C', u'\u040B', u'\u040F',
    u'\u0452', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u0098', u'\u2122', u'\u0459', u'\u203A', u'\u045A', u'\u045C', u'\u045B', u'\u045F',
    u'\u00A0', u'\u040E', u'\u045E', u'\u0408', u'\u00A4', u'\u0490', u'\u00A6', u'\u00A7',
    u'\u0401', u'\u00A9', u'\u0404', u'\u00AB', u'\u00AC', u'\u00AD', u'\u00AE', u'\u0407',
    u'\u00B0', u'\u00B1', u'\u0406', u'\u0456', u'\u0491', u'\u00B5', u'\u00B6', u'\u00B7',
    u'\u0451', u'\u2116', u'\u0454', u'\u00BB', u'\u0458', u'\u0405', u'\u0455', u'\u0457'};

constexpr char32_t kCyrillicA = 0x0410;
constexpr int kCyrillicFirstByte = 0xC0;
constexpr int kUpperHalfFirstByte = 0x80;

char cp1251Byte(char32_t ch)
{
    if (ch < kUpperHalfFirstByte)
        return char(ch);
    if (ch >= kCyrillicA && ch < kCyrillicA + 64)
        return char(kCyrillicFirstByte + int(ch - kCyrillicA));
    const auto it = std::find(kUpperHalf.begin(), kUpperHalf.end(), ch);
    if (it != kUpperHalf.end())
        return char(kUpperHalfFirstByte + int(it - kUpperHalf.begin()));
    return '?';
}

char16_t unicodeOf(quint8 byte)
{
    if (byte < kUpperHalfFirstByte)
        return byte;
    if (byte >= kCyrillicFirstByte)
        return char16_t(kCyrillicA + (byte - kCyrillicFirstByte));
    return kUpperHalf[byte - kUpperHalfFirstByte];
}

} // namespace

float floatFrom(const quint16 *registers)
{
    return std::bit_cast<float>(quint32(registers[1]) << 16 | registers[0]);
}

void putFloat(float value, quint16 *registers)
{
    const auto bits = std::bit_cast<quint32>(value);
    registers[0] = quint16(bits & 0xFFFF);
    registers[1] = quint16(bits >> 16);
}

QByteArray textBytesFrom(const quint16 *registers, int maxBytes)
{
    QByteArray bytes;
    for (int i = 0; i < maxBytes; ++i) {
        const quint16 reg = registers[i / 2];
        const char byte = char(i % 2 == 0 ? reg & 0xFF : reg >> 8);
        if (byte == 0)
            break;
        bytes.append(byte);
    }
    return bytes;
}

QString textFrom(const quint16 *registers, int maxBytes)
{
    return fromCp1251(textBytesFrom(registers, maxBytes));
}

void putTextBytes(QByteArrayView bytes, quint16 *registers, int maxBytes)
{
    const int count = int(std::min<qsizetype>(bytes.size(), maxBytes));
    for (int i = 0; i < count; ++i) {
        quint16 &reg = registers[i / 2];
        const quint8 byte = quint8(bytes[i]);
        reg = (i % 2 == 0) ? quint16((reg & 0xFF00) | byte) : quint16((reg & 0x00FF) | byte << 8);
    }
}

void putText(const QString &text, quint16 *registers, int maxBytes)
{
    putTextBytes(toCp1251(text), registers, maxBytes);
}

QByteArray toCp1251(QStringView text)
{
    QByteArray bytes;
    for (char32_t ch : text.toUcs4())
        bytes.append(cp1251Byte(ch));
    return bytes;
}

QString fromCp1251(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char byte : bytes)
        text.append(QChar(unicodeOf(quint8(byte))));
    return text;
}

} // namespace RegisterCodec
