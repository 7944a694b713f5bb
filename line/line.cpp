#include "line.h"

#include "adapter.h"

#include <algorithm>

// What the link thread owns, and the one thing the asking thread may touch while an exchange is
// under way: the mark below which sequence numbers are given up.
struct Line::Shared
{
    std::unique_ptr<CAdapter> adapter; // the link thread's alone
    std::atomic<quint64> abandonedBelow{0};
    // Someone listens for exchange records: without one, a request costs one hand-over back,
    // its reply, and no second one for its record.
    std::atomic<bool> observed{false};
};

// One job handed to the link thread: whom to tell of its outcome, and whether it still counts.
struct Line::Job
{
    enum class Kind { Open, Request, Close };
    Kind kind = Kind::Request;
    quint64 sequence = 0;
    const QObject *owner = nullptr; // compared only, never followed
    QPointer<QObject> receiver;
    Opened opened;
    Replied replied;
    // Set here when the job no longer counts; the link thread leaves it out if it has not begun.
    std::shared_ptr<std::atomic<bool>> leftOut = std::make_shared<std::atomic<bool>>(false);
    bool cancelled = false;

    void cancel()
    {
        cancelled = true;
        *leftOut = true;
    }
};

Line::Line(QObject *parent) : QObject(parent), m_shared(std::make_shared<Shared>()) {}

// The link thread ends once the close has run; what it still sends back finds no Line.
Line::~Line()
{
    close();
}

void Line::open(const LineSetup &setup, QObject *receiver, Opened opened)
{
    Job job;
    job.kind = Job::Kind::Open;
    job.owner = receiver;
    job.receiver = receiver;
    job.opened = std::move(opened);
    m_setup = setup;
    const QPointer<Line> self(this);
    enqueue(std::move(job), [self, setup](Shared &shared, quint64) -> Outcome {
        const LineOpened opened = openOn(shared, setup);
        if (shared.adapter)
            shared.adapter->setObserver([self, &observed = shared.observed](const ExchangeRecord &record) {
                if (!observed)
                    return;
                QMetaObject::invokeMethod(
                    self.data(),
                    [self, record] {
                        if (self)
                            self->relay(record);
                    },
                    Qt::QueuedConnection);
            });
        return opened;
    });
}

void Line::close()
{
    dropAll();
    m_shared->abandonedBelow = m_nextSequence;
    m_open = false;
    Job job;
    job.kind = Job::Kind::Close;
    enqueue(std::move(job), [](Shared &shared, quint64) -> Outcome {
        closeOn(shared);
        return {};
    });
}

void Line::request(const LineRequest &request, QObject *receiver, Replied replied)
{
    Job job;
    job.owner = receiver;
    job.receiver = receiver;
    job.replied = std::move(replied);
    enqueue(std::move(job), [request](Shared &shared, quint64 sequence) -> Outcome {
        return exchangeOn(shared, request, sequence);
    });
}

void Line::cancel(const QObject *receiver)
{
    for (Job &job : m_pending) {
        if (job.owner == receiver)
            job.cancel();
    }
}

bool Line::hasPending(const QObject *receiver) const
{
    return std::any_of(m_pending.begin(), m_pending.end(),
                       [receiver](const Job &job) { return !job.cancelled && job.owner == receiver; });
}

// The link thread runs its jobs in the order they were posted, so the outcomes come back in the
// order of m_pending. A job left out, or given up by a close after it, never touches the line;
// a close always runs.
void Line::enqueue(Job job, Work work)
{
    job.sequence = m_nextSequence++;
    const QPointer<Line> self(this);
    const bool mayBeLeftOut = job.kind != Job::Kind::Close;
    m_link.post([self, shared = m_shared, sequence = job.sequence, leftOut = job.leftOut, mayBeLeftOut,
                 work = std::move(work)] {
        const bool skipped = mayBeLeftOut && (*leftOut || sequence < shared->abandonedBelow);
        Outcome outcome = skipped ? Outcome() : work(*shared, sequence);
        QMetaObject::invokeMethod(
            self.data(),
            [self, sequence, outcome = std::move(outcome)] {
                if (self)
                    self->finish(sequence, outcome);
            },
            Qt::QueuedConnection);
    });
    m_pending.push_back(std::move(job));
}

