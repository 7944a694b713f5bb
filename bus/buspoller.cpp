#include "buspoller.h"

#include "catalogue.h"
#include "resultcodes.h"
#include "session.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <array>

namespace Bus {

void RoundRobin::setAddresses(const QList<quint8> &addresses)
{
    m_turns.clear();
    for (quint8 address : addresses)
        m_turns.append({address, 0, 0, std::nullopt, false});
    m_next = 0;
}

QList<quint8> RoundRobin::addresses() const
{
    QList<quint8> addresses;
    for (const Turn &turn : m_turns)
        addresses << turn.address;
    return addresses;
}

void RoundRobin::setSilent(quint8 address)
{
    if (Turn *turn = find(address)) {
        turn->misses = kMissesBeforeSilent;
        turn->retryAtMs = 0;
    }
}

std::optional<quint8> RoundRobin::next(qint64 nowMs)
{
    // The budget has room for one retry at a time, and it goes to the silent unit that has
    // waited longest past its due time: taken in the round's order, twenty-nine silent units
    // behind one that answers would have the budget spent on the first few of them for good.
    std::optional<qsizetype> firstInLine;
    if (retryFits()) {
        for (qsizetype at = 0; at < m_turns.size(); ++at) {
            const Turn &turn = m_turns[at];
            if (silent(turn) && turn.retryAtMs <= nowMs && !turn.startedMs
                && (!firstInLine || turn.retryAtMs < m_turns[*firstInLine].retryAtMs))
                firstInLine = at;
        }
    }
    for (qsizetype tried = 0; tried < m_turns.size(); ++tried) {
        const qsizetype at = (m_next + tried) % m_turns.size();
        Turn &turn = m_turns[at];
        if (!silent(turn) || at == firstInLine) {
            turn.startedMs = nowMs;
            turn.retrying = silent(turn);
            m_next = (at + 1) % m_turns.size();
            return turn.address;
        }
    }
    return std::nullopt;
}

bool RoundRobin::someAnswer() const
{
    return std::any_of(m_turns.begin(), m_turns.end(), [](const Turn &turn) { return !silent(turn); });
}

// A retry fits while the retries so far and one more like the last stay within the budget's
// share of the line's time with it: one retry of 105 ms in 2 s of the line, a second would make
// 210 ms of 2.105 s, 10 %; it waits until the line's time is 4.095 s, and then makes 5 %.
bool RoundRobin::retryFits() const
{
    if (!someAnswer())
        return true; // no one's pace to keep
    return (m_retryMs + m_lastRetryCostMs) * 100 <= (m_lineMs + m_lastRetryCostMs) * kRetryBudgetPercent;
}

// A poll's time counts for the line while some unit answers; a retry's, for the budget too.
void RoundRobin::ended(Turn &turn, qint64 nowMs)
{
    if (!turn.startedMs)
        return;
    const qint64 tookMs = std::max<qint64>(nowMs - *turn.startedMs, 0);
    turn.startedMs.reset();
    if (!someAnswer())
        return;
    m_lineMs += tookMs;
    if (turn.retrying) {
        m_retryMs += tookMs;
        m_lastRetryCostMs = tookMs;
    }
}

RoundRobin::Turn *RoundRobin::find(quint8 address)
{
    const auto found = std::find_if(m_turns.begin(), m_turns.end(), [address](const Turn &t) { return t.address == address; });
    return found == m_turns.end() ? nullptr : &*found;
}

void RoundRobin::answered(quint8 address, qint64 nowMs)
{
    if (Turn *turn = find(address)) {
        turn->misses = 0;
        ended(*turn, nowMs);
    }
}

void RoundRobin::missed(quint8 address, qint64 nowMs)
{
    Turn *turn = find(address);
    if (!turn)
        return;
    ++turn->misses;
    ended(*turn, nowMs);
    if (!silent(*turn))
        return;
    // 1 s after the miss that made it silent, doubling with each miss after it.
    const int doublings = std::min(turn->misses - kMissesBeforeSilent, 4);
    turn->retryAtMs = nowMs + std::min(kFirstRetryMs << doublings, kLongestRetryMs);
}

bool RoundRobin::isSilent(quint8 address) const
{
    const auto found = std::find_if(m_turns.begin(), m_turns.end(), [address](const Turn &t) { return t.address == address; });
    return found != m_turns.end() && silent(*found);
}

std::optional<qint64> RoundRobin::nextDueMs() const
{
    std::optional<qint64> due;
    for (const Turn &turn : m_turns) {
        if (!silent(turn))
            return std::nullopt;
        due = std::min(due.value_or(turn.retryAtMs), turn.retryAtMs);
    }
    return due;
}

Poller::Poller(Session &session, QObject *parent)
    : QObject(parent), m_session(session), m_timer(new QTimer(this))
{
    auto steady = std::make_shared<QElapsedTimer>();
    steady->start();
    m_clock = [steady] { return steady->elapsed(); };
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Poller::step);
}

Poller::~Poller()
{
    m_session.cancel(this);
}

void Poller::setUnits(const QList<Unit> &units)
{
    m_units = units;
    QList<quint8> addresses;
    for (const Unit &unit : units)
        addresses << unit.address;
    m_turns.setAddresses(addresses);
    m_readApart.clear();
    for (const Unit &unit : units) {
        if (unit.silent)
            m_turns.setSilent(unit.address);
    }
}

