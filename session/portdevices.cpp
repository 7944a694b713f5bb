#include "portdevices.h"

#include "adapter.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace PortDevices {

namespace {

// "/dev/ttyUSB10" -> {"/dev/ttyUSB", 10}; a name without trailing digits has number -1.
std::pair<QString, qint64> nameAndNumber(const QString &device)
{
    qsizetype digits = device.size();
    while (digits > 0 && device[digits - 1].isDigit())
        --digits;
    bool ok = false;
    const qint64 number = device.sliced(digits).toLongLong(&ok);
    return {device.first(digits), ok ? number : -1};
}

} // namespace

QStringList stableOrder(QStringList devices)
{
    std::sort(devices.begin(), devices.end(), [](const QString &a, const QString &b) {
        return std::pair(nameAndNumber(a), a) < std::pair(nameAndNumber(b), b);
    });
    return devices;
}

QStringList systemPorts()
{
    QStringList devices;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        devices.append(port.systemLocation());
    return stableOrder(devices);
}

QString resolve(quint8 portNumber, const QString &mapped, const QStringList &systemPorts)
{
    if (!mapped.isEmpty())
        return mapped;
    if (portNumber < systemPorts.size())
        return systemPorts[portNumber];
    return CAdapter::PlatformPortName(portNumber);
}

} // namespace PortDevices
