#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <map>
#include <optional>
#include <vector>

// What the simulator was asked to be, from its command line.
struct SimOptions
{
    QString linkPath;   // symbolic link to make to the pseudo-terminal; empty: none
    QString devicePath; // real serial port to serve instead of a pseudo-terminal
    int tcpPort = -1;   // TCP port on 127.0.0.1 to serve instead, 0 for a free one; -1: none
    int modbusTcpPort = -1;      // the same as a Modbus TCP gateway with the units behind it
    bool gatewayNoPath = false;  // the gateway answers 0x0A, not 0x0B, for a unit it lacks
    QString tapPath;    // symbolic link to make to the tap, a second pseudo-terminal; empty: none
    std::optional<quint32> tapPieceSeed; // the tap delivers in random pieces from this seed
    quint32 baud = 19200;
    quint16 parityCode = 0; // index of SimDevice::kParityNames
    int stopBits = 1;
    std::vector<quint8> slaves{1}; // one device at each address, ascending
    bool silent = false;
    int corruptEvery = 0;   // every N-th reply gets a wrong CRC; 0: none
    int exceptionEvery = 0; // every N-th reply is an exception; 0: none
    int delayMs = 0;        // turnaround before each reply
    bool wireTiming = false;
    bool mismatchNoise = false; // garbage, not silence, for a master at another speed or parity
    int misstoreRegister = -1;  // a write stores this register with its lowest bit flipped; -1: none
    quint16 selfDiag = 0;
    quint16 eepromErrors = 0;
    // A steady input instead of the slowly moving one: the reading every unit shows, the
    // standard deviation of its noise, and units that read otherwise (a unit off on a bench).
    std::optional<double> reading;
    double noise = 0.0;
    std::map<quint8, double> readingAt;
    // Units that stop answering this many seconds after the start, as a unit unplugged.
    std::map<quint8, double> fallSilentAt;
    bool verbose = false;
    bool help = false;
};

// The options of `arguments` (without the program name), or nothing with `error` set.
std::optional<SimOptions> parseSimOptions(const QStringList &arguments, QString *error);

QString simUsage();
