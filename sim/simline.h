#pragma once

#include <QString>
#include <QtGlobal>

#include <modbus.h>

#include <chrono>
#include <memory>

// The simulator's end of the serial line with the libmodbus RTU server context on it: either
// the controlling side of a new pseudo-terminal, whose other side a master opens, or a real
// serial port.
class SimLine
{
public:
    struct Settings
    {
        quint32 baud = 19200;
        char parity = 'N'; // as libmodbus names it: N, E or O
        int stopBits = 1;
        quint8 slave = 1;
    };

    // A line on a new pseudo-terminal, or null with `error` set.
    static std::unique_ptr<SimLine> openPseudoTerminal(const Settings &settings, QString *error);
    // A line on the serial port at `path`, or null with `error` set.
    static std::unique_ptr<SimLine> openSerialPort(const QString &path, const Settings &settings, QString *error);

    ~SimLine();
    SimLine(const SimLine &) = delete;
    SimLine &operator=(const SimLine &) = delete;

    // The device a master opens.
    QString path() const { return m_path; }
    // The descriptor that requests arrive on and replies leave by.
    int descriptor() const { return m_fd; }
    modbus_t *modbus() const { return m_modbus; }

    // One character on the line: start bit, 8 data bits, parity and stop bits make at most
    // 11 bits; at 1200 baud that is 9167 us.
    std::chrono::microseconds characterTime() const { return m_characterTime; }
    // The silence that ends a frame.
    std::chrono::microseconds frameGap() const;

    // False when the master talks at another speed or parity than the device's own, which a
    // real device hears as garbage. Only a pseudo-terminal shows the master's settings, and
    // Linux keeps its speed and odd parity but drops the parity-enable bit, so even parity
    // passes for none there. A real serial port garbles a mismatch itself: always true.
    bool hearsMaster() const;

private:
    SimLine() = default;
    bool setUpModbus(const Settings &settings, QString *error);

    QString m_path;
    int m_fd = -1;
    // The master's side of the pseudo-terminal, held open so that a master that closes the
    // device does not leave this side reading hang-ups until it opens it again.
    int m_otherSide = -1;
    bool m_connected = false; // libmodbus opened the port itself and closes it
    modbus_t *m_modbus = nullptr;
    std::chrono::microseconds m_characterTime{0};
    quint32 m_baud = 0;
    char m_parity = 'N';
};
