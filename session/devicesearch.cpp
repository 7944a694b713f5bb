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

Sweep::Sweep(const Plan &plan, const QString &portName, quint8 stopBits)
    : m_allowanceMs(plan.allowanceMs), m_portName(portName), m_stopBits(stopBits)
{
    const CAdapter::PipeAbilities pipe = CAdapter::abilitiesOf(portName);
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
    // Not stop(): a destructor must not serve events.
    m_link.runBlocking([this] { closePort(); });
}

void Sweep::stop()
{
    if (m_adapter)
        m_link.run([this] { closePort(); });
    m_stopped = true;
    m_remainingMs = 0;
}

// On the link thread, where the port was opened.
void Sweep::closePort()
{
    if (m_adapter)
        m_adapter->Close();
    m_adapter.reset();
    m_openSetting.reset();
}

std::optional<Probe> Sweep::upcoming() const
{
    if (finished())
        return std::nullopt;
    return m_probes[m_next];
}

// On the link thread.
bool Sweep::openAt(const LineSetting &setting)
{
    if (m_openSetting == setting)
        return true;
    closePort();
    m_adapter = std::make_unique<CAdapter>();
    m_adapter->PortName = m_portName;
    m_adapter->SpeedNumber = setting.speedNumber;
    m_adapter->Parity = setting.parity;
    m_adapter->StopBits = m_stopBits;
    if (m_adapter->Open() != 0) {
        m_adapter.reset();
        return false;
    }
    m_adapter->Connected = true;
    m_adapter->ReadTimeoutMs = probeBudgetMs(setting.speedNumber, m_allowanceMs);
    m_openSetting = setting;
    return true;
}

std::optional<Sweep::Step> Sweep::next()
{
    if (finished())
        return std::nullopt;
    const Probe probe = m_probes[m_next];
    std::optional<Step> step;
    m_link.run([&] {
        if (openAt(probe.setting))
            step = probeOnce(probe);
    });
    if (!step) {
        m_failure = Failure::PortNotOpened;
        stop();
        return std::nullopt;
    }
    ++m_next;
    m_remainingMs -= budgetMs(probe);
    switch (step->answer) {
    case Answer::Noise:
        countNoise(probe.setting);
        break;
    case Answer::PortFailed:
        m_failure = Failure::PortLost;
        stop();
        break;
    case Answer::Indicator:
    case Answer::OtherDevice:
    case Answer::Silence:
        break;
    }
    return step;
}

// On the link thread: the probe, and the name and version of an indicator that answers it.
Sweep::Step Sweep::probeOnce(const Probe &probe)
{
    std::array<quint16, Rtu::maxReadRegisters> registers{};
    const qint16 code = m_adapter->ReadRegisters(probe.address, probedRegister().Register,
                                                 probedRegister().Bytes / 2, registers.data());
    Step step{probe, classify(code, registers[0], probe.address), std::nullopt};
    if (step.answer == Answer::Indicator)
        step.found = Found{probe.setting, probe.address, true, readText(probe.address, prmInformationDevName),
                           readText(probe.address, prmInformationProgVer)};
    else if (step.answer == Answer::OtherDevice)
        step.found = Found{probe.setting, probe.address, false, {}, {}};
    return step;
}

// A device that has answered its probe gets the pages' time-out for its longer replies. On the
// link thread.
QString Sweep::readText(quint8 address, int parameter)
{
    const TParamInfo &info = ParamMap[parameter];
    std::array<quint16, Rtu::maxReadRegisters> registers{};
    const int probeTimeoutMs = m_adapter->ReadTimeoutMs;
    m_adapter->ReadTimeoutMs = CAdapter::DefaultReadTimeoutMs;
    const qint16 code = m_adapter->ReadRegisters(address, info.Register, info.Bytes / 2, registers.data());
    m_adapter->ReadTimeoutMs = probeTimeoutMs;
    return code == lrOk ? RegisterCodec::textFrom(registers.data(), info.Bytes) : QString();
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
