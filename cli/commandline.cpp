#include "commandline.h"

#include "addresslist.h"
#include "devicesearch.h"
#include "framewords.h"
#include "linesettings.h"
#include "testreport.h"
#include "values.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace CommandLine {

namespace {

// Polls closer than this would keep the line busy with nothing new to show; a poll of the
// six live values alone takes about 60 ms at 19200 baud.
constexpr int kShortestIntervalMs = 10;
constexpr int kLongestIntervalMs = 24 * 3600 * 1000;
// A week of listening.
constexpr qint64 kLongestDurationS = 7 * 24 * 3600;
// σ needs two readings; a million is more than a week's test gives a unit.
constexpr qint64 kFewestMinReadings = 2;
constexpr qint64 kMostMinReadings = 1000000;

struct Option
{
    const char *name;
    const char *value;   // what follows it, or nullptr for an option alone
    const char *command; // nullptr for a global option
    const char *help;    // UTF-8, as every text here: it may name a caption (Нечет)
};

constexpr Option kOptions[] = {
    {"--port", "DEV", nullptr, "a device path (/dev/ttyUSB0) or COM1.., mapped as the window maps it"},
    {"--baud", "N", nullptr, "the line's speed: 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200"},
    {"--parity", "none|even|odd", nullptr, "the line's parity"},
    {"--stop-bits", "1|2", nullptr, "the line's stop bits"},
    {"--address", "N", nullptr, "the device's address, 1..247"},
    {"--json", nullptr, nullptr, "print JSON instead of lines of text"},
    {"--help", nullptr, nullptr, "describe the program, or the command given"},
    {"--with-line-settings", nullptr, "load", "write the four port.* values too, last"},
    {"--dry-run", nullptr, "load", "show what would be written and write nothing"},
    {"--force", nullptr, "load", "write a file of another device, or one the display rules refuse"},
    {"--addresses", "LIST", "scan watch test", "the addresses to try, to poll, or to test: 1-5, 3,8,21 or 1-3,7 (1..247)"},
    {"--all", nullptr, "scan", "every address at the one line setting given or saved"},
    {"--bauds", "LIST", "scan", "the speeds to try, separated by commas (all)"},
    {"--parities", "LIST", "scan", "the parities to try: none,even,odd (all)"},
    {"--interval", "MS", "watch", "milliseconds from one poll to the next (1000)"},
    {"--count", "N", "watch", "stop after N polls (none: until Ctrl+C)"},
    {"--csv", nullptr, "watch", "one CSV row per poll, after a header"},
    {"--duration", "S", "listen test", "stop after S seconds (listen: until Ctrl+C; test: at least, 15)"},
    {"--max-duration", "S", "test", "go on past --duration until each answering unit has its readings, S seconds at most (120)"},
    {"--expect", "X", "test", "the reading every unit should give"},
    {"--tolerance", "X", "test", "how far a unit's mean may lie from it, either way"},
    {"--sigma", "X", "test", "the largest standard deviation of a unit's readings (a third of the tolerance)"},
    {"--min-readings", "N", "test", "the fewest readings a unit passes with, 2 or more (20)"},
    {"--report", "FILE", "test", "write the window's report of the test to FILE.html, or print it to FILE.pdf"},
    {"--modbus-tcp", "[ADDR:]PORT", "serve", "take Modbus TCP clients at PORT, on 127.0.0.1 unless ADDR is given; 0: a free port"},
    {"--rtu-tcp", "[ADDR:]PORT", "serve", "take clients of RTU frames over TCP at PORT, as --modbus-tcp"},
};

struct Command
{
    const char *name;
    const char *synopsis;
    const char *summary;
    const char *details;
    int fewestArguments;
    int mostArguments; // -1: any number
};

constexpr Command kCommands[] = {
    {"list", "list", "every parameter: key, kind, registers, values, access, caption",
     "Lists every parameter the program knows: its key, its kind (float, code, flag, number, text,\n"
     "flags), its first register in hexadecimal and its length in registers, its limits or codes,\n"
     "whether it may be written, and the window's caption for it. Nothing is sent.\n",
     0, 0},
    {"read", "read [KEY...]", "the values of the keys given, or of every parameter",
     "Reads the parameters named, or every one when none is: a line \"key = value\" each, codes\n"
     "with their caption and texts in quotes; with --json one object {key: value}, codes as\n"
     "numbers. A value that cannot be read is named on standard error and left out; silence\n"
     "ends the reading at once.\n",
     0, -1},
    {"write", "write KEY=VALUE...", "write values, all judged before the first is sent",
     "Writes the values in the order given. Every value is judged first: a number out of its\n"
     "limits or no number at all, a code the device lacks, a text too long or with characters\n"
     "the device cannot show is refused, never clamped, and then nothing at all is sent (exit\n"
     "status 2). So are values that break the Mode page's rules together with each other or\n"
     "with what the device holds, read first: a bottom above its top, a set point above 120 %\n"
     "of the top range, a top range the digits cannot show at the decimal point. Codes may be\n"
     "given by number or by caption (port.parity=Нечет). A write that fails stops the rest.\n",
     1, -1},
    {"save", "save FILE", "keep the device's settings in a profile file",
     "Reads the eleven Mode values, the four line settings and the name, with the firmware\n"
     "version, and writes them as a JSON profile. When any read fails, the parameters are named\n"
     "and no file is written.\n",
     1, 1},
    {"compare", "compare FILE", "show how the device differs from a profile file",
     "Reads the device and prints a line per value of the file, \"*\" before those that differ,\n"
     "and how the device's name and firmware differ from the file's. Exit status 3 when a value\n"
     "differs.\n",
     1, 1},
    {"load", "load FILE [--with-line-settings] [--dry-run] [--force]",
     "write what differs from a profile file, each value read back",
     "Writes into the device the values of the file that it does not hold, in an order the\n"
     "device accepts at each step, and reads each back. Every value of the file is judged\n"
     "first, with the Mode page's rules between them; one that is refused writes nothing (exit\n"
     "status 2). A set point above 120 % of the top range, or a top range the digits cannot\n"
     "show at the decimal point, passes in a backup of the folder below, and with --force. A\n"
     "file of a device of another name or firmware is written only with --force (without it:\n"
     "exit status 2, the names shown). The line settings are written only with\n"
     "--with-line-settings, last; they take effect when the device restarts. Before the first\n"
     "write the device's settings are saved under ~/.local/share/indicator-config/backups/.\n"
     "Exit status 3 when a value reads back different.\n",
     1, 1},
    {"scan", "scan [--addresses LIST] [--bauds LIST] [--parities LIST]", "search the line for devices",
     "Probes each address at each speed and parity, the given or saved setting and address\n"
     "first, as the window's search does; stop bits stay as given. A line per device found;\n"
     "progress on standard error. With --all, every address at the one setting given or saved\n"
     "alone, a line (or a JSON object) per unit. Exit status 1 when no indicator answers.\n",
     0, 0},
    {"watch", "watch [--interval MS] [--count N] [--csv] [--addresses LIST]", "poll the live reading and the flag words",
     "Reads the live values and the self-diagnostic and EEPROM flag words, a line per poll,\n"
     "until Ctrl+C or the count. With --addresses, each unit in turn, a line per unit and an\n"
     "address column.\n",
     0, 0},
    {"test", "test --expect X --tolerance X [--sigma X] [--min-readings N] [--duration S] [--max-duration S] [--addresses LIST] [--report FILE]",
     "judge units against one reference signal",
     "Polls the units in turn for the duration, and past it until each unit that answers has\n"
     "--min-readings readings, for --max-duration at most; a silent unit holds no one up. Then\n"
     "judges each: it answered through the whole test (at most a tenth of its time without an\n"
     "answer, counted from its last reading before a poll it did not answer), gave at least\n"
     "--min-readings readings, set no self-diagnostic or EEPROM flag, its mean lies within the\n"
     "tolerance of the expected value and the sample standard deviation of its readings, of two\n"
     "at least, is at or below --sigma. A line (or a JSON object) per unit with its figures and\n"
     "verdict. With --report, the window's report of the test as a page (FILE.html) or a PDF\n"
     "document on A4 (FILE.pdf). Exit status 3 when any unit fails; 1 when the port is lost during\n"
     "the test, every unit then untested, or when the report cannot be written.\n",
     0, 0},
    {"listen", "listen [--duration S]", "hear a line that another master drives, sending nothing",
     "Opens the port only to hear it, and sends nothing: a master already polls the line. Prints\n"
     "each request with its reply, decoded (\"адрес 3: чтение: верхняя граница (0x0A06, 2 рег.)\n"
     "→ 150\"), a request that met no reply within the time-out, a reply without its request,\n"
     "and the bytes that are no frame, in hex. Frames are found by their lengths and CRC, not by\n"
     "the pauses between them, so a USB adapter that hands bytes over in pieces does not cut\n"
     "them. With --json, a JSON object per frame (time in microseconds since 1970, direction,\n"
     "bytes, decoding), as the window's capture files hold them. On Ctrl+C or after the\n"
     "duration, the requests, replies, time-outs, CRC errors and reply times of each address.\n"
     "--address is not used.\n",
     0, 0},
    {"serve", "serve [--modbus-tcp [ADDR:]PORT] [--rtu-tcp [ADDR:]PORT]", "share the line with clients on the network",
     "Opens the line and serves it to several clients at once, at most 16: as Modbus TCP (a SCADA,\n"
     "mbpoll -m tcp, the window's modbus-tcp://) and as RTU frames over TCP (the window's tcp://),\n"
     "either or both. Requests go out one at a time in the order they came, with the line's\n"
     "time-outs. Reads (0x03) and writes of registers (0x10) go to the line, at most 47 registers\n"
     "read or 45 written; a Modbus TCP client gets exception 01 for any other function, 03 for\n"
     "another count, 0A for unit 0 or 248..255, without the line being touched; 06 for a second\n"
     "request while its first is under way; 0B when the unit does not answer; a unit's own\n"
     "exception as it gave it. An RTU client hears only the units: silence for all of these but\n"
     "a unit's exception. A client idle for 60 s is let go. Each client is named on standard\n"
     "error as it comes and goes; Ctrl+C ends. --address is not used.\n",
     0, 0},
    {"completion", "completion bash", "print the bash completion script", "", 1, 1},
};

// An option's commands are named in one text, separated by spaces.
bool belongsTo(const Option &option, const QString &command)
{
    return option.command && QString::fromLatin1(option.command).split(u' ').contains(command);
}

const Option *findOption(const QString &name)
{
    const auto found = std::find_if(std::begin(kOptions), std::end(kOptions),
                                    [&](const Option &option) { return name == QLatin1String(option.name); });
    return found == std::end(kOptions) ? nullptr : found;
}

const Command *findCommand(const QString &name)
{
    const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const Command &command) { return name == QLatin1String(command.name); });
    return found == std::end(kCommands) ? nullptr : found;
}

