#pragma once

#include "line.h"
#include "linesetup.h"

#include <QObject>
#include <QPointer>

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

// Finding the devices on a line whose settings nobody remembers: which probes go out in which
// order, how long each waits, and what its reply says. A probe is one read of the device's own
// network address register; nothing else is ever sent, and never to the broadcast address.
namespace DeviceSearch {

// The addresses a device can be given; 0 is the broadcast address, which no device answers.
inline constexpr int kFirstAddress = 1;
inline constexpr int kLastAddress = 247;
// A device's turnaround on top of the wire time of request and reply.
inline constexpr int kDefaultAllowanceMs = 40;

struct LineSetting
{
    quint8 speedNumber = 0; // row of the baud-rate table
    quint8 parity = 0;      // row of the parity table: none, even, odd
    bool operator==(const LineSetting &) const = default;
};

struct Plan
{
    QList<quint8> speeds;   // rows of the baud-rate table to try
    QList<quint8> parities; // rows of the parity table to try
    int firstAddress = kFirstAddress;
    int lastAddress = kLastAddress;
    // The left panel's setting and device number: the most likely answer, so tried first.
    LineSetting likely;
    int likelyAddress = kFirstAddress;
    int allowanceMs = kDefaultAllowanceMs;
};

struct Probe
{
    LineSetting setting;
    quint8 address = 0;
    bool operator==(const Probe &) const = default;
};

// The likely setting at the likely address first. Then a quick pass of the low addresses
// (1..16) over every setting, and the full sweep of the remaining addresses over every
// setting. Both go through the likely setting first, then the speeds by likelihood (19200,
// 9600, 38400, 57600, 115200, then the slow 4800, 2400, 1200) and, within a speed, the
// parities in table order; within a setting the addresses rise. No probe goes out twice, and
// settings and addresses outside the plan are not tried, the likely ones included.
QList<Probe> probeOrder(const Plan &plan);

// How long a probe at this speed may wait: request (8 bytes) and reply (7 bytes) on the wire,
// 11 bits a character, plus the allowance. 19200 baud: 15 characters take 8.6 ms, so 49 ms.
int probeBudgetMs(quint8 speedNumber, int allowanceMs);

// The plan with the likely setting as its only one: the search of a line whose settings are
// not this side's to choose.
Plan addressesOnly(Plan plan);

enum class Answer {
    Silence,
    Indicator,   // a reply carrying the probed address: an indicator
    OtherDevice, // another reply from the probed address with a valid CRC, an exception included
    Noise,       // a wrong CRC or a broken frame: often a device at another speed or parity
    PortFailed,  // the request did not leave; the search cannot go on
};
Answer classify(qint16 resultCode, quint16 value, quint8 address);

struct Found
{
    LineSetting setting;
    quint8 address = 0;
    bool indicator = false;
    QString name;    // an indicator's name and firmware version, empty for another device
    QString version;
};

// One search on one port, probe by probe, through the one owner of the line, so that the
// window goes on between two probes and «Отмена» stops the search at once. The port is open
// from the first probe until the search ends, fails or is stopped. Behind a serial device
// server (tcp://HOST:PORT) the server sets the line: the search tries the plan's likely setting
// alone, at every address, and each probe waits the network's allowance longer.
class Sweep : public QObject
{
    Q_OBJECT

public:
    struct Step
    {
        Probe probe;
        Answer answer = Answer::Silence;
        std::optional<Found> found;
    };
    struct NoiseCount
    {
        LineSetting setting;
        int replies = 0;
    };
    // The probe's step, or none when the port failed (then failure() says how).
    using StepDone = std::function<void(const std::optional<Step> &)>;

    // port: the port to search, with its stop bits for every probe; line: the owner of the line,
    // which the search opens at each setting in turn and closes at its end.
    Sweep(const Plan &plan, Line &line, const LineSetup &port);
    ~Sweep() override;

    enum class Failure { None, PortNotOpened, PortLost };

    // Sends the next probe and, when an indicator answers, reads its name and version; done
    // hears of it. False, and done is never called, once every probe has been sent, the search
    // was stopped or the port has failed.
    bool next(StepDone done);
    bool finished() const { return m_stopped || m_next >= m_probes.size() || m_failure != Failure::None; }
    // The probe that next() sends.
    std::optional<Probe> upcoming() const;
    qsizetype sent() const { return m_next; }
    qsizetype total() const { return m_probes.size(); }
    // The budgets of the probes not yet sent: what the search takes at most from now on.
    qint64 remainingMs() const { return m_remainingMs; }
    Failure failure() const { return m_failure; }
    const QList<NoiseCount> &noise() const { return m_noise; }
    // Forgets the probe under way and closes the port at once; nothing more is sent.
    void stop();

private:
    qint64 budgetMs(const Probe &probe) const;
    void probe(const Probe &probe, const StepDone &done);
    void readIdentity(Step step, const StepDone &done);
    void stepDone(Step step, const StepDone &done);
    void fail(Failure failure, const StepDone &done);
    void countNoise(const LineSetting &setting);

    // The window's line, which may go before a sweep that goes later, by deleteLater().
    QPointer<Line> m_line;
    bool m_openAsked = false; // an open went to the line: the search closes it at its end
    LineSetup m_port;
    QList<Probe> m_probes;
    qsizetype m_next = 0;
    int m_allowanceMs;
    int m_networkAllowanceMs = 0; // over TCP
    qint64 m_remainingMs = 0;
    std::optional<LineSetting> m_openSetting;
    QList<NoiseCount> m_noise;
    Failure m_failure = Failure::None;
    bool m_stopped = false;
};

} // namespace DeviceSearch
