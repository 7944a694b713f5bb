#include "linecapture.h"

#include "framewords.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace LineCapture {

namespace {

// pcap's magic number for microsecond times, version 2.4.
constexpr quint32 kPcapMagic = 0xA1B2C3D4;
constexpr quint16 kPcapMajor = 2;
constexpr quint16 kPcapMinor = 4;
constexpr quint32 kSnapLength = 65535;
constexpr qint64 kMicrosecondsPerSecond = 1'000'000;

// pcap is written in the byte order of the machine that writes it; readers tell it by the magic.
template <typename T>
void append(QByteArray &bytes, T value)
{
    bytes.append(reinterpret_cast<const char *>(&value), sizeof value);
}

} // namespace

QString directionName(LineListener::Direction direction)
{
    switch (direction) {
    case LineListener::Direction::Request:
        return QStringLiteral("request");
    case LineListener::Direction::Reply:
        return QStringLiteral("reply");
    case LineListener::Direction::Unframed:
        break;
    }
    return QStringLiteral("unframed");
}

QByteArray jsonLine(const LineListener::Record &record)
{
    const QJsonObject object{{QStringLiteral("time_us"), record.timeUs},
                             {QStringLiteral("direction"), directionName(record.direction)},
                             {QStringLiteral("bytes"), FrameWords::hexBytes(record.bytes)},
                             {QStringLiteral("decoding"), record.decoding}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray pcapFileHeader()
{
    QByteArray header;
    append(header, kPcapMagic);
    append(header, kPcapMajor);
    append(header, kPcapMinor);
    append(header, qint32(0)); // times are UTC
    append(header, quint32(0));
    append(header, kSnapLength);
    append(header, kPcapLinkType);
    return header;
}

QByteArray pcapRecord(const LineListener::Record &record)
{
    QByteArray bytes;
    append(bytes, quint32(record.timeUs / kMicrosecondsPerSecond));
    append(bytes, quint32(record.timeUs % kMicrosecondsPerSecond));
    append(bytes, quint32(record.bytes.size())); // as kept
    append(bytes, quint32(record.bytes.size())); // as heard
    bytes.append(record.bytes);
    return bytes;
}

Format formatOf(const QString &path)
{
    return path.endsWith(QLatin1String(".pcap"), Qt::CaseInsensitive) ? Format::Pcap : Format::JsonLines;
}

bool save(const QString &path, const QList<LineListener::Record> &records, QString *error)
{
    return save(path, formatOf(path), records, error);
}

bool save(const QString &path, Format format, const QList<LineListener::Record> &records, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const bool pcap = format == Format::Pcap;
    if (pcap)
        file.write(pcapFileHeader());
    for (const LineListener::Record &record : records)
        file.write(pcap ? pcapRecord(record) : jsonLine(record));
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace LineCapture
