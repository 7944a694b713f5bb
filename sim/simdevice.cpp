#include "simdevice.h"

#include "linesettings.h"
#include "parammap.h"
#include "registercodec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// Values the device shows and measures with, read only over the line.
constexpr std::array kReadOnly{prmDataCur,   prmDataTxt,   prmData2, prmClbrData,
                               prmSelfDiag, prmEEPROMErr, prmInformationProgVer};

// Codes the device accepts; anything else is refused as an illegal data value.
struct CodeRange
{
    TParamId id;
    quint16 lowest;
    quint16 highest;
};
constexpr std::array kCodeRanges{
    CodeRange{prmPortNetAddr, 1, SimDevice::kHighestSlaveAddress},
    CodeRange{prmPortSpeed, 0, quint16(LineSettings::BaudRates.size() - 1)},
    CodeRange{prmPortStopBit, 0, 1},
    CodeRange{prmPortParity, 0, quint16(SimDevice::kParityNames.size() - 1)},
    CodeRange{prmModeDecimalPointPos, 0, 3},
    CodeRange{prmModeBrightness, 0, 2},
    CodeRange{prmModeScaleType, 0, 3},
};
constexpr std::array kFloats{prmModeDeadSpace,   prmModeRangeSet,
                             prmModeBottomRange, prmModeTopRange,
                             prmModeRElSignalBottomRange, prmModeRElSignalTopRange};

// The input moves through 90 % of the real-signal range and back in 40 s: slow enough to
// read the digits, fast enough to see them change.
constexpr double kSignalPeriodS = 40.0;
constexpr double kSignalSwing = 0.45; // of the range, either side of its middle

// The calibration value is the input in thousandths of its unit: 12.5 mA reads 12500.
constexpr double kCountsPerUnit = 1000.0;
constexpr double kHighestCount = 65535.0;

// Four digits with the point after any of them, and a sign: six characters.
constexpr int kDisplayWidth = 6;
constexpr std::array<double, 4> kPowersOfTen{1, 10, 100, 1000}; // by decimals shown
// Whole units of the last digit that round to a fifth digit.
constexpr double kFirstUnshown = 9999.5;

enum Access : quint8 { NoAccess = 0, Readable = 1, Writable = 2 };

int imageSize()
{
    int size = 0;
    for (const TParamInfo &info : ParamMap)
        size = std::max(size, info.Register + info.Bytes / 2);
    return size;
}

const std::vector<quint8> &accessTable()
{
    static const std::vector<quint8> table = [] {
        std::vector<quint8> access(size_t(imageSize()), NoAccess);
        for (size_t id = 0; id < ParamMap.size(); ++id) {
            const bool readOnly = std::find(kReadOnly.begin(), kReadOnly.end(), TParamId(id)) != kReadOnly.end();
            for (int k = 0; k < ParamMap[id].Bytes / 2; ++k)
                access[ParamMap[id].Register + k] = readOnly ? Readable : Readable | Writable;
        }
        return access;
    }();
    return table;
}

bool allHave(quint16 first, int count, quint8 access)
{
    const auto &table = accessTable();
    if (count <= 0 || first + count > int(table.size()))
        return false;
    return std::all_of(table.begin() + first, table.begin() + first + count,
                       [access](quint8 a) { return (a & access) == access; });
}

bool overlaps(TParamId id, quint16 first, int count)
{
    const TParamInfo &info = ParamMap[id];
    return first < info.Register + info.Bytes / 2 && info.Register < first + count;
}

quint16 code(const quint16 *registers, TParamId id) { return registers[ParamMap[id].Register]; }
float floatOf(const quint16 *registers, TParamId id)
{
    return RegisterCodec::floatFrom(registers + ParamMap[id].Register);
}

} // namespace

SimDevice::SimDevice(const Settings &settings)
    : m_registers(size_t(imageSize()), 0),
      m_reading(settings.reading),
      m_noise(0.0, std::max(settings.noise, 0.0)),
      m_noiseSource(settings.noiseSeed)
{
    const auto at = [this](TParamId id) { return m_registers.data() + ParamMap[id].Register; };
    const auto text = [&](TParamId id, const QString &value) {
        RegisterCodec::putText(value, at(id), ParamMap[id].Bytes);
    };
    text(prmInformationProgVer, QStringLiteral("v1.07 сборка 12"));
    text(prmInformationDevName, QStringLiteral("Индикатор DI-4 sim"));

    *at(prmSelfDiag) = settings.selfDiag;
    *at(prmEEPROMErr) = settings.eepromErrors;
    *at(prmPortNetAddr) = settings.netAddress;
    *at(prmPortSpeed) = settings.speedCode;
    *at(prmPortStopBit) = settings.stopBitsCode;
    *at(prmPortParity) = settings.parityCode;

    // A 4..20 mA transmitter for 0..100 °C, calibrated at both ends of its range.
    RegisterCodec::putFloat(0.5f, at(prmModeDeadSpace));
    RegisterCodec::putFloat(80.0f, at(prmModeRangeSet));
    RegisterCodec::putFloat(0.0f, at(prmModeBottomRange));
    RegisterCodec::putFloat(100.0f, at(prmModeTopRange));
    RegisterCodec::putFloat(4.0f, at(prmModeRElSignalBottomRange));
    RegisterCodec::putFloat(20.0f, at(prmModeRElSignalTopRange));
    *at(prmClbrBottom) = quint16(4.0 * kCountsPerUnit);
    *at(prmClbrTop) = quint16(20.0 * kCountsPerUnit);
    *at(prmModeDecimalPointPos) = 1;
    *at(prmModeBrightness) = 1;
    text(prmModeUnit, QStringLiteral("°C"));
    *at(prmModeScaleType) = 0;
    *at(prmModeBlink) = 1;

    updateLive(0.0);
}

