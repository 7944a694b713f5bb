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
        m_turns.append({address, 0, 0});
    m_next = 0;
}

QList<quint8> RoundRobin::addresses() const
{
    QList<quint8> addresses;
    for (const Turn &turn : m_turns)
        addresses << turn.address;
    return addresses;
}

std::optional<quint8> RoundRobin::next(qint64 nowMs)
{
    for (qsizetype tried = 0; tried < m_turns.size(); ++tried) {
        const qsizetype at = (m_next + tried) % m_turns.size();
        const Turn &turn = m_turns[at];
        if (!silent(turn) || turn.retryAtMs <= nowMs) {
            m_next = (at + 1) % m_turns.size();
            return turn.address;
        }
    }
    return std::nullopt;
}

RoundRobin::Turn *RoundRobin::find(quint8 address)
{
    const auto found = std::find_if(m_turns.begin(), m_turns.end(), [address](const Turn &t) { return t.address == address; });
    return found == m_turns.end() ? nullptr : &*found;
}

void RoundRobin::answered(quint8 address)
{
    if (Turn *turn = find(address))
        turn->misses = 0;
}

void RoundRobin::missed(quint8 address, qint64 nowMs)
{
    Turn *turn = find(address);
    if (!turn)
        return;
    ++turn->misses;
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

// The reads of a unit's poll, in the order they go out.
const std::array<TParamId, 4> kPolledValues{prmDataCur, prmDataTxt, prmSelfDiag, prmEEPROMErr};

} // namespace

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
    readNext(poll);
    return true;
}

// The reads in turn; once the line has said nothing, the rest would only wait as long again.
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
            m_turns.answered(unit.address);
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
