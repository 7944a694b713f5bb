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

QList<LineSetting> settingsInOrder(const Plan &plan)
{
    QList<quint8> speeds = plan.speeds;
    QList<quint8> parities = plan.parities;
    std::sort(speeds.begin(), speeds.end());
    std::sort(parities.begin(), parities.end());
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
    QList<Probe> probes;
    for (const LineSetting &setting : settingsInOrder(plan)) {
        const bool likelyFirst = setting == plan.likely && plan.likelyAddress >= first && plan.likelyAddress <= last;
        if (likelyFirst)
            probes.append({setting, quint8(plan.likelyAddress)});
        for (int address = first; address <= last; ++address) {
            if (!(likelyFirst && address == plan.likelyAddress))
                probes.append({setting, quint8(address)});
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

Answer classify(qint16 resultCode, quint16 value, quint8 address)
{
    switch (resultCode) {
    case lrOk:
        return value == address ? Answer::Indicator : Answer::OtherDevice;
    case lrDeviceError:
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
    : m_probes(probeOrder(plan)), m_allowanceMs(plan.allowanceMs), m_portName(portName), m_stopBits(stopBits)
{
    for (const Probe &probe : m_probes)
        m_remainingMs += probeBudgetMs(probe.setting.speedNumber, m_allowanceMs);
}

Sweep::~Sweep()
{
    stop();
}

void Sweep::stop()
{
    if (m_adapter)
        m_adapter->Close();
    m_adapter.reset();
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

bool Sweep::openAt(const LineSetting &setting)
{
    if (m_openSetting == setting)
        return true;
    if (m_adapter)
        m_adapter->Close();
    m_openSetting.reset();
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
    if (!openAt(probe.setting)) {
        m_failure = Failure::PortNotOpened;
        stop();
        return std::nullopt;
    }
    ++m_next;
    m_remainingMs -= probeBudgetMs(probe.setting.speedNumber, m_allowanceMs);

    std::array<quint16, Rtu::maxReadRegisters> registers{};
    const qint16 code = m_adapter->ReadRegisters(probe.address, probedRegister().Register,
                                                 probedRegister().Bytes / 2, registers.data());
    Step step{probe, classify(code, registers[0], probe.address), std::nullopt};
    switch (step.answer) {
    case Answer::Indicator:
        step.found = Found{probe.setting, probe.address, true, readText(probe.address, prmInformationDevName),
                           readText(probe.address, prmInformationProgVer)};
        break;
    case Answer::OtherDevice:
        step.found = Found{probe.setting, probe.address, false, {}, {}};
        break;
    case Answer::Noise:
        countNoise(probe.setting);
        break;
    case Answer::PortFailed:
        m_failure = Failure::PortLost;
        stop();
        break;
    case Answer::Silence:
        break;
    }
    return step;
}

// A device that has answered its probe gets the pages' time-out for its longer replies.
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
