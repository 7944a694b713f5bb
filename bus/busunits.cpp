#include "busunits.h"

#include "catalogue.h"
#include "resultcodes.h"

#include <algorithm>

using namespace DeviceSearch;

BusUnits::BusUnits(Session &session, const LineSetup &line, const LineSetting &setting, QObject *parent)
    : QObject(parent), m_session(session), m_line(line), m_setting(setting)
{
}

BusUnits::~BusUnits() = default;

void BusUnits::find(const QList<quint8> &addresses, int allowanceMs)
{
    stop();
    m_found.clear();
    Plan plan;
    plan.likely = m_setting;
    // The sweep goes over a span; the units between the addresses listed are not kept.
    const auto [first, last] = std::minmax_element(addresses.begin(), addresses.end());
    plan.likelyAddress = *first;
    plan.firstAddress = *first;
    plan.lastAddress = *last;
    plan.allowanceMs = allowanceMs;
    m_listed = addresses;
    m_sweep = std::make_unique<Sweep>(addressesOnly(plan), m_session.lineOwner(), m_line);
    emit sweepStarted(m_sweep->total());
    probeNext();
}

void BusUnits::probeNext()
{
    if (!m_sweep->next([this](const std::optional<Sweep::Step> &step) { probed(step); }))
        endFinding();
}

void BusUnits::probed(const std::optional<Sweep::Step> &step)
{
    if (step && step->found && step->found->indicator && m_listed.contains(step->found->address)) {
        Bus::Unit unit;
        unit.address = step->found->address;
        unit.name = step->found->name;
        unit.version = step->found->version;
        m_found.append(unit);
        emit unitFound(unit);
    }
    if (m_sweep->finished()) {
        endFinding();
        return;
    }
    emit swept(m_sweep->sent(), m_sweep->remainingMs());
    probeNext();
}

// The sweep lets go of the port, and goes once the reply that may have ended it is over.
void BusUnits::endFinding()
{
    const Sweep::Failure failure = m_sweep->failure();
    const qint64 sent = m_sweep->sent();
    m_sweep->stop();
    m_sweep.release()->deleteLater();
    emit findingEnded(failure, sent);
}

void BusUnits::startPolling()
{
    m_holdsLine = true;
    m_session.start(m_line, this, [this](bool opened) {
        if (opened)
            readUnitsOfMeasure();
        else
            emit notOpened();
    });
}

// The unit of measure, once: it changes only when someone writes it. The polling starts once
// the last unit has answered.
void BusUnits::readUnitsOfMeasure()
{
    const Catalogue::Parameter &unitOfMeasure = Catalogue::of(prmModeUnit);
    for (int row = 0; row < m_found.size(); ++row) {
        const bool last = row == m_found.size() - 1;
        m_session.readValueAt(
            m_found[row].address, unitOfMeasure, this,
            [this, row, last](const Session::Reading &reading) {
                if (reading.code >= lrOk)
                    m_found[row].unit = reading.value.toString();
                if (last)
                    poll();
            },
            Session::Reporting::Gathered);
    }
}

void BusUnits::poll()
{
    m_poller = std::make_unique<Bus::Poller>(m_session);
    m_poller->setUnits(m_found);
    connect(m_poller.get(), &Bus::Poller::unitPolled, this, &BusUnits::unitPolled);
    m_poller->start();
    emit pollingStarted();
}

void BusUnits::stop()
{
    if (m_sweep) {
        m_sweep->stop();
        m_sweep.release()->deleteLater();
    }
    if (m_poller)
        m_poller->stop();
    m_poller.reset();
    m_session.cancel(this);
    if (m_holdsLine)
        m_session.stop();
    m_holdsLine = false;
}
