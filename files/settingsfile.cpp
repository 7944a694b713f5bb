// Where the settings file lives. The program has always kept it beside the executable, which
// stays the rule wherever that works; an installed program in /usr/bin cannot write there, so
// each user gets one in the configuration folder instead.
#include "settingsfile.h"

#include "portdevices.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace SettingsFile {

namespace {

constexpr char kComputer[] = "COMP";
constexpr char kDevice[] = "DEVS";
constexpr char kPorts[] = "PORTS"; // only read
constexpr char kMonitor[] = "MONITOR";
constexpr char kMonitorFrameKeys[][7] = {"Left", "Top", "Width", "Height"};
constexpr char kWindow[] = "WINDOW";
constexpr char kWidthKey[] = "Width";
constexpr char kHeightKey[] = "Height";
constexpr char kCalibrationSplitKey[] = "CalibrationSplit";
constexpr char kDataSplitKey[] = "DataSplit";
// No screen is wider: a larger value is no size the window was ever given.
constexpr qint64 kMostPixels = 100000;
constexpr char kPortNumberKey[] = "PortNumber";
constexpr char kSpeedNumberKey[] = "SpeedNumber";
constexpr char kParityKey[] = "Parity";
constexpr char kStopBitsKey[] = "StopBits";
constexpr char kTimeOutKey[] = "TimeOut";
constexpr char kDeviceNumberKey[] = "DeviceNumber";

constexpr char kWindowProgram[] = "indicator-config";

#ifdef Q_OS_WIN
// On NTFS, QFileInfo reports only the read-only attribute, not the folder's rights: Program
// Files looks writable to it, and the file would be lost at close. Only trying tells; opening
// for appending and a temporary file leave nothing changed behind.
bool mayWriteBeside(const QFileInfo &file)
{
    if (file.exists()) {
        QFile existing(file.filePath());
        if (existing.open(QIODevice::Append))
            return true;
    }
    QTemporaryFile probe(QDir(file.absolutePath()).filePath(QStringLiteral("probe-XXXXXX")));
    return probe.open();
}
#else
bool mayWriteBeside(const QFileInfo &file)
{
    return (file.exists() && file.isWritable()) || QFileInfo(file.absolutePath()).isWritable();
}
#endif

// The lists and the device number are 8-bit: what does not fit is none of their rows.
quint8 readRow(const IniProfile &settings, QByteArrayView section, QByteArrayView key, quint8 fallback)
{
    const qint64 row = settings.readInteger(section, key, fallback);
    return row >= 0 && row <= 0xFF ? quint8(row) : 0xFF;
}

} // namespace

QString fileName(const QString &executablePath)
{
    const QFileInfo executable(executablePath);
    const QString name = executable.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot < 0 ? name : name.first(dot);
    return executable.dir().filePath(base + QStringLiteral(".ini"));
}

QString path(const QString &executablePath, bool prepareFolder)
{
    const QString beside = fileName(executablePath);
    const QFileInfo besideFile(beside);
    if (mayWriteBeside(besideFile))
        return beside;

    const QString configFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (configFolder.isEmpty())
        return beside; // no home to go to: saving at close fails and says so, as beside any read-only folder
    // Named after the executable rather than the application title, which is Russian and has a space.
    const QString base = besideFile.completeBaseName();
    const QDir ownFolder(QDir(configFolder).filePath(base));
    // The settings file itself is still created only when the window closes.
    if (prepareFolder)
        ownFolder.mkpath(QStringLiteral("."));
    return ownFolder.filePath(besideFile.fileName());
}

QString windowExecutable(const QString &programPath)
{
    return QFileInfo(programPath).dir().filePath(QLatin1String(kWindowProgram));
}

Connection readConnection(const IniProfile &settings)
{
    const Connection defaults;
    Connection connection;
    connection.line.portNumber = readRow(settings, kComputer, kPortNumberKey, defaults.line.portNumber);
    connection.line.speedNumber = readRow(settings, kComputer, kSpeedNumberKey, defaults.line.speedNumber);
    connection.line.parity = readRow(settings, kComputer, kParityKey, defaults.line.parity);
    connection.line.stopBits = readRow(settings, kComputer, kStopBitsKey, defaults.line.stopBits);
    connection.deviceNumber = readRow(settings, kDevice, kDeviceNumberKey, defaults.deviceNumber);
    return connection;
}

void writeConnection(IniProfile &settings, const Connection &connection)
{
    settings.writeInteger(kComputer, kPortNumberKey, connection.line.portNumber);
    settings.writeInteger(kComputer, kSpeedNumberKey, connection.line.speedNumber);
    settings.writeInteger(kComputer, kParityKey, connection.line.parity);
    settings.writeInteger(kComputer, kStopBitsKey, connection.line.stopBits);
    settings.writeInteger(kComputer, kTimeOutKey, connection.line.timeOut);
    settings.writeInteger(kDevice, kDeviceNumberKey, connection.deviceNumber);
}

std::optional<QRect> readMonitorFrame(const IniProfile &settings)
{
    std::array<qint64, 4> frame{};
    for (size_t i = 0; i < frame.size(); ++i) {
        const auto value = settings.value(kMonitor, kMonitorFrameKeys[i]);
        const auto number = value ? IniProfile::parseInteger(*value) : std::nullopt;
        if (!number)
            return std::nullopt;
        frame[i] = *number;
    }
    if (frame[2] <= 0 || frame[3] <= 0)
        return std::nullopt;
    return QRect(int(frame[0]), int(frame[1]), int(frame[2]), int(frame[3]));
}

void writeMonitorFrame(IniProfile &settings, const QRect &frame)
{
    const int values[] = {frame.left(), frame.top(), frame.width(), frame.height()};
    for (size_t i = 0; i < std::size(values); ++i)
        settings.writeInteger(kMonitor, kMonitorFrameKeys[i], values[i]);
}

WindowLayout readWindowLayout(const IniProfile &settings)
{
    const auto positive = [&settings](const char *key) {
        const qint64 value = settings.readInteger(kWindow, key, 0);
        return value > 0 && value <= kMostPixels ? int(value) : 0;
    };
    WindowLayout layout;
    if (const QSize size(positive(kWidthKey), positive(kHeightKey)); !size.isEmpty())
        layout.size = size;
    layout.calibrationSplit = positive(kCalibrationSplitKey);
    layout.dataSplit = positive(kDataSplitKey);
    return layout;
}

void writeWindowLayout(IniProfile &settings, const WindowLayout &layout)
{
    const std::pair<const char *, int> values[] = {{kWidthKey, layout.size.width()},
                                                   {kHeightKey, layout.size.height()},
                                                   {kCalibrationSplitKey, layout.calibrationSplit},
                                                   {kDataSplitKey, layout.dataSplit}};
    for (const auto &[key, value] : values) {
        if (value > 0)
            settings.writeInteger(kWindow, key, value);
    }
}

std::array<QString, kPortCount> mappedPorts(const IniProfile &settings)
{
    std::array<QString, kPortCount> ports;
    for (int i = 0; i < kPortCount; ++i) {
        const auto mapped = settings.value(kPorts, PortDevices::caption(quint8(i)).toLatin1());
        ports[i] = mapped ? QString::fromLocal8Bit(*mapped) : QString();
    }
    return ports;
}

} // namespace SettingsFile
