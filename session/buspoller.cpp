#include "buspoller.h"

#include "catalogue.h"
#include "resultcodes.h"
#include "session.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

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

namespace {

const Catalogue::Parameter &valueParameter() { return Catalogue::of(prmDataCur); }
const Catalogue::Parameter &textParameter() { return Catalogue::of(prmDataTxt); }
const Catalogue::Parameter &selfDiagParameter() { return Catalogue::of(prmSelfDiag); }
const Catalogue::Parameter &eepromParameter() { return Catalogue::of(prmEEPROMErr); }

} // namespace

Poller::Poller(Session &session, QObject *parent)
    : QObject(parent), m_session(session), m_timer(new QTimer(this))
{
    auto steady = std::make_shared<QElapsedTimer>();
    steady->start();
    m_clock = [steady] { return steady->elapsed(); };
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Poller::step);
}

Poller::Poller(std::shared_ptr<Session> session) : Poller(*session)
{
    m_ownSession = std::move(session);
}

Poller::~Poller() = default;

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
    m_running = true;
    m_timer->start(0);
}

void Poller::stop()
{
    m_running = false;
    m_timer->stop();
}

// Each poll once the one before is over: a poll's wait serves events, this timer's among them.
void Poller::step()
{
    if (!m_running)
        return;
    const std::shared_ptr<Poller> keep = weak_from_this().lock(); // and with it the session
    const std::optional<int> row = pollNext();
    if (!m_running)
        return; // stopped while the poll waited
    if (row) {
        m_timer->start(0);
        return;
    }
    // Nothing due and nothing silent: there are no units to poll.
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

std::optional<int> Poller::pollNext()
{
    const std::optional<quint8> address = m_turns.next(m_clock());
    const int row = address ? rowOf(*address) : -1;
    if (row < 0)
        return std::nullopt;
    const bool answered = pollUnit(m_units[row]);
    // The unit may have gone (setUnits) while its poll waited.
    if (row >= m_units.size() || m_units[row].address != *address)
        return std::nullopt;
    if (answered)
        m_turns.answered(*address);
    else
        m_turns.missed(*address, m_clock());
    Unit &unit = m_units[row];
    unit.silent = m_turns.isSilent(*address);
    unit.polledAtMs = m_clock();
    emit unitPolled(row);
    return row;
}

// The four reads in turn; once the line has said nothing, the rest would only wait as long
// again. False when the unit did not answer at all.
bool Poller::pollUnit(Unit &polled)
{
    const quint8 address = polled.address;
    m_session.setDeviceNumber(address);
    Unit unit = polled;
    unit.lastCode = lrOk;
    bool answered = false;
    const auto readOne = [&](const Catalogue::Parameter &parameter) -> std::optional<QVariant> {
        if (LineFailed(unit.lastCode))
            return std::nullopt;
        const std::optional<Session::Reading> reading = m_session.readValue(parameter, Session::Reporting::Gathered);
        const qint16 code = reading ? reading->code : qint16(lrNotConnected);
        if (code < lrOk) {
            if (unit.lastCode == lrOk)
                unit.lastCode = code;
            return std::nullopt;
        }
        answered = true;
        return reading->value;
    };
    const std::optional<QVariant> value = readOne(valueParameter());
    const std::optional<QVariant> text = readOne(textParameter());
    const std::optional<QVariant> selfDiag = readOne(selfDiagParameter());
    const std::optional<QVariant> eeprom = readOne(eepromParameter());
    unit.value = value ? std::optional(value->toDouble()) : std::nullopt;
    if (text)
        unit.text = text->toString();
    unit.selfDiag = selfDiag ? std::optional(quint16(selfDiag->toUInt())) : std::nullopt;
    unit.eepromErrors = eeprom ? std::optional(quint16(eeprom->toUInt())) : std::nullopt;

    const int row = rowOf(address);
    if (row >= 0)
        m_units[row] = unit;
    return answered;
}

} // namespace Bus
