#include "simoptions.h"

#include "addresslist.h"
#include "linesettings.h"
#include "simdevice.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cmath>

namespace {

// A turnaround longer than this is no longer a slow device but a dead one; --silent is that.
constexpr int kLongestDelayMs = 10000;

// A whole number within [lowest, highest], decimal or 0x-hexadecimal.
std::optional<qint64> number(const QString &text, qint64 lowest, qint64 highest)
{
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const qint64 value = hex ? text.mid(2).toLongLong(&ok, 16) : text.toLongLong(&ok, 10);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

// "3=12.5": an address and a number, or nothing.
std::optional<std::pair<quint8, double>> addressValue(const QString &text, double lowest, double highest)
{
    const QStringList parts = text.split(QLatin1Char('='));
    const auto address = number(parts.first().trimmed(), 1, SimDevice::kHighestSlaveAddress);
    bool ok = false;
    const double value = parts.size() == 2 ? parts.last().trimmed().toDouble(&ok) : 0.0;
    if (parts.size() != 2 || !address || !ok || !std::isfinite(value) || value < lowest || value > highest)
        return std::nullopt;
    return std::pair(quint8(*address), value);
}

QString baudRates()
{
    QStringList rates;
    for (quint32 rate : LineSettings::BaudRates)
        rates << QString::number(rate);
    return rates.join(QStringLiteral(", "));
}

class Reader
{
public:
    Reader(const QCommandLineParser &parser, QString *error) : m_parser(parser), m_error(error) {}

    template <typename T>
    void read(const QString &name, T &target, qint64 lowest, qint64 highest)
    {
        if (!m_parser.isSet(name))
            return;
        const QString text = m_parser.value(name);
        if (const auto value = number(text, lowest, highest))
            target = T(*value);
        else
            fail(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                     .arg(name).arg(lowest).arg(highest).arg(text));
    }

    void fail(const QString &message)
    {
        if (m_error->isEmpty())
            *m_error = message;
    }

private:
    const QCommandLineParser &m_parser;
    QString *m_error;
};

} // namespace

QString simUsage()
{
    return QStringLiteral(
        "Usage: indicator-sim [options]\n"
        "A simulated digital indicator: a Modbus RTU slave on a pseudo-terminal (default), a\n"
        "serial port, a TCP port as behind a serial device server, or units behind a Modbus\n"
        "TCP gateway. The first line on standard output is the device path (or\n"
        "tcp://127.0.0.1:PORT, modbus-tcp://127.0.0.1:PORT) for the master; the log goes to\n"
        "standard error.\n"
        "\n"
        "Line:\n"
        "  --link PATH           also make a symbolic link PATH to the pseudo-terminal\n"
        "  --device PATH         serve this serial port instead of a pseudo-terminal\n"
        "  --tcp PORT            serve RTU over TCP on 127.0.0.1:PORT instead, one master\n"
        "                        at a time; 0 picks a free port\n"
        "  --modbus-tcp PORT     play a Modbus TCP gateway on 127.0.0.1:PORT instead, with\n"
        "                        the units of --slave behind it, one master at a time; a\n"
        "                        unit identifier with no unit, or a silent unit, gets\n"
        "                        exception 0B after the gateway's 500 ms; 0 picks a free port\n"
        "  --gateway-no-path     a unit identifier with no unit gets exception 0A at once\n"
        "  --baud N              one of %1 (19200)\n"
        "  --parity P            none, even or odd (none)\n"
        "  --stop-bits N         1 or 2 (1)\n"
        "  --slave LIST          addresses it answers to, 1..247, as 1, 1-5 or 1-3,7: one\n"
        "                        device with its own settings at each (1)\n"
        "  --tap PATH            a second pseudo-terminal, linked at PATH, that carries every\n"
        "                        byte of the line both ways, as a listener on the pair hears\n"
        "                        them; what is written to it is ignored\n"
        "  --tap-pieces SEED     the tap delivers in random pieces of 1..32 bytes, 0..3 ms\n"
        "                        apart, as USB adapters do; the same SEED, the same pieces\n"
        "Device:\n"
        "  --self-diag N         self-diagnostic flag word (0)\n"
        "  --eeprom-err N        EEPROM error flag word (0)\n"
        "  --reading X           a steady input that every unit reads as X, instead of the\n"
        "                        slowly moving one (the display shows it to its digits)\n"
        "  --noise S             normal noise of standard deviation S on that reading (0)\n"
        "  --reading-at A=X      the unit at address A reads X instead; may be repeated\n"
        "Faults:\n"
        "  --silent              never answer\n"
        "  --fall-silent A=S     the unit at address A stops answering S seconds after the\n"
        "                        start, as a unit unplugged; may be repeated\n"
        "  --corrupt-every N     give every N-th reply a wrong CRC\n"
        "  --exception-every N   answer every N-th request with exception 04\n"
        "  --delay MS            wait MS milliseconds before each reply (at most 10000)\n"
        "  --wire-timing         take requests and give replies at the pace of the line:\n"
        "                        11 bits a character at the baud rate\n"
        "  --mismatch-noise      answer a master at another speed or parity with garbage\n"
        "                        (without it: silence, as a pseudo-terminal shows them)\n"
        "  --misstore REG        store register REG (0x0A06) with its lowest bit flipped\n"
        "                        whenever a write reaches it: a read-back then differs\n"
        "Log:\n"
        "  --verbose             print every request and reply in hex with a time stamp\n"
        "  --help                show this text\n")
        .arg(baudRates());
}

std::optional<SimOptions> parseSimOptions(const QStringList &arguments, QString *error)
{
    error->clear();
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char *name : {"link", "device", "tcp", "modbus-tcp", "tap", "tap-pieces", "baud", "parity", "stop-bits", "slave", "corrupt-every",
                             "exception-every", "delay", "self-diag", "eeprom-err", "misstore", "reading", "noise",
                             "reading-at", "fall-silent"})
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char *name : {"silent", "wire-timing", "mismatch-noise", "gateway-no-path", "verbose", "help"})
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));

    // QCommandLineParser takes the first argument for the program name.
    if (!parser.parse(QStringList{QStringLiteral("indicator-sim")} + arguments)) {
        *error = parser.errorText();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return std::nullopt;
    }

    SimOptions options;
    Reader reader(parser, error);
    options.help = parser.isSet(QStringLiteral("help"));
    options.linkPath = parser.value(QStringLiteral("link"));
    options.devicePath = parser.value(QStringLiteral("device"));
    if (parser.isSet(QStringLiteral("link")) && options.linkPath.isEmpty())
        reader.fail(QStringLiteral("--link takes a path"));
    if (parser.isSet(QStringLiteral("device")) && options.devicePath.isEmpty())
        reader.fail(QStringLiteral("--device takes a path"));
    if (!options.linkPath.isEmpty() && !options.devicePath.isEmpty())
        reader.fail(QStringLiteral("--link names a pseudo-terminal; with --device there is none"));
    reader.read(QStringLiteral("tcp"), options.tcpPort, 0, 65535);
    if (options.tcpPort >= 0 && !(options.linkPath.isEmpty() && options.devicePath.isEmpty()))
        reader.fail(QStringLiteral("--tcp serves a TCP port; with it there is no pseudo-terminal or serial port"));
    reader.read(QStringLiteral("modbus-tcp"), options.modbusTcpPort, 0, 65535);
    const bool gateway = options.modbusTcpPort >= 0;
    if (gateway && !(options.linkPath.isEmpty() && options.devicePath.isEmpty() && options.tcpPort < 0))
        reader.fail(QStringLiteral("--modbus-tcp serves a TCP port; with it there is no pseudo-terminal, serial port "
                                   "or --tcp"));
    options.gatewayNoPath = parser.isSet(QStringLiteral("gateway-no-path"));
    if (options.gatewayNoPath && !gateway)
        reader.fail(QStringLiteral("--gateway-no-path is the answer of a gateway: it needs --modbus-tcp"));

    options.tapPath = parser.value(QStringLiteral("tap"));
    if (parser.isSet(QStringLiteral("tap")) && options.tapPath.isEmpty())
        reader.fail(QStringLiteral("--tap takes a path"));
    if (!options.tapPath.isEmpty() && options.tcpPort >= 0)
        reader.fail(QStringLiteral("--tap listens to a serial line; over --tcp there is none"));
    if (!options.tapPath.isEmpty() && gateway)
        reader.fail(QStringLiteral("--tap listens to a serial line; a gateway passes on only its own replies"));
    if (parser.isSet(QStringLiteral("tap-pieces"))) {
        quint32 seed = 0;
        reader.read(QStringLiteral("tap-pieces"), seed, 0, UINT32_MAX);
        options.tapPieceSeed = seed;
        if (options.tapPath.isEmpty())
            reader.fail(QStringLiteral("--tap-pieces shapes the tap: it needs --tap"));
    }

    reader.read(QStringLiteral("baud"), options.baud, 0, LineSettings::BaudRates.back());
    if (!LineSettings::speedNumber(options.baud))
        reader.fail(QStringLiteral("--baud takes one of %1").arg(baudRates()));

    if (parser.isSet(QStringLiteral("parity"))) {
        const QString parity = parser.value(QStringLiteral("parity"));
        const auto &names = SimDevice::kParityNames;
        const auto found = std::find_if(names.begin(), names.end(),
                                        [&](const char *name) { return parity == QLatin1StringView(name); });
        if (found == names.end())
            reader.fail(QStringLiteral("--parity takes none, even or odd, not \"%1\"").arg(parity));
        else
            options.parityCode = quint16(found - names.begin());
    }
    reader.read(QStringLiteral("stop-bits"), options.stopBits, 1, 2);
    if (parser.isSet(QStringLiteral("slave"))) {
        const QString slaves = parser.value(QStringLiteral("slave"));
        QString why;
        const QList<quint8> addresses = AddressList::parse(slaves, &why);
        if (addresses.isEmpty()) {
            reader.fail(QStringLiteral("--slave \"%1\": %2").arg(slaves, why));
        } else {
            options.slaves.assign(addresses.begin(), addresses.end());
            std::sort(options.slaves.begin(), options.slaves.end());
        }
    }
    reader.read(QStringLiteral("corrupt-every"), options.corruptEvery, 1, INT_MAX);
    if (options.corruptEvery > 0 && gateway)
        reader.fail(QStringLiteral("--corrupt-every spoils a CRC; a Modbus TCP frame has none"));
    reader.read(QStringLiteral("exception-every"), options.exceptionEvery, 1, INT_MAX);
    reader.read(QStringLiteral("delay"), options.delayMs, 0, kLongestDelayMs);
    reader.read(QStringLiteral("self-diag"), options.selfDiag, 0, 0xFFFF);
    reader.read(QStringLiteral("eeprom-err"), options.eepromErrors, 0, 0xFFFF);
    reader.read(QStringLiteral("misstore"), options.misstoreRegister, 0, 0xFFFF);
    // What a four-digit display can show, and a noise that leaves the reading a reading.
    constexpr double kLargestReading = 1e6;
    constexpr double kLargestNoise = 1e3;
    constexpr double kLongestRunS = 7 * 24 * 3600;
    const auto decimal = [&](const char *name, double lowest, double highest) -> std::optional<double> {
        const QString text = parser.value(QString::fromLatin1(name));
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < lowest || value > highest) {
            reader.fail(QStringLiteral("--%1 takes a number from %2 to %3, not \"%4\"")
                            .arg(QLatin1StringView(name)).arg(lowest).arg(highest).arg(text));
            return std::nullopt;
        }
        return value;
    };
    if (parser.isSet(QStringLiteral("reading")))
        options.reading = decimal("reading", -kLargestReading, kLargestReading);
    if (parser.isSet(QStringLiteral("noise")))
        options.noise = decimal("noise", 0.0, kLargestNoise).value_or(0.0);
    const auto perUnit = [&](const char *name, std::map<quint8, double> &target, double lowest, double highest) {
        for (const QString &text : parser.values(QString::fromLatin1(name))) {
            if (const auto unit = addressValue(text, lowest, highest))
                target[unit->first] = unit->second;
            else
                reader.fail(QStringLiteral("--%1 takes ADDRESS=NUMBER, an address from 1 to %2 and a number from %3 to %4, not \"%5\"")
                                .arg(QLatin1StringView(name)).arg(SimDevice::kHighestSlaveAddress).arg(lowest).arg(highest).arg(text));
        }
    };
    perUnit("reading-at", options.readingAt, -kLargestReading, kLargestReading);
    perUnit("fall-silent", options.fallSilentAt, 0.0, kLongestRunS);
    if (options.noise > 0.0 && !options.reading && options.readingAt.empty())
        reader.fail(QStringLiteral("--noise lies on a steady reading: it needs --reading or --reading-at"));
    options.silent = parser.isSet(QStringLiteral("silent"));
    options.wireTiming = parser.isSet(QStringLiteral("wire-timing"));
    options.mismatchNoise = parser.isSet(QStringLiteral("mismatch-noise"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));

    if (!error->isEmpty())
        return std::nullopt;
    return options;
}
