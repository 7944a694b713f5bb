#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <chrono>

// Why a pipe did not open; SystemError for a reason without a name of its own, with the
// system's words beside it.
enum class OpenFailure {
    None,
    LineSettings,
    NoDevice,
    Busy,
    NoPermission,
    SystemError,
    BadAddress,   // a tcp:// name that is no HOST:PORT
    HostNotFound, // the server's name does not resolve
    NoAnswer,     // the server does not answer within the connect time-out
    Refused,      // nothing listens on the server's port
};

// The byte pipe under the exchanges: a serial port, or a TCP connection to a serial device
// server that passes the bytes on to the line. The pipe only moves bytes; the frames, the
// time-outs and the order of the stages are the exchange's, the same for every pipe. The
// time-outs run on the pipe's clock, so that a pipe that plays a device from a script can play
// its time as well.
class Transport
{
public:
    virtual ~Transport() = default;

    // OpenFailure::None when the pipe is ready; otherwise nothing is left open, and
    // systemText holds the system's own words for the failure.
    virtual OpenFailure open(QString *systemText) = 0;
    // Only the owner's call; the pipe stays closed, and is not lost, afterwards.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The pipe went away while open and the owner did not close it: an adapter unplugged, the
    // far end of a pseudo-terminal closed, the server's connection dropped.
    virtual bool lost() const = 0;

    // Hands the bytes over and waits, at most timeoutMs, until they have left this computer.
    virtual bool write(const QByteArray &bytes, qint64 timeoutMs) = 0;
    // Waits up to ms for bytes not yet read; false when none came or the pipe failed.
    virtual bool waitForBytes(int ms) = 0;
    // What has arrived, at most maxBytes, without waiting.
    virtual QByteArray read(qint64 maxBytes) = 0;
    // Throws away what has arrived and has not been read; with `discarded`, hands it over.
    virtual void discardInput(QByteArray *discarded) = 0;

    // Added to every stage of a reply, and to the silence allowed between its bytes, for the
    // time the pipe itself takes to pass them on.
    virtual int latencyAllowanceMs() const { return 0; }

    // Milliseconds on the clock that waitForBytes and write wait by; only differences count.
    virtual qint64 nowMs() const { return steadyNowMs(); }
    // The system's monotonic clock, which no change of the wall clock moves.
    static qint64 steadyNowMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};
