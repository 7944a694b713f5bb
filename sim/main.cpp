// indicator-sim: a simulated indicator answering as a Modbus RTU slave, or units behind a
// Modbus TCP gateway. The first line on standard output is the device path (or
// tcp://127.0.0.1:PORT, modbus-tcp://127.0.0.1:PORT) a master opens; everything else goes to
// standard error.
#include "linesettings.h"
#include "linetap.h"
#include "simdevice.h"
#include "simline.h"
#include "simoptions.h"
#include "simserver.h"

#include <QStringList>

#include <atomic>
#include <csignal>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitBadOptions = 2;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void requestStop(int) { stopRequested = true; }

void stopOnSignals()
{
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a signal must wake the waits of the request loop.
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A reply to a master whose connection has just dropped fails with EPIPE instead of
    // ending the simulator.
    signal(SIGPIPE, SIG_IGN);
}

// A symbolic link at `path` to `target`. A link left behind by an earlier run is replaced;
// anything else at `path` is left alone.
bool makeLink(const QByteArray &path, const QByteArray &target)
{
    struct stat existing{};
    if (lstat(path.constData(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            SimServer::log(QStringLiteral("%1 exists and is not a symbolic link; it stays as it is")
                               .arg(QString::fromLocal8Bit(path)));
            return false;
        }
        const QByteArray fresh = path + ".new";
        unlink(fresh.constData());
        if (symlink(target.constData(), fresh.constData()) == 0 && rename(fresh.constData(), path.constData()) == 0)
            return true;
    } else if (symlink(target.constData(), path.constData()) == 0) {
        return true;
    }
    SimServer::log(QStringLiteral("cannot make the link %1: %2")
                       .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(strerror(errno))));
    return false;
}

// Only while it still leads to our device: another simulator may have taken the name since.
void removeLink(const QByteArray &path, const QByteArray &target)
{
    char points[4096] = {};
    const ssize_t n = readlink(path.constData(), points, sizeof points - 1);
    if (n > 0 && QByteArray(points, n) == target)
        unlink(path.constData());
}

SimDevice::Settings deviceSettings(const SimOptions &options, quint8 address)
{
    SimDevice::Settings settings;
    settings.netAddress = address;
    settings.speedCode = LineSettings::speedNumber(options.baud).value_or(0); // options checked the rate
    settings.stopBitsCode = quint16(options.stopBits - 1);
    settings.parityCode = options.parityCode;
    settings.selfDiag = options.selfDiag;
    settings.eepromErrors = options.eepromErrors;
    const auto own = options.readingAt.find(address);
    settings.reading = own != options.readingAt.end() ? std::optional(own->second) : options.reading;
    settings.noise = options.noise;
    settings.noiseSeed = address; // each unit its own noise, the same on every run
    return settings;
}

SimLine::Settings lineSettings(const SimOptions &options)
{
    constexpr char kLibmodbusParity[] = "NEO"; // by parity code
    return {options.baud, kLibmodbusParity[options.parityCode], options.stopBits, options.slaves.front()};
}

std::unique_ptr<SimLine> openLine(const SimOptions &options, QString *error)
{
    if (options.tcpPort >= 0)
        return SimLine::listenOnTcp(quint16(options.tcpPort), lineSettings(options), error);
    if (options.modbusTcpPort >= 0)
        return SimLine::listenAsGateway(quint16(options.modbusTcpPort), lineSettings(options), error);
    if (!options.devicePath.isEmpty())
        return SimLine::openSerialPort(options.devicePath, lineSettings(options), error);
    return SimLine::openPseudoTerminal(lineSettings(options), error);
}

SimServer::Devices devicesOf(const SimOptions &options)
{
    SimServer::Devices devices;
    for (quint8 address : options.slaves)
        devices.emplace(address, SimDevice(deviceSettings(options, address)));
    return devices;
}