void Poller::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void Poller::start()
{
    if (m_running)
        return;
    m_running = true;
    step();
}

void Poller::stop()
{
    m_running = false;
    m_timer->stop();
    m_session.cancel(this);
}

// The next unit's poll, or, while every unit is silent, a wait until the first is due again.
void Poller::step()
{
    if (!m_running || pollNext())
        return;
    if (const std::optional<qint64> due = m_turns.nextDueMs())
        m_timer->start(int(std::clamp<qint64>(*due - m_clock(), 0, kLongestRetryMs)));
}

int Poller::rowOf(quint8 address) const
{
    for (int row = 0; row < m_units.size(); ++row) {
        if (m_units[row].address == address)
            return row;
    }
    return -1;
}

namespace {

// The values of a unit's poll, in the order its separate reads go out.
const std::array<TParamId, 4> kPolledValues{prmDataCur, prmDataTxt, prmSelfDiag, prmEEPROMErr};

// The unit refuses the one read, where another that does not answer is only silent: an
// exception, or a reply that is no whole answer to it.
bool refusesTogether(const LineReply &reply, quint16 count)
{
    return reply.code == lrDeviceError || reply.code == lrWrongReply || reply.code == lrIncomplete
        || (reply.code >= lrOk && reply.registers.size() < count);
}

} // namespace

RegisterSpan polledRegisters()
{
    quint16 first = 0xFFFF;
    int end = 0;
    for (TParamId id : kPolledValues) {
        const Catalogue::Parameter &parameter = Catalogue::of(id);
        first = std::min(first, parameter.firstRegister());
        end = std::max(end, parameter.firstRegister() + parameter.registerCount());
    }
    return {first, quint16(end - first)};
}

// A poll under way: the unit as it was, and what its reads have brought so far.
struct Poll
{
    Unit unit;
    std::size_t next = 0;
    bool answered = false;
    std::array<std::optional<QVariant>, kPolledValues.size()> values;
};

bool Poller::pollNext()
{
    const std::optional<quint8> address = m_turns.next(m_clock());
    const int row = address ? rowOf(*address) : -1;
    if (row < 0)
        return false;
    auto poll = std::make_shared<Poll>();
    poll->unit = m_units[row];
    poll->unit.lastCode = lrOk;
    if (m_readApart.contains(*address))
        readNext(poll);
    else
        readTogether(poll);
    return true;
}

// Every value of the poll from one reply; a unit that refuses it is read apart at once, in this
// poll already.
void Poller::readTogether(std::shared_ptr<Poll> poll)
{
    if (!m_session.isConnected()) {
        poll->unit.lastCode = lrNotConnected;
        pollDone(*poll);
        return;
    }
    static const RegisterSpan span = polledRegisters();
    const LineRequest request = LineRequest::read(poll->unit.address, span.first, span.count);
    m_session.lineOwner().request(request, this, [this, poll](const LineReply &reply) {
        if (refusesTogether(reply, span.count)) {
            m_readApart.insert(poll->unit.address);
            readNext(poll);
            return;
        }
        if (reply.code < lrOk) {
            poll->unit.lastCode = reply.code;
        } else {
            poll->answered = true;
            for (std::size_t k = 0; k < kPolledValues.size(); ++k) {
                const Catalogue::Parameter &parameter = Catalogue::of(kPolledValues[k]);
                poll->values[k] = Catalogue::decode(parameter, reply.registers.data() + (parameter.firstRegister() - span.first));
            }
        }
        pollDone(*poll);
    });
}

// The reads apart, in turn; once the line has said nothing, the rest would only wait as long again.
void Poller::readNext(std::shared_ptr<Poll> poll)
{
    if (poll->next == kPolledValues.size() || LineFailed(poll->unit.lastCode)) {
        pollDone(*poll);
        return;
    }
    const Catalogue::Parameter &parameter = Catalogue::of(kPolledValues[poll->next]);
    const bool asked = m_session.readValueAt(
        poll->unit.address, parameter, this,
        [this, poll](const Session::Reading &reading) {
            if (reading.code < lrOk) {
                if (poll->unit.lastCode == lrOk)
                    poll->unit.lastCode = reading.code;
            } else {
                poll->answered = true;
                poll->values[poll->next] = reading.value;
            }
            ++poll->next;
            readNext(poll);
        },
        Session::Reporting::Gathered);
    if (!asked) {
        poll->unit.lastCode = lrNotConnected;
        pollDone(*poll);
    }
}

// The poll's values into its unit, unless the unit has gone (setUnits) meanwhile; then the next.
void Poller::pollDone(const Poll &poll)
{
    Unit unit = poll.unit;
    const auto &[value, text, selfDiag, eeprom] = poll.values;
    unit.value = value ? std::optional(value->toDouble()) : std::nullopt;
    if (text)
        unit.text = text->toString();
    unit.selfDiag = selfDiag ? std::optional(quint16(selfDiag->toUInt())) : std::nullopt;
    unit.eepromErrors = eeprom ? std::optional(quint16(eeprom->toUInt())) : std::nullopt;
    const int row = rowOf(unit.address);
    if (row >= 0) {
        if (poll.answered)
            m_turns.answered(unit.address, m_clock());
        else
            m_turns.missed(unit.address, m_clock());
        unit.silent = m_turns.isSilent(unit.address);
        unit.polledAtMs = m_clock();
        m_units[row] = unit;
        emit unitPolled(row);
    }
    step();
}

} // namespace Bus
