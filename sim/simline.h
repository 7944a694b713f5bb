#pragma once

#include <QString>
#include <QtGlobal>

#include <modbus.h>

#include <chrono>
#include <memory>

class LineTap;
class TapRelay;

// The simulator's end of the serial line with the libmodbus RTU server context on it: either
// the controlling side of a new pseudo-terminal, whose other side a master opens, a real
// serial port, or a TCP port on the loopback where, as behind a serial device server, the
// bytes of the line come and go unchanged, one master's connection at a time. Or, as a Modbus
// TCP gateway, a TCP port on the loopback with libmodbus's Modbus TCP server context, whose
// requests the units behind the gateway answer; again one master's connection at a time.
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
    // A line that listens on 127.0.0.1:port (0: a free port that the system picks), or null
    // with `error` set.
    static std::unique_ptr<SimLine> listenOnTcp(quint16 port, const Settings &settings, QString *error);
    // A Modbus TCP gateway on 127.0.0.1:port (0: a free port), or null with `error` set.
    static std::unique_ptr<SimLine> listenAsGateway(quint16 port, const Settings &settings, QString *error);

    ~SimLine();
    SimLine(const SimLine &) = delete;
    SimLine &operator=(const SimLine &) = delete;

    // The device a master opens: a path, tcp://127.0.0.1:PORT or modbus-tcp://127.0.0.1:PORT.
    QString path() const { return m_path; }
    // The descriptor that requests arrive on and replies leave by; over TCP -1 while no master
    // is connected.
    int descriptor() const;

    // From now on every byte of the line in both directions is heard on `tap` as well (not
    // over TCP); false with `error` set.
    bool tapInto(std::unique_ptr<LineTap> tap, QString *error);

    // Over TCP: the listening socket, -1 for the other lines.
    int listener() const { return m_listener; }
    // Modbus TCP frames come and go, not RTU frames.
    bool isGateway() const { return m_gateway; }
    // Takes the next master's connection waiting on the listener as the line; false when none.
    bool takeMaster();
    // Ends the connection of the master that has gone; the line waits for the next.
    void dropMaster();
    modbus_t *modbus() const { return m_modbus; }

    // One character on the line: start bit, 8 data bits, parity and stop bits make at most
    // 11 bits; at 1200 baud that is 9167 us.
    std::chrono::microseconds characterTime() const { return m_characterTime; }
    // The silence that ends a frame.
    std::chrono::microseconds frameGap() const;

    // False when the master talks at another speed or parity than the device's own, which a
    // real device hears as garbage. Only a pseudo-terminal shows the master's settings, and
    // Linux keeps its speed and odd parity but drops the parity-enable bit, so even parity
    // passes for none there. A real serial port garbles a mismatch itself, and a server's line
    // is at the device's settings: always true.
    bool hearsMaster() const;

private:
    SimLine() = default;
    // The listening socket on the loopback and the master's name for it, or false with `error` set.
    bool listenOnLoopback(quint16 port, const char *scheme, QString *error);
    bool setUpModbus(const Settings &settings, QString *error);

    QString m_path;
    int m_fd = -1;
    // The master's side of the pseudo-terminal, held open so that a master that closes the
    // device does not leave this side reading hang-ups until it opens it again.
    int m_otherSide = -1;
    bool m_connected = false; // libmodbus opened the port itself and closes it
    int m_listener = -1;
    bool m_gateway = false;
    modbus_t *m_modbus = nullptr;
    // With a tap, the line is carried through it, and the loop has the relay's end.
    std::unique_ptr<TapRelay> m_relay;
    std::chrono::microseconds m_characterTime{0};
    quint32 m_baud = 0;
    char m_parity = 'N';
};
