#pragma once

#include "linelistener.h"
#include "session.h"

#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <map>
#include <memory>

class QThread;

// Hears a line on a thread of its own: the port's opening (3 s for a server that does not
// answer), its waits and the framing run there, and what was heard comes to the owner in
// batches, so that a window that shows it never waits on the line. Like the listener it feeds,
// it has no way to send a byte.
class BackgroundListener : public QObject
{
    Q_OBJECT

public:
    enum class State { Idle, Opening, Listening, NotOpened, Lost, Stopped };

    // What was heard since the last take, with the counts of the whole hearing.
    struct Heard
    {
        QList<LineListener::Record> records;
        QList<LineListener::Event> events;
        std::map<quint8, LineListener::Counts> counts;
        qint64 unframedBytes = 0;
        State state = State::Idle;
        QString failure; // why the port did not open
    };

    explicit BackgroundListener(QObject *parent = nullptr);
    ~BackgroundListener() override;

    // Opens the line's port on the thread and hears it until stop() or until the port goes away.
    void start(const LineSetup &line);
    // Ends the hearing and waits for the thread, one wait for bytes at most; what it heard to the
    // end is left to take.
    void stop();

    Heard take();

    // How long the thread waits for bytes before it looks whether to stop.
    static constexpr int kWaitMs = 50;
    // At most this often arrived(), so that a busy line costs the window a few updates a second;
    // the first bytes after a quiet spell are told at once.
    static constexpr qint64 kBatchIntervalMs = 200;

signals:
    // There is something to take: bytes heard, or the state changed.
    void arrived();

private:
    void hear(const LineSetup &line);
    void hand(LineListener &listener, State state, bool now);
    void setState(State state, const QString &failure = {});

    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stopping{false};
    QElapsedTimer m_sinceArrived; // the thread's alone

    mutable QMutex m_mutex; // guards m_heard
    Heard m_heard;
};