// Decimal digits only, within the bounds.
std::optional<qint64> wholeNumber(const QString &text, qint64 lowest, qint64 highest)
{
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

// A decimal number with a point, finite.
std::optional<double> decimal(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<quint8> speedOf(const QString &text)
{
    const std::optional<qint64> baud = wholeNumber(text, 0, LineSettings::BaudRates.back());
    return baud ? LineSettings::speedNumber(quint32(*baud)) : std::nullopt;
}

// Reads the options' values into the invocation; false with error set.
class Reader
{
public:
    Reader(Invocation &invocation, QString *error) : m_invocation(invocation), m_error(error) {}

    bool take(const QString &name, const QString &value)
    {
        Invocation &i = m_invocation;
        if (name == QLatin1String("--port")) {
            // A control character names no port a person meant, and would act on the terminal
            // in every message that names the port.
            const bool control = std::any_of(value.begin(), value.end(),
                                             [](QChar c) { return c.category() == QChar::Other_Control; });
            if (value.isEmpty() || control)
                return fail(QStringLiteral("--port takes a device path or COM1.., not \"%1\"").arg(value));
            i.port = value;
        } else if (name == QLatin1String("--baud")) {
            if (!(i.speedNumber = speedOf(value)))
                return fail(QStringLiteral("--baud takes one of %1, not \"%2\"").arg(baudList(), value));
        } else if (name == QLatin1String("--parity")) {
            if (!(i.parity = LineSettings::parityRow(value)))
                return fail(QStringLiteral("--parity takes none, even or odd, not \"%1\"").arg(value));
        } else if (name == QLatin1String("--stop-bits")) {
            const std::optional<qint64> count = wholeNumber(value, 1, 2);
            if (!count)
                return fail(QStringLiteral("--stop-bits takes 1 or 2, not \"%1\"").arg(value));
            i.stopBits = LineSettings::stopBitsRow(double(*count));
        } else if (name == QLatin1String("--address")) {
            const auto address = wholeNumber(value, DeviceSearch::kFirstAddress, DeviceSearch::kLastAddress);
            if (!address)
                return fail(QStringLiteral("--address takes a whole number from 1 to 247, not \"%1\"").arg(value));
            i.address = int(*address);
        } else if (name == QLatin1String("--addresses")) {
            return takeAddresses(value);
        } else if (name == QLatin1String("--bauds")) {
            return takeList(value, i.speeds, speedOf, QStringLiteral("--bauds takes speeds among %1").arg(baudList()));
        } else if (name == QLatin1String("--parities")) {
            return takeList(value, i.parities, LineSettings::parityRow,
                            QStringLiteral("--parities takes none, even and odd"));
        } else if (name == QLatin1String("--interval")) {
            const auto interval = wholeNumber(value, kShortestIntervalMs, kLongestIntervalMs);
            if (!interval)
                return fail(QStringLiteral("--interval takes milliseconds from %1 to %2, not \"%3\"")
                                .arg(kShortestIntervalMs).arg(kLongestIntervalMs).arg(value));
            i.intervalMs = int(*interval);
        } else if (name == QLatin1String("--count")) {
            const auto count = wholeNumber(value, 1, std::numeric_limits<qint64>::max());
            if (!count)
                return fail(QStringLiteral("--count takes a whole number above 0, not \"%1\"").arg(value));
            i.count = *count;
        } else if (name == QLatin1String("--expect") || name == QLatin1String("--tolerance")
                   || name == QLatin1String("--sigma")) {
            const std::optional<double> number = decimal(value);
            const bool limit = name != QLatin1String("--expect");
            if (!number || (limit && *number < 0))
                return fail(QStringLiteral("%1 takes a%2 number, not \"%3\"")
                                .arg(name, limit ? QStringLiteral(" non-negative") : QString(), value));
            (name == QLatin1String("--expect") ? i.expected : name == QLatin1String("--tolerance") ? i.tolerance : i.sigmaLimit) = number;
        } else if (name == QLatin1String("--min-readings")) {
            const auto readings = wholeNumber(value, kFewestMinReadings, kMostMinReadings);
            if (!readings)
                return fail(QStringLiteral("--min-readings takes a whole number from %1 to %2, not \"%3\"")
                                .arg(kFewestMinReadings).arg(kMostMinReadings).arg(value));
            i.minReadings = int(*readings);
        } else if (name == QLatin1String("--report")) {
            if (!TestReport::knownSuffix(value))
                return fail(QStringLiteral("--report takes a file ending in .html or .pdf, not \"%1\"").arg(value));
            i.reportPath = value;
        } else if (name == QLatin1String("--modbus-tcp") || name == QLatin1String("--rtu-tcp")) {
            QString why;
            const std::optional<Endpoint> endpoint = Endpoint::parse(value, &why);
            if (!endpoint)
                return fail(QStringLiteral("%1 %2").arg(name, why));
            (name == QLatin1String("--modbus-tcp") ? i.modbusTcpAt : i.rtuTcpAt) = endpoint;
        } else if (name == QLatin1String("--duration")) {
            const auto duration = wholeNumber(value, 1, kLongestDurationS);
            if (!duration)
                return fail(QStringLiteral("--duration takes seconds from 1 to %1, not \"%2\"")
                                .arg(kLongestDurationS).arg(value));
            i.durationS = *duration;
        } else if (name == QLatin1String("--max-duration")) {
            const auto longest = wholeNumber(value, 1, kLongestDurationS);
            if (!longest)
                return fail(QStringLiteral("--max-duration takes seconds from 1 to %1, not \"%2\"")
                                .arg(kLongestDurationS).arg(value));
            i.longestS = *longest;
        }
        return true;
    }

    void set(const QString &name)
    {
        Invocation &i = m_invocation;
        if (name == QLatin1String("--json"))
            i.json = true;
        else if (name == QLatin1String("--help"))
            i.help = true;
        else if (name == QLatin1String("--with-line-settings"))
            i.withLineSettings = true;
        else if (name == QLatin1String("--dry-run"))
            i.dryRun = true;
        else if (name == QLatin1String("--force"))
            i.force = true;
        else if (name == QLatin1String("--csv"))
            i.csv = true;
        else if (name == QLatin1String("--all"))
            i.allAddresses = true;
    }

    bool fail(const QString &message)
    {
        *m_error = message;
        return false;
    }

private:
    static QString baudList()
    {
        QStringList rates;
        for (quint32 rate : LineSettings::BaudRates)
            rates << QString::number(rate);
        return rates.join(QStringLiteral(", "));
    }

    bool takeAddresses(const QString &value)
    {
        QString why;
        const QList<quint8> addresses = AddressList::parse(value, &why);
        if (addresses.isEmpty())
            return fail(QStringLiteral("--addresses \"%1\": %2").arg(value, why));
        m_invocation.addresses = addresses;
        return true;
    }

    template <typename Parse>
    bool takeList(const QString &value, QList<quint8> &rows, Parse parse, const QString &why)
    {
        rows.clear();
        for (const QString &item : value.split(u',')) {
            const std::optional<quint8> row = parse(item);
            if (!row)
                return fail(QStringLiteral("%1, not \"%2\"").arg(why, item));
            if (!rows.contains(*row))
                rows.append(*row);
        }
        return true;
    }

    Invocation &m_invocation;
    QString *m_error;
};

} // namespace

namespace {

std::optional<Invocation> parseArguments(const QStringList &arguments, QString *error)
{
    Invocation invocation;
    Reader reader(invocation, error);
    QStringList given; // options as they came, to check against the command at the end
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u'-') || argument == QLatin1String("-")) {
            if (invocation.command.isEmpty())
                invocation.command = argument;
            else
                invocation.arguments << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype equals = argument.indexOf(u'=');
        QString name = equals < 0 ? argument : argument.first(equals);
        if (name == QLatin1String("-h"))
            name = QStringLiteral("--help");
        const Option *option = findOption(name);
        if (!option) {
            *error = QStringLiteral("unknown option %1").arg(name);
            return std::nullopt;
        }
        given << name;
        if (!option->value) {
            if (equals >= 0) {
                *error = QStringLiteral("%1 takes no value").arg(name);
                return std::nullopt;
            }
            reader.set(name);
            continue;
        }
        QString value;
        if (equals >= 0) {
            value = argument.sliced(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            *error = QStringLiteral("%1 takes %2").arg(name, QLatin1String(option->value));
            return std::nullopt;
        }
        if (!reader.take(name, value))
            return std::nullopt;
    }

    if (invocation.command.isEmpty()) {
        if (invocation.help)
            return invocation;
        *error = QStringLiteral("no command given");
        return std::nullopt;
    }
    const Command *command = findCommand(invocation.command);
    if (!command) {
        *error = QStringLiteral("unknown command \"%1\"").arg(invocation.command);
        return std::nullopt;
    }
    for (const QString &name : std::as_const(given)) {
        const Option *option = findOption(name);
        if (option->command && !belongsTo(*option, invocation.command)) {
            *error = QStringLiteral("%1 is an option of %2, not of %3")
                         .arg(name, QLatin1String(option->command), invocation.command);
            return std::nullopt;
        }
    }
    const int count = int(invocation.arguments.size());
    if (!invocation.help
        && (count < command->fewestArguments || (command->mostArguments >= 0 && count > command->mostArguments))) {
        *error = QStringLiteral("usage: indicator-cli %1").arg(QLatin1String(command->synopsis));
        return std::nullopt;
    }
    return invocation;
}

} // namespace

