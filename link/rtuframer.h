#pragma once

#include "rtuframe.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace Rtu {

// What a run of bytes heard on the line turned out to be.
enum class FrameKind { ReadRequest, WriteRequest, ReadReply, WriteReply, Exception, Unframed };

struct HeardFrame
{
    FrameKind kind = FrameKind::Unframed;
    QByteArray bytes;
    qint64 startUs = 0; // when the piece that brought its first byte arrived
    qint64 endUs = 0;   // when the piece that brought its last byte arrived

    bool isRequest() const { return kind == FrameKind::ReadRequest || kind == FrameKind::WriteRequest; }
    bool isReply() const { return !isRequest() && kind != FrameKind::Unframed; }
    quint8 address() const { return quint8(bytes[0]); }
    // The function asked for; an exception reply gives the function it answers.
    quint8 function() const { return quint8(bytes[1]) & ~exceptionFlag; }
};

// Splits the bytes heard on a line into frames by the protocol, not by the silence between
// them: USB adapters hand bytes over in pieces of their own (16 ms of them, or 32 bytes), so a
// frame may arrive cut anywhere and two frames in one piece. At each position a request and a
// reply are tried, each with the length its header gives, and the one whose CRC verifies is
// taken; a request just heard predicts its reply's length. Bytes where nothing verifies are
// kept as unframed, one byte at a time, until a frame starts again.
class Framer
{
public:
    // replyTimeoutUs: how long after a request its reply may begin; later, the next bytes are
    // read as a request first.
    explicit Framer(qint64 replyTimeoutUs);

    // Bytes in the order heard, with the time their piece arrived.
    void feed(QByteArrayView bytes, qint64 timestampUs);
    // Nothing more has arrived up to nowUs: a frame still begun after stalePieceUs of silence is
    // given up, and its bytes read as they are.
    void idle(qint64 nowUs);
    // The stream has ended: what is left is read as it is.
    void finish();

    // Frames and unframed runs in the order heard, since the last take.
    QList<HeardFrame> take();
    qint64 unframedBytes() const { return m_unframedTotal; }

    // Longest frame of Modbus RTU: 256 bytes. A run of unframed bytes is handed on at this size.
    static constexpr int kLongestFrame = 256;
    // Silence after which bytes waiting for the rest of a frame are read as they are: well
    // above the 16 ms that an FTDI adapter holds bytes back, or a loaded machine's delay.
    static constexpr qint64 kStaleUs = 200'000;

private:
    struct Reading
    {
        enum { Frame, Wait, None } outcome;
        FrameKind kind = FrameKind::Unframed;
        int length = 0;
    };

    void scan(bool final);
    Reading readAt(qsizetype position, bool final) const;
    void accept(FrameKind kind, int length);
    void dropByte();
    void handOnUnframed();

    qint64 m_replyTimeoutUs;
    QByteArray m_bytes;          // heard and not yet read, from m_position on
    std::vector<qint64> m_times; // the arrival of each byte of m_bytes
    qsizetype m_position = 0;
    HeardFrame m_unframed;       // the run of unframed bytes under way
    QList<HeardFrame> m_out;
    qint64 m_unframedTotal = 0;

    // The reply the last request asks for, until it comes or its time is up.
    struct Expected
    {
        quint8 address;
        quint8 function;
        int length;
        qint64 deadlineUs;
    };
    std::optional<Expected> m_expected;
};

} // namespace Rtu
