#pragma once

#include "exchangerecord.h"
#include "linerequest.h"
#include "linesetup.h"
#include "linkthread.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <variant>


// The one owner of the line: the adapter of the open port, on a link thread of its own, and one
// queue of what goes on the line next. Whoever wants an exchange hands in a request and goes on;
// the reply comes back later as a call on the asker's thread, bound to a receiver: a receiver
// that is gone, or that cancelled, never hears of it. Nothing here waits for the line.
//
// Opens, requests and closes go to the link thread as they are given and run there one at a
// time, in that order, back to back; their outcomes come back in the same order. cancel() marks
// a receiver's requests so that the link thread leaves out those not yet begun, and lets the
// exchange under way end on the line, so that its late reply cannot be taken for the next one's;
// close() does the same to everyone's and cuts the exchange under way short, since the port it
// would answer on is closing.
class Line : public QObject
{
    Q_OBJECT

public:
    using Opened = std::function<void(const LineOpened &)>;
    using Replied = std::function<void(const LineReply &)>;

    explicit Line(QObject *parent = nullptr);
    // Closes the port; the exchange under way gives up its wait at once.
    ~Line() override;

    // Opens the port of setup, closing one that is open first, once everything queued before
    // has gone. The outcome comes to opened, bound to receiver.
    void open(const LineSetup &setup, QObject *receiver, Opened opened);
    // Drops every request not yet sent, gives up the exchange under way and closes the port.
    void close();
    // An open succeeded, and neither close() nor a lost port has ended it since.
    bool isOpen() const { return m_open; }
    // The settings of the last open.
    const LineSetup &setup() const { return m_setup; }

    // Queues request; its reply comes to replied, bound to receiver. While the line is not open
    // the reply says lrNotConnected, without touching the line.
    void request(const LineRequest &request, QObject *receiver, Replied replied);
    // Forgets every request of receiver: those queued never go out, the reply of one under way
    // is ignored.
    void cancel(const QObject *receiver);
    // Receiver has requests queued or under way.
    bool hasPending(const QObject *receiver) const;
    // Nothing is queued or under way.
    bool isIdle() const { return m_pending.empty(); }

    // Hears of every exchange that reaches the line, abandoned ones included, on this thread.
    void setObserver(ExchangeObserver observer);

signals:
    // The port went away while open (adapter unplugged, the server's connection dropped): the
    // queue is empty and the port closed. Once per open, after the reply that found it.
    void portLost();

private:
    struct Job;
    struct Shared;
    // What a job brings back: nothing (a close, or a job left out), an open's or a request's outcome.
    using Outcome = std::variant<std::monostate, LineOpened, LineReply>;
    using Work = std::function<Outcome(Shared &shared, quint64 sequence)>;

    // Hands job to the link thread, where work runs unless the job was left out meanwhile, and
    // what work returns runs back here once it is over.
    void enqueue(Job job, Work work);
    void finish(quint64 sequence, const Outcome &outcome);
    void dropAll();
    static bool heard(const Job &job);
    void openFinished(const Job &job, const LineOpened &opened);
    void requestFinished(const Job &job, const LineReply &reply);
    void relay(const ExchangeRecord &record);

    // On the link thread.
    static LineOpened openOn(Shared &shared, const LineSetup &setup);
    static LineReply exchangeOn(Shared &shared, const LineRequest &request, quint64 sequence);
    static void closeOn(Shared &shared);

    std::shared_ptr<Shared> m_shared; // the adapter and what the link thread looks at
    std::deque<Job> m_pending;        // handed to the link thread, their outcomes not yet back
    quint64 m_nextSequence = 1;
    bool m_open = false;
    bool m_lossReported = false;
    LineSetup m_setup;
    ExchangeObserver m_observer;
    LinkThread m_link; // last: its jobs end before the rest goes
};