std::optional<Invocation> parse(const QStringList &arguments, QString *error)
{
    std::optional<Invocation> invocation = parseArguments(arguments, error);
    if (!invocation)
        *error = FrameWords::escapedControls(*error); // it names what was given, which may hold any character
    return invocation;
}

QStringList commands()
{
    QStringList names;
    for (const Command &command : kCommands)
        names << QLatin1String(command.name);
    return names;
}

QStringList options(const QString &command)
{
    QStringList names;
    for (const Option &option : kOptions) {
        if (command.isEmpty() ? !option.command : belongsTo(option, command))
            names << QLatin1String(option.name);
    }
    return names;
}

bool takesValue(const QString &option)
{
    const Option *found = findOption(option);
    return found && found->value;
}

namespace {

QString optionLines(const char *command)
{
    QString text;
    for (const Option &option : kOptions) {
        if (command ? !belongsTo(option, QLatin1String(command)) : option.command != nullptr)
            continue;
        QString left = QLatin1String(option.name);
        if (option.value)
            left += u' ' + QLatin1String(option.value);
        text += QStringLiteral("  %1 %2\n").arg(left, -24).arg(QString::fromUtf8(option.help));
    }
    return text;
}

} // namespace

QString programHelp()
{
    QString text = QStringLiteral(
        "Usage: indicator-cli [--port DEV] [--baud N] [--parity none|even|odd] [--stop-bits 1|2]\n"
        "                     [--address N] [--json] COMMAND [ARGS]\n"
        "Reads, checks and sets the panel indicator over Modbus RTU, as indicator-config does,\n"
        "without a window. Line settings not given are those the window saved last.\n"
        "\n"
        "Commands:\n");
    for (const Command &command : kCommands)
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(command.name), -24).arg(QString::fromUtf8(command.summary));
    text += QStringLiteral("\nOptions:\n") + optionLines(nullptr);
    text += QStringLiteral(
        "\nExit status: 0 success; 1 the device or the line failed; 2 a usage error or a refused\n"
        "value (nothing was written); 3 compare found differences, or load read back another value.\n"
        "\"indicator-cli COMMAND --help\" describes a command; \"indicator-cli list\" names the keys.\n");
    return text;
}

QString commandHelp(const QString &name)
{
    const Command *command = findCommand(name);
    if (!command)
        return programHelp();
    QString text = QStringLiteral("Usage: indicator-cli [LINE OPTIONS] %1\n%2")
                       .arg(QLatin1String(command->synopsis), QString::fromUtf8(command->details));
    if (const QString own = optionLines(command->name); !own.isEmpty())
        text += QStringLiteral("\nOptions:\n") + own;
    return text;
}

} // namespace CommandLine
