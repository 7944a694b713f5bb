#pragma once

#include "ptypeer.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

// A device played from a script on a pipe in memory, with a clock of its own: every wait of an
// exchange returns at once, and the script says on which millisecond each byte arrives, so
// that time-outs take no time and hold to the millisecond.
//
// While the pipe exists, every adapter that opens devicePath() (CAdapter, and the Session and
// the search that open one) gets this pipe, on whichever thread; one pipe at a time. Each
// request written is kept and answered with the next queued reply, chunk by chunk, each chunk
// delayMs after the one before it, the first after the request; a request with no reply queued
// meets silence. The test may script the pipe from its own thread while an exchange runs on
// another; a reply must be queued before the request it answers is written.
class ScriptedPipe
{
public:
    using Chunk = PtyPeer::Chunk;
    using Reply = PtyPeer::Reply;

    // Over a Modbus TCP gateway the adapter frames its requests as Modbus TCP, by the pipe's name.
    enum class Kind { SerialLine, ModbusTcpGateway };

    explicit ScriptedPipe(Kind kind = Kind::SerialLine);
    ~ScriptedPipe();
    ScriptedPipe(const ScriptedPipe &) = delete;
    ScriptedPipe &operator=(const ScriptedPipe &) = delete;

    QString devicePath() const { return m_path; }

    void queueReply(const Reply &reply);
    void queueReply(const QByteArray &bytes, int delayMs = 0) { queueReply(Reply{{delayMs, bytes}}); }

    // Bytes that arrive now, outside any script: the tail of a late reply, line noise.
    void writeNow(const QByteArray &bytes);
    // The pipe goes away, as an unplugged adapter would: now, or right after the next
    // `requests` requests have been written.
    void hangUp();
    void hangUpAfter(int requests);
    // The next `count` writes stall until their time-out and fail.
    void failWrites(int count);
    // What the pipe says it adds to every stage of a reply, as a serial device server's
    // network does; the script's delays stay as they are.
    void setLatencyAllowanceMs(int ms);

    // Time passes on the pipe's clock, as between two exchanges; settle() lets it pass until
    // every reply under way has arrived, so that nothing of one exchange spills into the next.
    void advance(qint64 ms);
    void settle();
    qint64 nowMs() const;

    QList<QByteArray> requests() const;
    // Whether an adapter has the pipe open now.
    bool isHeld() const;

private:
    struct State;
    class Port;

    std::shared_ptr<State> m_state;
    QString m_path;
};
