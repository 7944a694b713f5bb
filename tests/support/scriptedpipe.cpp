#include "scriptedpipe.h"

#include "adapter.h"
#include "linesettings.h"
#include "transport.h"

#include <deque>
#include <mutex>
#include <utility>

struct ScriptedPipe::State
{
    mutable std::mutex mutex;
    qint64 nowMs = 0;
    std::deque<Reply> replies;
    QList<QByteArray> requests;
    std::deque<std::pair<qint64, QByteArray>> scheduled; // bytes of replies under way, by arrival
    QByteArray input;                                     // arrived, not yet read
    bool hungUp = false;
    int requestsBeforeHangUp = 0; // none scripted
    int failingWrites = 0;
    int latencyAllowanceMs = 0;
    bool held = false;

    void deliverDue()
    {
        while (!scheduled.empty() && scheduled.front().first <= nowMs) {
            input += scheduled.front().second;
            scheduled.pop_front();
        }
    }

    // A reply starts after the request and after whatever is still under way before it, as a
    // device answers one request at a time.
    void answer(const QByteArray &request)
    {
        requests.append(request);
        if (requestsBeforeHangUp > 0 && --requestsBeforeHangUp == 0)
            hungUp = true;
        if (replies.empty())
            return;
        qint64 arrivalMs = scheduled.empty() ? nowMs : qMax(nowMs, scheduled.back().first);
        for (const Chunk &chunk : replies.front()) {
            arrivalMs += chunk.delayMs;
            scheduled.emplace_back(arrivalMs, chunk.bytes);
        }
        replies.pop_front();
    }
};

// The adapter's end of the pipe.
class ScriptedPipe::Port final : public Transport
{
public:
    explicit Port(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    ~Port() override { close(); }

    OpenFailure open(QString *systemText) override
    {
        const std::lock_guard lock(m_state->mutex);
        if (m_state->hungUp) {
            *systemText = QStringLiteral("the scripted pipe has hung up");
            return OpenFailure::NoDevice;
        }
        if (m_state->held) {
            *systemText = QStringLiteral("the scripted pipe is held by another adapter");
            return OpenFailure::Busy;
        }
        m_state->held = m_open = true;
        return OpenFailure::None;
    }

    void close() override
    {
        const std::lock_guard lock(m_state->mutex);
        if (m_open)
            m_state->held = m_open = false;
    }

    bool isOpen() const override
    {
        const std::lock_guard lock(m_state->mutex);
        return usable();
    }

    bool lost() const override
    {
        const std::lock_guard lock(m_state->mutex);
        return m_open && m_state->hungUp;
    }

    bool write(const QByteArray &bytes, qint64 timeoutMs) override
    {
        const std::lock_guard lock(m_state->mutex);
        if (!usable())
            return false;
        if (m_state->failingWrites > 0) {
            --m_state->failingWrites;
            m_state->nowMs += timeoutMs;
            return false;
        }
        m_state->answer(bytes);
        return true;
    }

    // To the next byte's arrival, or ms on.
    bool waitForBytes(int ms) override
    {
        const std::lock_guard lock(m_state->mutex);
        if (!usable())
            return false;
        m_state->deliverDue();
        if (!m_state->input.isEmpty())
            return true;
        const auto &scheduled = m_state->scheduled;
        if (!scheduled.empty() && scheduled.front().first <= m_state->nowMs + ms) {
            m_state->nowMs = scheduled.front().first;
            m_state->deliverDue();
            return true;
        }
        m_state->nowMs += qMax(ms, 0);
        return false;
    }

    QByteArray read(qint64 maxBytes) override
    {
        const std::lock_guard lock(m_state->mutex);
        if (!usable())
            return {};
        m_state->deliverDue();
        const QByteArray bytes = m_state->input.first(qMin(maxBytes, m_state->input.size()));
        m_state->input.remove(0, bytes.size());
        return bytes;
    }

    void discardInput(QByteArray *discarded) override
    {
        const std::lock_guard lock(m_state->mutex);
        if (!usable())
            return;
        m_state->deliverDue();
        if (discarded)
            *discarded = m_state->input;
        m_state->input.clear();
    }

    int latencyAllowanceMs() const override
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->latencyAllowanceMs;
    }

    qint64 nowMs() const override
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->nowMs;
    }

private:
    bool usable() const { return m_open && !m_state->hungUp; }

    std::shared_ptr<State> m_state;
    bool m_open = false;
};

namespace {
int pipesMade = 0;
}

ScriptedPipe::ScriptedPipe(Kind kind)
    : m_state(std::make_shared<State>()),
      m_path((kind == Kind::ModbusTcpGateway ? QStringLiteral("modbus-tcp://scripted-%1")
                                             : QStringLiteral("scripted:%1"))
                 .arg(++pipesMade))
{
    // As the real pipes do, a row that the tables lack opens nothing.
    CAdapter::setTransportSource([state = m_state, path = m_path](const QString &name, quint8 speedNumber,
                                                                  quint8 parity, quint8 stopBits)
                                     -> std::unique_ptr<Transport> {
        if (name != path)
            return CAdapter::transportFor(name, speedNumber, parity, stopBits);
        if (!LineSettings::parity(parity) || !LineSettings::stopBits(stopBits))
            return nullptr;
        return std::make_unique<Port>(state);
    });
}

ScriptedPipe::~ScriptedPipe()
{
    CAdapter::setTransportSource({});
}

void ScriptedPipe::queueReply(const Reply &reply)
{
    const std::lock_guard lock(m_state->mutex);
    m_state->replies.push_back(reply);
}

void ScriptedPipe::writeNow(const QByteArray &bytes)
{
    const std::lock_guard lock(m_state->mutex);
    m_state->input += bytes;
}

void ScriptedPipe::hangUp()
{
    const std::lock_guard lock(m_state->mutex);
    m_state->hungUp = true;
}

void ScriptedPipe::hangUpAfter(int requests)
{
    const std::lock_guard lock(m_state->mutex);
    m_state->requestsBeforeHangUp = requests;
}

void ScriptedPipe::failWrites(int count)
{
    const std::lock_guard lock(m_state->mutex);
    m_state->failingWrites = count;
}

void ScriptedPipe::setLatencyAllowanceMs(int ms)
{
    const std::lock_guard lock(m_state->mutex);
    m_state->latencyAllowanceMs = ms;
}

void ScriptedPipe::advance(qint64 ms)
{
    const std::lock_guard lock(m_state->mutex);
    m_state->nowMs += ms;
}

void ScriptedPipe::settle()
{
    const std::lock_guard lock(m_state->mutex);
    if (!m_state->scheduled.empty())
        m_state->nowMs = qMax(m_state->nowMs, m_state->scheduled.back().first);
}

qint64 ScriptedPipe::nowMs() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->nowMs;
}

QList<QByteArray> ScriptedPipe::requests() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->requests;
}

bool ScriptedPipe::isHeld() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->held;
}
