#include "portdevices.h"

#include "adapter.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSerialPortInfo>
#endif

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

#ifdef Q_OS_WIN
// Windows names each port itself and keeps an adapter's COM number when it is plugged in again:
// COMn is the port COMn, the settings file maps a port only to a server, and the system's list
// of ports is the registry's, where each driver enters the ports it serves.
constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

QStringList platformPorts()
{
    QStringList ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = DWORD(std::size(name));
        wchar_t data[256];
        DWORD dataBytes = sizeof(data) - sizeof(wchar_t); // room left for the terminating zero
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataBytes);
        if (result == ERROR_MORE_DATA)
            continue; // not a port name: a driver's entry longer than any COM name
        if (result != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        data[dataBytes / sizeof(wchar_t)] = L'\0'; // a registry string need not end in one
        const QString port = QString::fromWCharArray(data).trimmed();
        if (portNumber(port))
            ports.append(port);
    }
    RegCloseKey(key);
    return ports;
}

bool mappingApplies(const QString &mapped)
{
    return !CAdapter::abilitiesOf(mapped).systemDevice;
}

QString unmappedPort(quint8 portNumber, const QStringList &)
{
    return CAdapter::PlatformPortName(portNumber);
}

QString stableDeviceName(const QString &device)
{
    return device;
}

bool isPresent(const QString &device)
{
    return systemPorts().contains(device, Qt::CaseInsensitive);
}
#else
// udev's links to each USB serial adapter, by make, model and serial number.
constexpr char kLinksById[] = "/dev/serial/by-id";

QStringList platformPorts()
{
    QStringList devices;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        devices.append(port.systemLocation());
    return devices;
}

bool mappingApplies(const QString &mapped)
{
    return !mapped.isEmpty();
}

QString unmappedPort(quint8 portNumber, const QStringList &systemPorts)
{
    if (portNumber < systemPorts.size())
        return systemPorts[portNumber];
    return CAdapter::PlatformPortName(portNumber);
}

QString stableDeviceName(const QString &device)
{
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

bool isPresent(const QString &device)
{
    return QFileInfo::exists(device);
}
#endif

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
    return stableOrder(platformPorts());
}

QString resolve(quint8 portNumber, const QString &mapped, const QStringList &systemPorts)
{
    return mappingApplies(mapped) ? mapped : unmappedPort(portNumber, systemPorts);
}

QString stableName(const QString &device)
{
    return CAdapter::abilitiesOf(device).systemDevice ? stableDeviceName(device) : device;
}

bool present(const QString &device)
{
    return isPresent(device);
}

} // namespace PortDevices
