#include "devicesearch.h"

#include "adapter.h"
#include "linesettings.h"
#include "parammap.h"
#include "registercodec.h"
#include "resultcodes.h"
#include "rtuframe.h"

#include <QtMath>

#include <algorithm>
#include <array>

namespace DeviceSearch {

namespace {

constexpr int kRequestBytes = 8;      // address, function, register, count, CRC
constexpr int kReplyBytes = 7;        // address, function, byte count, one register, CRC

const TParamInfo &probedRegister() { return ParamMap[prmPortNetAddr]; }

// The speeds a panel is most often set to first: 19200 and 9600 are the usual factory and
// plant settings. The slow ones come last, and cost most besides: a probe at 1200 baud waits
// 178 ms, at 19200 only 49 ms.
constexpr std::array<quint32, 8> kBaudsByLikelihood{19200, 9600, 38400, 57600, 115200, 4800, 2400, 1200};

// Units on a bench are numbered from 1 up, so the low addresses are tried at every setting
// before any setting's full sweep: with all 24 settings that pass is 384 probes, 29 s at the
// default allowance, out of 7.4 min for the whole search.
constexpr int kQuickPassLastAddress = 16;

// A row of the baud-rate table that the list above lacks goes after all of them.
qsizetype likelihoodRank(quint8 speedNumber)
{
    const std::optional<quint32> baud = LineSettings::baudRate(speedNumber);
    const auto rank = baud ? std::find(kBaudsByLikelihood.begin(), kBaudsByLikelihood.end(), *baud)
                           : kBaudsByLikelihood.end();
    return rank - kBaudsByLikelihood.begin();
}

// Each row once, however often the plan names it.
QList<quint8> distinct(QList<quint8> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

// The likely setting, then the speeds by likelihood and, within a speed, the parities in table order.
QList<LineSetting> settingsInOrder(const Plan &plan)
{
    QList<quint8> speeds = distinct(plan.speeds);
    std::stable_sort(speeds.begin(), speeds.end(),
                     [](quint8 a, quint8 b) { return likelihoodRank(a) < likelihoodRank(b); });
    const QList<quint8> parities = distinct(plan.parities);
    QList<LineSetting> settings;
    for (quint8 speed : speeds) {
        for (quint8 parity : parities)
            settings.append({speed, parity});
    }
    if (const qsizetype likely = settings.indexOf(plan.likely); likely > 0)
        settings.move(likely, 0);
    return settings;
}

} // namespace

QList<Probe> probeOrder(const Plan &plan)
{
    const int first = std::max(kFirstAddress, std::min(plan.firstAddress, plan.lastAddress));
    const int last = std::min(kLastAddress, std::max(plan.firstAddress, plan.lastAddress));
    const QList<LineSetting> settings = settingsInOrder(plan);
    const Probe likely{plan.likely, quint8(plan.likelyAddress)};
    const bool likelyInPlan =
        settings.contains(plan.likely) && plan.likelyAddress >= first && plan.likelyAddress <= last;
    QList<Probe> probes;
    if (likelyInPlan)
        probes.append(likely);
    // The quick pass and the full sweep cover ranges that do not overlap, so only the likely
    // probe could come up twice.
    const int quickLast = std::min(last, kQuickPassLastAddress);
    const int sweepFirst = std::max(first, kQuickPassLastAddress + 1);
    for (const auto &[from, to] : {std::pair{first, quickLast}, std::pair{sweepFirst, last}}) {
        for (const LineSetting &setting : settings) {
            for (int address = from; address <= to; ++address) {
                const Probe probe{setting, quint8(address)};
                if (!(likelyInPlan && probe == likely))
                    probes.append(probe);
            }
        }
    }
    return probes;
}

int probeBudgetMs(quint8 speedNumber, int allowanceMs)
{
    const double baud = LineSettings::baudRate(speedNumber).value_or(LineSettings::BaudRates.front());
    const double wireMs = (kRequestBytes + kReplyBytes) * LineSettings::bitsPerCharacter * 1000.0 / baud;
    return qCeil(wireMs) + allowanceMs;
}

Plan addressesOnly(Plan plan)
{
    plan.speeds = {plan.likely.speedNumber};
    plan.parities = {plan.likely.parity};
    return plan;
}

Answer classify(qint16 resultCode, quint16 value, quint8 address)
{
    switch (resultCode) {
    case lrOk:
        return value == address ? Answer::Indicator : Answer::OtherDevice;
    case lrDeviceError:
    case lrWrongReply: // the probed address answers, but not as an indicator answers a read
        return Answer::OtherDevice;
    case lrBadCrc:
    case lrIncomplete:
        return Answer::Noise;
    case lrNotConnected:
    case lrWriteFailed:
        return Answer::PortFailed;
    default:
        return Answer::Silence;
    }
}

Sweep::Sweep(const Plan &plan, Line &line, const LineSetup &port)
    : m_line(&line), m_port(port), m_allowanceMs(plan.allowanceMs)
{
    const CAdapter::PipeAbilities pipe = CAdapter::abilitiesOf(port.portName);
    m_probes = probeOrder(pipe.setsLine ? plan : addressesOnly(plan));
    // The adapter adds it to the probe's own budget, as to every read.
    m_networkAllowanceMs = pipe.latencyAllowanceMs;
    for (const Probe &probe : m_probes)
        m_remainingMs += budgetMs(probe);
}

qint64 Sweep::budgetMs(const Probe &probe) const
{
    return probeBudgetMs(probe.setting.speedNumber, m_allowanceMs) + m_networkAllowanceMs;
}

Sweep::~Sweep()
{
    stop();
}

void Sweep::stop()
{
    if (m_line) {
        m_line->cancel(this);
        if (!m_stopped && m_openAsked)
            m_line->close();
    }
    m_openSetting.reset();
    m_stopped = true;
    m_remainingMs = 0;
}

std::optional<Probe> Sweep::upcoming() const
{
    if (finished())
        return std::nullopt;
    return m_probes[m_next];
}

// The port is opened again only when the probe's setting differs from the one it has.
bool Sweep::next(StepDone done)
{
    if (finished() || !m_line)
        return false;
    const Probe upcoming = m_probes[m_next];
    if (m_openSetting == upcoming.setting) {
        probe(upcoming, done);
        return true;
    }
    LineSetup setup = m_port;
    setup.speedNumber = upcoming.setting.speedNumber;
    setup.parity = upcoming.setting.parity;
    m_openAsked = true;
    m_line->open(setup, this, [this, upcoming, done](const LineOpened &opened) {
        if (!opened.opened) {
            fail(Failure::PortNotOpened, done);
            return;
        }
        m_openSetting = upcoming.setting;
        probe(upcoming, done);
    });
    return true;
}

void Sweep::probe(const Probe &probe, const StepDone &done)
{
    const TParamInfo &probed = probedRegister();
    const int budget = probeBudgetMs(probe.setting.speedNumber, m_allowanceMs);
    m_line->request(LineRequest::read(probe.address, probed.Register, probed.Bytes / 2, budget), this,
                   [this, probe, done](const LineReply &reply) {
                       const quint16 value = reply.registers.value(0);
                       Step step{probe, classify(reply.code, value, probe.address), std::nullopt};
                       ++m_next;
                       m_remainingMs -= budgetMs(probe);
                       if (step.answer == Answer::Indicator)
                           readIdentity(step, done);
                       else
                           stepDone(step, done);
                   });
}

// A device that has answered its probe gets the pages' time-out for its longer replies: its
// name, then its firmware version.
void Sweep::readIdentity(Step step, const StepDone &done)
{
    const auto textRead = [](int parameter) {
        const TParamInfo &info = ParamMap[parameter];
        return LineRequest::read(0, info.Register, info.Bytes / 2);
    };
    const auto text = [](int parameter, const LineReply &reply) {
        return reply.code == lrOk ? RegisterCodec::textFrom(reply.registers.data(), ParamMap[parameter].Bytes) : QString();
    };
    LineRequest name = textRead(prmInformationDevName);
    name.slave = step.probe.address;
    m_line->request(name, this, [this, step, done, textRead, text](const LineReply &nameReply) mutable {
        step.found = Found{step.probe.setting, step.probe.address, true, text(prmInformationDevName, nameReply), {}};
        LineRequest version = textRead(prmInformationProgVer);
        version.slave = step.probe.address;
        m_line->request(version, this, [this, step, done, text](const LineReply &versionReply) mutable {
            step.found->version = text(prmInformationProgVer, versionReply);
            stepDone(step, done);
        });
    });
}

void Sweep::stepDone(Step step, const StepDone &done)
{
    if (step.answer == Answer::Noise)
        countNoise(step.probe.setting);
    else if (step.answer == Answer::OtherDevice)
        step.found = Found{step.probe.setting, step.probe.address, false, {}, {}};
    else if (step.answer == Answer::PortFailed) {
        m_failure = Failure::PortLost;
        stop();
    }
    done(step);
}

void Sweep::fail(Failure failure, const StepDone &done)
{
    m_failure = failure;
    stop();
    done(std::nullopt);
}

void Sweep::countNoise(const LineSetting &setting)
{
    const auto known = std::find_if(m_noise.begin(), m_noise.end(),
                                    [&](const NoiseCount &count) { return count.setting == setting; });
    if (known != m_noise.end())
        ++known->replies;
    else
        m_noise.append({setting, 1});
}

} // namespace DeviceSearch