quint8 SimDevice::refuseRead(quint16 first, quint16 count) const
{
    return allHave(first, count, Readable) ? 0 : kIllegalDataAddress;
}

quint8 SimDevice::refuseWrite(quint16 first, const std::vector<quint16> &values) const
{
    const int count = int(values.size());
    if (!allHave(first, count, Writable))
        return kIllegalDataAddress;

    // Judge each value touched as it would stand after the write, so that a write of one
    // half of a float is judged together with the half already stored.
    std::vector<quint16> after = m_registers;
    std::copy(values.begin(), values.end(), after.begin() + first);
    for (const CodeRange &range : kCodeRanges) {
        const quint16 value = code(after.data(), range.id);
        if (overlaps(range.id, first, count) && (value < range.lowest || value > range.highest))
            return kIllegalDataValue;
    }
    for (TParamId id : kFloats) {
        if (overlaps(id, first, count) && !std::isfinite(floatOf(after.data(), id)))
            return kIllegalDataValue;
    }
    return 0;
}

QStringList SimDevice::describeWrite(quint16 first, quint16 count) const
{
    const quint16 *r = m_registers.data();
    const QString later = QStringLiteral(" stored; the line keeps its settings until the device restarts");
    QStringList lines;
    if (overlaps(prmPortNetAddr, first, count))
        lines << QStringLiteral("network address %1").arg(code(r, prmPortNetAddr)) + later;
    if (overlaps(prmPortSpeed, first, count))
        lines << QStringLiteral("speed %1 baud").arg(LineSettings::BaudRates[code(r, prmPortSpeed)]) + later;
    if (overlaps(prmPortStopBit, first, count))
        lines << QStringLiteral("%1 stop bits").arg(code(r, prmPortStopBit) + 1) + later;
    if (overlaps(prmPortParity, first, count))
        lines << QStringLiteral("parity %1").arg(QLatin1StringView(kParityNames[code(r, prmPortParity)])) + later;
    if (overlaps(prmClbrBottom, first, count))
        lines << QStringLiteral("bottom calibration point %1 stored").arg(code(r, prmClbrBottom));
    if (overlaps(prmClbrTop, first, count))
        lines << QStringLiteral("top calibration point %1 stored").arg(code(r, prmClbrTop));
    return lines;
}

void SimDevice::updateLive(double seconds)
{
    quint16 *r = m_registers.data();
    const double signalBottom = floatOf(r, prmModeRElSignalBottomRange);
    const double signalTop = floatOf(r, prmModeRElSignalTopRange);
    const double phase = 2.0 * std::numbers::pi * seconds / kSignalPeriodS;
    const double input = signalBottom + (signalTop - signalBottom) * (0.5 + kSignalSwing * std::sin(phase));
    const double counts = input * kCountsPerUnit;

    // The calibration points are the counts measured at the bottom and at the top of the
    // range; equal points leave nothing to scale by.
    const double countsBottom = code(r, prmClbrBottom);
    const double countsTop = code(r, prmClbrTop);
    const double bottom = floatOf(r, prmModeBottomRange);
    const double top = floatOf(r, prmModeTopRange);
    const int decimals = std::min<int>(code(r, prmModeDecimalPointPos), int(kPowersOfTen.size()) - 1);
    double value = std::nan("");
    if (m_reading) {
        // The number carries what the unit measures; the display shows it to its digits.
        value = *m_reading + (m_noise.stddev() > 0.0 ? m_noise(m_noiseSource) : 0.0);
    } else if (countsTop != countsBottom) {
        const double scaled = bottom + (counts - countsBottom) / (countsTop - countsBottom) * (top - bottom);
        value = std::round(scaled * kPowersOfTen[decimals]) / kPowersOfTen[decimals];
    }

    RegisterCodec::putFloat(float(value), r + ParamMap[prmDataCur].Register);
    RegisterCodec::putFloat(float(input), r + ParamMap[prmData2].Register);
    r[ParamMap[prmClbrData].Register] = quint16(std::clamp(std::round(counts), 0.0, kHighestCount));
    RegisterCodec::putTextBytes(displayText(value, decimals), r + ParamMap[prmDataTxt].Register,
                                ParamMap[prmDataTxt].Bytes);
}

QByteArray SimDevice::displayText(double value, int decimals)
{
    const QByteArray overflow = QByteArray("----").rightJustified(kDisplayWidth, ' ');
    decimals = std::clamp(decimals, 0, int(kPowersOfTen.size()) - 1);
    const double scaled = value * kPowersOfTen[decimals];
    if (!std::isfinite(scaled) || std::abs(scaled) >= kFirstUnshown)
        return overflow;

    const long long units = std::llround(scaled);
    QByteArray text = QByteArray::number(std::abs(units)).rightJustified(decimals + 1, '0');
    if (decimals > 0)
        text.insert(text.size() - decimals, '.');
    if (units < 0)
        text.prepend('-');
    return text.rightJustified(kDisplayWidth, ' ');
}