// Taken off the list before its asker hears of it, so that the asker may queue, cancel or close.
void Line::finish(quint64 sequence, const Outcome &outcome)
{
    if (m_pending.empty() || m_pending.front().sequence != sequence)
        return;
    const Job job = std::move(m_pending.front());
    m_pending.pop_front();
    if (const auto *opened = std::get_if<LineOpened>(&outcome))
        openFinished(job, *opened);
    else if (const auto *reply = std::get_if<LineReply>(&outcome))
        requestFinished(job, *reply);
}

void Line::dropAll()
{
    for (Job &job : m_pending)
        job.cancel();
}

bool Line::heard(const Job &job)
{
    return job.receiver && !job.cancelled;
}

void Line::openFinished(const Job &job, const LineOpened &opened)
{
    m_open = opened.opened;
    m_lossReported = false;
    if (heard(job) && job.opened)
        job.opened(opened);
}

// A lost port has closed itself on the link thread: what was queued behind the reply that found
// it would only fail in turn.
void Line::requestFinished(const Job &job, const LineReply &reply)
{
    const bool lostNow = reply.portLost && m_open;
    if (lostNow) {
        m_open = false;
        dropAll();
    }
    if (heard(job) && job.replied)
        job.replied(reply);
    if (lostNow && !m_lossReported) {
        m_lossReported = true;
        QMetaObject::invokeMethod(this, &Line::portLost, Qt::QueuedConnection);
    }
}

void Line::setObserver(ExchangeObserver observer)
{
    m_observer = std::move(observer);
    m_shared->observed = bool(m_observer);
}

void Line::relay(const ExchangeRecord &record)
{
    if (m_observer)
        m_observer(record);
}

// ---- On the link thread ----

LineOpened Line::openOn(Shared &shared, const LineSetup &setup)
{
    closeOn(shared);
    auto adapter = std::make_unique<CAdapter>();
    adapter->PortNumber = setup.portNumber;
    adapter->SpeedNumber = setup.speedNumber;
    adapter->TimeOut = setup.timeOut;
    adapter->Parity = setup.parity;
    adapter->StopBits = setup.stopBits;
    adapter->PortName = setup.portName;
    LineOpened opened;
    opened.portName = setup.portName.isEmpty() ? CAdapter::PlatformPortName(setup.portNumber) : setup.portName;
    if (adapter->Open() != 0) {
        opened.failure = adapter->OpenError;
        opened.systemText = adapter->OpenErrorText;
        return opened;
    }
    adapter->Connected = true;
    opened.opened = true;
    shared.adapter = std::move(adapter);
    return opened;
}

LineReply Line::exchangeOn(Shared &shared, const LineRequest &request, quint64 sequence)
{
    LineReply reply;
    CAdapter *adapter = shared.adapter.get();
    if (!adapter || !adapter->Connected)
        return reply;
    adapter->setInterruption([&shared, sequence] { return sequence < shared.abandonedBelow; });
    adapter->ReadTimeoutMs = request.readTimeoutMs;
    if (request.function == LineRequest::Function::ReadHoldingRegisters) {
        reply.registers.resize(request.count);
        reply.code = adapter->ReadRegisters(request.slave, request.firstRegister, request.count, reply.registers.data());
        if (reply.code < lrOk)
            reply.registers.clear();
    } else {
        reply.code = adapter->WriteRegisters(request.slave, request.firstRegister, quint16(request.values.size()),
                                             request.values.data());
    }
    adapter->setInterruption({});
    reply.exception = adapter->LastException;
    if (reply.code < lrOk && adapter->PortLost()) {
        reply.portLost = true;
        closeOn(shared);
    }
    return reply;
}

void Line::closeOn(Shared &shared)
{
    if (!shared.adapter)
        return;
    shared.adapter->Close();
    shared.adapter.reset();
}