QString describe(const SimOptions &options, const QString &path, const QString &tapPath)
{
    QStringList slaves;
    for (quint8 address : options.slaves)
        slaves << QString::number(address);
    QStringList parts{QStringLiteral("%1 %2 on %3, %4 baud, parity %5, %6 stop bit(s)")
                          .arg(QLatin1StringView(slaves.size() == 1 ? "slave" : "slaves"), slaves.join(QStringLiteral(", ")))
                          .arg(path)
                          .arg(options.baud)
                          .arg(QLatin1StringView(SimDevice::kParityNames[options.parityCode]))
                          .arg(options.stopBits)};
    if (!tapPath.isEmpty())
        parts << QStringLiteral("tap on %1").arg(tapPath);
    if (options.modbusTcpPort >= 0)
        parts << (options.gatewayNoPath
                      ? QStringLiteral("a Modbus TCP gateway: other unit identifiers get exception 0A at once")
                      : QStringLiteral("a Modbus TCP gateway: other unit identifiers get exception 0B after %1 ms")
                            .arg(SimServer::kGatewayTimeout.count()));
    if (options.tapPieceSeed)
        parts << QStringLiteral("tap in random pieces, seed %1").arg(*options.tapPieceSeed);
    if (options.reading)
        parts << QStringLiteral("steady reading %1").arg(*options.reading);
    if (options.noise > 0.0)
        parts << QStringLiteral("noise %1").arg(options.noise);
    for (const auto &[address, reading] : options.readingAt)
        parts << QStringLiteral("slave %1 reads %2").arg(address).arg(reading);
    for (const auto &[address, seconds] : options.fallSilentAt)
        parts << QStringLiteral("slave %1 silent after %2 s").arg(address).arg(seconds);
    if (options.silent)
        parts << QStringLiteral("silent");
    if (options.corruptEvery)
        parts << QStringLiteral("wrong CRC every %1 replies").arg(options.corruptEvery);
    if (options.exceptionEvery)
        parts << QStringLiteral("exception every %1 replies").arg(options.exceptionEvery);
    if (options.delayMs)
        parts << QStringLiteral("%1 ms turnaround").arg(options.delayMs);
    if (options.wireTiming)
        parts << QStringLiteral("wire timing");
    if (options.mismatchNoise)
        parts << QStringLiteral("noise at another speed or parity");
    if (options.misstoreRegister >= 0)
        parts << QStringLiteral("register 0x%1 misstored").arg(options.misstoreRegister, 4, 16, QLatin1Char('0'));
    return QStringLiteral("indicator-sim: ") + parts.join(QStringLiteral("; "));
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    const std::optional<SimOptions> options = parseSimOptions(arguments, &error);
    if (!options) {
        fprintf(stderr, "indicator-sim: %s\n\n%s", qPrintable(error), qPrintable(simUsage()));
        return kExitBadOptions;
    }
    if (options->help) {
        fputs(qPrintable(simUsage()), stdout);
        return 0;
    }
    stopOnSignals();

    const std::unique_ptr<SimLine> line = openLine(*options, &error);
    if (!line) {
        SimServer::log(error);
        return kExitFailure;
    }
    QString tapTarget;
    if (!options->tapPath.isEmpty()) {
        std::unique_ptr<LineTap> tap = LineTap::open(options->tapPieceSeed, &error);
        if (tap)
            tapTarget = tap->path();
        if (!tap || !line->tapInto(std::move(tap), &error)) {
            SimServer::log(error);
            return kExitFailure;
        }
    }
    const QByteArray linkPath = options->linkPath.toLocal8Bit();
    const QByteArray target = line->path().toLocal8Bit();
    if (!linkPath.isEmpty() && !makeLink(linkPath, target))
        return kExitFailure;
    const QByteArray tapLink = options->tapPath.toLocal8Bit();
    if (!tapLink.isEmpty() && !makeLink(tapLink, tapTarget.toLocal8Bit())) {
        if (!linkPath.isEmpty())
            removeLink(linkPath, target);
        return kExitFailure;
    }

    // The contract with whoever started us: the device path alone on the first line, at once.
    fprintf(stdout, "%s\n", target.constData());
    fflush(stdout);
    SimServer::log(describe(*options, line->path(), tapTarget));

    SimServer::Devices devices = devicesOf(*options);
    SimServer server(*line, devices,
                     {options->silent, options->corruptEvery, options->exceptionEvery, options->delayMs,
                      options->wireTiming, options->verbose, options->mismatchNoise, options->misstoreRegister,
                      options->fallSilentAt, options->gatewayNoPath});
    const bool ok = server.run(stopRequested);

    if (!linkPath.isEmpty())
        removeLink(linkPath, target);
    if (!tapLink.isEmpty())
        removeLink(tapLink, tapTarget.toLocal8Bit());
    SimServer::log(QStringLiteral("indicator-sim: stopped"));
    return ok ? 0 : kExitFailure;
}
