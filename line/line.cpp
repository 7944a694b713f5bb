#include "line.h"

#include "adapter.h"

#include <algorithm>

// What the link thread owns, and the one thing the asking thread may touch while an exchange is
// under way: the mark below which sequence numbers are given up.
struct Line::Shared
{
    std::unique_ptr<CAdapter> adapter; // the link thread's alone
    std::atomic<quint64> abandonedBelow{0};
};

// One entry of the queue: what to do on the line, and whom to tell.
struct Line::Job
{
    enum class Kind { Open, Request, Close };
    Kind kind = Kind::Request;
    quint64 sequence = 0;
    const QObject *owner = nullptr; // compared only, never followed
    QPointer<QObject> receiver;
    LineSetup setup;
    LineRequest request;
    Opened opened;
    Replied replied;
    bool cancelled = false;
};

Line::Line(QObject *parent) : QObject(parent), m_shared(std::make_shared<Shared>()) {}

Line::~Line()
{
    close();
    // The link thread ends once the close has run; what it still sends back finds no Line.
}

void Line::open(const LineSetup &setup, QObject *receiver, Opened opened)
{
    Job job;
    job.kind = Job::Kind::Open;
    job.owner = receiver;
    job.receiver = receiver;
    job.setup = setup;
    job.opened = std::move(opened);
    m_setup = setup;
    enqueue(std::move(job));
}

void Line::close()
{
    dropQueue();
    if (m_current) {
        m_current->cancelled = true;
        m_shared->abandonedBelow = m_nextSequence;
    }
    m_open = false;
    Job job;
    job.kind = Job::Kind::Close;
    enqueue(std::move(job));
}

void Line::request(const LineRequest &request, QObject *receiver, Replied replied)
{
    Job job;
    job.owner = receiver;
    job.receiver = receiver;
    job.request = request;
    job.replied = std::move(replied);
    enqueue(std::move(job));
}

void Line::cancel(const QObject *receiver)
{
    std::erase_if(m_queue, [receiver](const Job &job) { return job.owner == receiver; });
    if (m_current && m_current->owner == receiver)
        m_current->cancelled = true;
}

bool Line::hasPending(const QObject *receiver) const
{
    if (m_current && !m_current->cancelled && m_current->owner == receiver)
        return true;
    return std::any_of(m_queue.begin(), m_queue.end(), [receiver](const Job &job) { return job.owner == receiver; });
}

void Line::enqueue(Job job)
{
    job.sequence = m_nextSequence++;
    m_queue.push_back(std::move(job));
    sendNext();
}

// One job on the link thread at a time; its outcome comes back as a queued call, which hands
// the next one over.
void Line::sendNext()
{
    if (m_current || m_queue.empty())
        return;
    m_current = std::make_unique<Job>(std::move(m_queue.front()));
    m_queue.pop_front();
    const Job &job = *m_current;
    const std::shared_ptr<Shared> shared = m_shared;
    const QPointer<Line> self(this);
    // Queued to this thread, where a Line destroyed meanwhile drops it.
    const auto answer = [self, sequence = job.sequence](std::function<void()> deliver) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, sequence, deliver = std::move(deliver)] {
                if (self)
                    self->finish(sequence, deliver);
            },
            Qt::QueuedConnection);
    };
    switch (job.kind) {
    case Job::Kind::Open:
        m_link.post([self, shared, setup = job.setup, answer] {
            const LineOpened opened = openOn(*shared, setup);
            if (shared->adapter)
                shared->adapter->setObserver([self](const ExchangeRecord &record) {
                    QMetaObject::invokeMethod(
                        self.data(),
                        [self, record] {
                            if (self)
                                self->relay(record);
                        },
                        Qt::QueuedConnection);
                });
            answer([self, opened] { self->openFinished(opened); });
        });
        break;
    case Job::Kind::Request:
        m_link.post([self, shared, request = job.request, sequence = job.sequence, answer] {
            const LineReply reply = exchangeOn(*shared, request, sequence);
            answer([self, reply] { self->requestFinished(reply); });
        });
        break;
    case Job::Kind::Close:
        m_link.post([shared, answer] {
            closeOn(*shared);
            answer([] {});
        });
        break;
    }
}

void Line::finish(quint64 sequence, const std::function<void()> &deliver)
{
    if (!m_current || m_current->sequence != sequence)
        return;
    deliver();
    m_current.reset();
    sendNext();
}

bool Line::heard(const Job &job)
{
    return job.receiver && !job.cancelled;
}

void Line::openFinished(const LineOpened &opened)
{
    m_open = opened.opened;
    m_lossReported = false;
    if (heard(*m_current) && m_current->opened)
        m_current->opened(opened);
}

// A lost port has closed itself on the link thread: what was queued behind the reply that found
// it would only fail in turn.
void Line::requestFinished(const LineReply &reply)
{
    const bool lostNow = reply.portLost && m_open;
    if (lostNow) {
        m_open = false;
        dropQueue();
    }
    if (heard(*m_current) && m_current->replied)
        m_current->replied(reply);
    if (lostNow && !m_lossReported) {
        m_lossReported = true;
        QMetaObject::invokeMethod(this, &Line::portLost, Qt::QueuedConnection);
    }
}

void Line::dropQueue()
{
    m_queue.clear();
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
