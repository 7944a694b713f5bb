#pragma once

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <optional>
#include <random>
#include <vector>

// The indicator's memory as its holding registers, and what it does with them: which registers
// exist and which may be written, which values it accepts, and the live reading that follows a
// slowly moving input signal. Register values are kept in host order.
class SimDevice
{
public:
    // Startup settings that show in the device's registers.
    struct Settings
    {
        quint8 netAddress = 1;
        quint16 speedCode = 4;    // row of the baud-rate table: 19200
        quint16 stopBitsCode = 0; // one stop bit
        quint16 parityCode = 0;   // none
        quint16 selfDiag = 0;
        quint16 eepromErrors = 0;
        // A steady input that reads this value, with a normal noise of this standard
        // deviation; none: the slowly moving input. seed: the same noise on every run.
        std::optional<double> reading;
        double noise = 0.0;
        quint32 noiseSeed = 0;
    };

    explicit SimDevice(const Settings &settings);

    // Unicast addresses end at 247; 248..255 are reserved and 0 is broadcast.
    static constexpr quint8 kHighestSlaveAddress = 247;
    // Parity by its code in the device's settings.
    static constexpr std::array<const char *, 3> kParityNames{"none", "even", "odd"};

    // Modbus exception codes answered instead of a refused request.
    static constexpr quint8 kIllegalDataAddress = 0x02;
    static constexpr quint8 kIllegalDataValue = 0x03;

    // 0 when every register of the run exists, kIllegalDataAddress otherwise.
    quint8 refuseRead(quint16 first, quint16 count) const;
    // 0 when every register of the run exists and may be written and the device accepts the
    // values; kIllegalDataAddress or kIllegalDataValue otherwise. Values in host order.
    quint8 refuseWrite(quint16 first, const std::vector<quint16> &values) const;
    // What the log says about registers just written: device settings and calibration points.
    QStringList describeWrite(quint16 first, quint16 count) const;

    // Brings the live registers (numeric reading, input signal, calibration value, display
    // text) to the moment `seconds` after the device started.
    void updateLive(double seconds);

    // The whole register image from register 0, for the Modbus server to read and store into.
    quint16 *registers() { return m_registers.data(); }
    int registerCount() const { return int(m_registers.size()); }
    const quint16 *registersAt(quint16 address) const { return m_registers.data() + address; }

    // The six characters of a four-digit display with a sign and a decimal point, right-aligned:
    // -12.34 with 2 decimals is "-12.34", 80 with 1 decimal is "  80.0". A value that needs a
    // fifth digit, or no value at all (NaN), shows as "  ----".
    static QByteArray displayText(double value, int decimals);

private:
    std::vector<quint16> m_registers;
    std::optional<double> m_reading;
    std::normal_distribution<double> m_noise;
    std::mt19937 m_noiseSource;
};
