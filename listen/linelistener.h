#pragma once

#include "rtuframer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <map>
#include <optional>
#include <utility>

// What a listener hears on a line that another master drives: the frames, each request paired
// with its reply and decoded by the catalogue, and the counts of each address. It only takes
// bytes in; it has no way to send one.
class LineListener
{
public:
    enum class Direction { Request, Reply, Unframed };

    // One frame, or one run of bytes that is no frame, as a capture keeps it.
    struct Record
    {
        qint64 timeUs = 0; // when its first byte arrived
        Direction direction = Direction::Unframed;
        QByteArray bytes;
        QString decoding;
    };

    enum class EventKind {
        Exchange,            // a request and its reply, or the exception it met
        NoReply,             // a request whose reply did not come within the time-out
        BrokenReply,         // a request answered by bytes that fail their CRC
        ReplyWithoutRequest, // a reply whose request was not heard
        Unframed,            // bytes that are no frame
    };

    struct Event
    {
        EventKind kind = EventKind::Unframed;
        qint64 timeUs = 0;
        quint8 address = 0;
        QByteArray request;
        QByteArray reply;   // or the unframed bytes
        qint64 replyUs = 0; // from the end of the request to the end of its reply
        QString text;
    };

    struct Counts
    {
        qint64 requests = 0;
        qint64 replies = 0;
        qint64 timeouts = 0;
        qint64 crcErrors = 0;
        qint64 fastestUs = 0; // reply times, over `timed` replies
        qint64 slowestUs = 0;
        qint64 totalUs = 0;
        qint64 timed = 0;
        qint64 meanUs() const { return timed ? totalUs / timed : 0; }
    };

    explicit LineListener(quint32 baud);

    // The bytes of one piece as it arrived, at timeUs.
    void feed(QByteArrayView bytes, qint64 timeUs);
    // Nothing more has come up to nowUs: a request's time may be up.
    void idle(qint64 nowUs);
    // The line is no longer heard: what is left is read as it is.
    void finish();

    QList<Record> takeRecords();
    QList<Event> takeEvents();

    const std::map<quint8, Counts> &counts() const { return m_counts; }
    qint64 unframedBytes() const { return m_framer.unframedBytes(); }

    // How long a request's reply may take to come, at this speed: a silent write's 500 ms, and
    // the longest frame of 256 characters (at 1200 baud 2.3 s, at 115200 baud 24 ms).
    static qint64 replyTimeoutUs(quint32 baud);

private:
    void hearAll();
    void hear(const Rtu::HeardFrame &frame);
    void hearRequest(const Rtu::HeardFrame &request);
    void hearReply(const Rtu::HeardFrame &reply);
    void hearUnframed(const Rtu::HeardFrame &bytes);
    void expirePending(qint64 nowUs);
    void endPending(EventKind kind, const QString &outcome);
    void record(const Rtu::HeardFrame &frame, Direction direction, const QString &decoding);
    QString exchangeText(const QByteArray &request, const QByteArray &reply);

    qint64 m_replyTimeoutUs;
    Rtu::Framer m_framer;
    std::optional<Rtu::HeardFrame> m_pending; // the request awaiting its reply
    // The last value heard of each parameter of each address, by address and parameter id.
    std::map<std::pair<quint8, int>, QVariant> m_known;
    std::map<quint8, Counts> m_counts;
    QList<Record> m_records;
    QList<Event> m_events;
};
