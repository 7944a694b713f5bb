#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// Which device each entry COM1..COM8 of the port list opens on this system.
namespace PortDevices {

// "COM1" for port number 0: the name the port list and the settings file's [PORTS] give it.
QString caption(quint8 portNumber);
// The port number of a name such as "COM3" or "com3" (2); nothing for any other text.
std::optional<quint8> portNumber(const QString &caption);

// The serial ports the system reports, in an order that does not change between runs:
// by name, numbers compared as numbers (ttyS2 before ttyS10).
QStringList systemPorts();
QStringList stableOrder(QStringList devices);

// COM port portNumber + 1: the device (or the server, tcp://HOST:PORT) mapped to it in the
// settings file when there is one, else the system's port of the same position, else the
// platform's name for that port. On Windows a port is its own name (COM3), and only a server
// can be mapped to it.
QString resolve(quint8 portNumber, const QString &mapped, const QStringList &systemPorts);

// The name under which the same adapter comes back after it was unplugged: a link (the one
// given, or the adapter's own in /dev/serial/by-id, named after its make and serial number)
// rather than the ttyUSBn that the system may give to the next adapter plugged in; on Windows
// the COM name, which stays with the adapter. A server's tcp://HOST:PORT stays as it is.
QString stableName(const QString &device);

// Whether the device of a port is there now: a device file, or on Windows a port in the
// system's list. A server's tcp://HOST:PORT is not looked at here.
bool present(const QString &device);

} // namespace PortDevices
