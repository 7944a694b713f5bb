#pragma once

#include "linelistener.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The files a listener's capture is saved in: JSON lines, one object per frame, for scripts;
// and pcap, which Wireshark and tcpdump open.
namespace LineCapture {

enum class Format { JsonLines, Pcap };

// {"time_us":1733700000123456,"direction":"request","bytes":"01 03 0A 06 00 02 27 D8",
//  "decoding":"адрес 1: чтение: ..."} and a line feed. time_us counts from 1970 in UTC.
QByteArray jsonLine(const LineListener::Record &record);
QString directionName(LineListener::Direction direction);

// Link type 147, the first of the user types (USER0), which existing Modbus RTU captures use:
// Wireshark decodes it as Modbus RTU once USER0 is given the protocol "mbrtu".
inline constexpr quint32 kPcapLinkType = 147;
QByteArray pcapFileHeader();
// A 16-byte record header, seconds and microseconds, then the bytes.
QByteArray pcapRecord(const LineListener::Record &record);

// The format a file name asks for: pcap for ".pcap", JSON lines for anything else.
Format formatOf(const QString &path);
// Replaces the file whole or leaves it as it was; false with error set. Without a format, the
// file name's.
bool save(const QString &path, Format format, const QList<LineListener::Record> &records, QString *error);
bool save(const QString &path, const QList<LineListener::Record> &records, QString *error);

} // namespace LineCapture
