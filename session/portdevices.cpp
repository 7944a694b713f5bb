#include "portdevices.h"

#include "adapter.h"
#include "tcptransport.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace PortDevices {

namespace {

// udev's links to each USB serial adapter, by make, model and serial number.
constexpr char kLinksById[] = "/dev/serial/by-id";

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

QString caption(quint8 portNumber)
{
    return QStringLiteral("COM%1").arg(int(portNumber) + 1);
}

std::optional<quint8> portNumber(const QString &caption)
{
    const QLatin1StringView prefix("COM");
    if (!caption.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    const QStringView digits = QStringView(caption).sliced(prefix.size());
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    bool ok = false;
    const int number = digits.toInt(&ok);
    if (!ok || number < 1 || number > 255)
        return std::nullopt;
    return quint8(number - 1);
}

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

QString stableName(const QString &device)
{
    if (TcpTransport::isTcpName(device))
        return device;
    const QFileInfo given(device);
    if (given.isSymLink())
        return device;
    const QString target = given.canonicalFilePath();
    const QFileInfoList links = QDir(QString::fromLatin1(kLinksById)).entryInfoList(QDir::System | QDir::Files);
    const auto same = std::find_if(links.begin(), links.end(), [&target](const QFileInfo &link) {
        return !target.isEmpty() && link.canonicalFilePath() == target;
    });
    return same == links.end() ? device : same->absoluteFilePath();
}

} // namespace PortDevices
