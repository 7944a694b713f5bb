#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <memory>
#include <optional>

// A second pseudo-terminal that carries every byte of the line, both ways, as a listener on
// the RS-485 pair hears them. It never holds the line up: while no one has it open, or while
// its listener does not read, the bytes are dropped, as a receiver that is not there or is
// overrun loses them. What a listener writes is thrown away: a listener never drives the line.
// Used from one thread, the relay's.
class LineTap
{
public:
    using Clock = std::chrono::steady_clock;

    // A tap that delivers the bytes as they cross the line, or, with `pieceSeed`, in random
    // pieces with random gaps as a USB adapter does, the same on every run with one seed.
    // Null with `error` set.
    static std::unique_ptr<LineTap> open(std::optional<quint32> pieceSeed, QString *error);

    ~LineTap();
    LineTap(const LineTap &) = delete;
    LineTap &operator=(const LineTap &) = delete;

    // The device a listener opens.
    QString path() const { return m_path; }
    // The descriptor to wait on for what a listener writes and for its leaving; -1 while no
    // one listens, so that a waiting loop does not spin on the hang-up.
    int descriptor() const { return m_listening ? m_fd : -1; }

    // Bytes that have just crossed the line.
    void hear(const char *bytes, qsizetype size);
    // Delivers what is due, throws away what a listener wrote, notices a listener come and
    // go. Returns how soon to call it again; nothing: only when something happens.
    std::optional<Clock::duration> serve();

private:
    LineTap() = default;
    bool listenerPresent() const;
    void noticeListener();
    void forgetLeftovers();
    void ignoreListener();
    void deliver();
    bool put(const char *bytes, qsizetype size);
    qsizetype nextPieceSize();
    Clock::duration nextGap();

    int m_fd = -1;
    QString m_path;
    bool m_listening = false;
    QByteArray m_pending;
    std::optional<QRandomGenerator> m_pieces;
    Clock::time_point m_nextPiece;
};
