#pragma once

#include "buspoller.h"
#include "devicesearch.h"
#include "session.h"

#include <QList>
#include <QObject>

#include <memory>

// The units of one line as «Приборы на линии» keeps them: found by a sweep of addresses at the
// line's one setting, then, on the session, their unit of measure read once and the units
// polled in turn. The port goes from the sweep to the session and back; stop() lets go of it.
// Nothing here waits for the line.
class BusUnits : public QObject
{
    Q_OBJECT

public:
    // line: the port and its setting, with the device the port opens; setting: the same as the
    // search names it.
    BusUnits(Session &session, const LineSetup &line, const DeviceSearch::LineSetting &setting, QObject *parent = nullptr);
    ~BusUnits() override;

    // The sweep over the span of addresses, at allowanceMs of thinking a reply; of the units in
    // the span, the indicators at the addresses listed are kept. Polls under way stop first.
    void find(const QList<quint8> &addresses, int allowanceMs);
    const QList<Bus::Unit> &found() const { return m_found; }
    // The units found polled: the line opened, their units of measure read, then pollingStarted.
    void startPolling();
    // Once pollingStarted, until stop().
    Bus::Poller *poller() const { return m_poller.get(); }
    // The line is open, or opening, for the polls.
    bool holdsLine() const { return m_holdsLine; }
    // The sweep or the polls stopped, every request forgotten, the port let go of.
    void stop();

signals:
    void sweepStarted(qint64 probes);
    void swept(qint64 sent, qint64 remainingMs);
    void unitFound(const Bus::Unit &unit);
    void findingEnded(DeviceSearch::Sweep::Failure failure, qint64 sent);
    void notOpened();
    void pollingStarted();
    void unitPolled(int row);

private:
    void probeNext();
    void probed(const std::optional<DeviceSearch::Sweep::Step> &step);
    void endFinding();
    void readUnitsOfMeasure();
    void poll();

    Session &m_session;
    LineSetup m_line;
    DeviceSearch::LineSetting m_setting;
    std::unique_ptr<DeviceSearch::Sweep> m_sweep; // while the addresses are swept
    QList<quint8> m_listed; // the addresses typed, of which the sweep's span shows the units
    QList<Bus::Unit> m_found;
    std::unique_ptr<Bus::Poller> m_poller;
    bool m_holdsLine = false;
};
