#pragma once

#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>

#ifndef Q_OS_WIN
#include <QSerialPort>
#endif

// The three line-settings tables. An index is the position in its table; the main window's
// lists show the rows in the same order, so a list's row index is the table index.
namespace LineSettings {

inline constexpr std::array<quint32, 8> BaudRates{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

#ifdef Q_OS_WIN
// The DCB's own codes, which the Windows serial transport hands to the port as they are.
using ParityCode = quint8;   // NOPARITY 0, ODDPARITY 1, EVENPARITY 2, MARKPARITY 3, SPACEPARITY 4
using StopBitsCode = quint8; // ONESTOPBIT 0, ONE5STOPBITS 1, TWOSTOPBITS 2
// Not the identity: index 1 is even parity and index 2 odd. Mark and space have no list row.
inline constexpr std::array<ParityCode, 5> Parities{0, 2, 1, 3, 4};
inline constexpr std::array<StopBitsCode, 3> StopBits{0, 1, 2};
#else
using ParityCode = QSerialPort::Parity;
using StopBitsCode = QSerialPort::StopBits;
// Not the identity: index 1 is even parity and index 2 odd. Mark and space have no list row.
inline constexpr std::array<ParityCode, 5> Parities{
    QSerialPort::NoParity, QSerialPort::EvenParity, QSerialPort::OddParity,
    QSerialPort::MarkParity, QSerialPort::SpaceParity};
// Index 1 is one and a half stop bits. POSIX terminals cannot send 1.5; a receiver that
// expects 1.5 accepts 2, so there the row sends 2.
inline constexpr std::array<StopBitsCode, 3> StopBits{QSerialPort::OneStop, QSerialPort::TwoStop,
                                                      QSerialPort::TwoStop};
#endif

// The rows of the parity table that a list offers, by the names files and the command line
// give them.
inline constexpr std::array<const char *, 3> ParityNames{"none", "even", "odd"};
// The rows of the stop-bits table as numbers of stop bits.
inline constexpr std::array<double, 3> StopBitCounts{1, 1.5, 2};

std::optional<quint32> baudRate(quint8 index);
// The row of a baud rate in the baud-rate table, or nothing for a rate the table lacks.
std::optional<quint8> speedNumber(quint32 baud);
std::optional<ParityCode> parity(quint8 index);
std::optional<StopBitsCode> stopBits(quint8 index);
// The row of a parity name, or of a number of stop bits; nothing for one the tables lack.
std::optional<quint8> parityRow(QStringView name);
std::optional<quint8> stopBitsRow(double count);

// Start bit, 8 data bits, parity and stop bit: 11 bits a character at most.
inline constexpr int bitsPerCharacter = 11;

// Time of one character on the line, rounded up to whole milliseconds. 1200 baud: 9.2 ms, so
// 10 ms; 115200 baud: 1 ms.
int characterTimeMs(quint32 baud);

} // namespace LineSettings
