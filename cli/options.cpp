// The options indicator-cli takes, each once: what it is called, whether a value follows, which
// commands take it and what its help says.
#include "options.h"

#include "commandline.h"
#include "commandtable.h"

#include <algorithm>

namespace CommandLine {

namespace {

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

} // namespace

std::span<const Option> allOptions()
{
    return kOptions;
}

const Option *findOption(const QString &name)
{
    const auto found = std::find_if(std::begin(kOptions), std::end(kOptions),
                                    [&](const Option &option) { return name == QLatin1String(option.name); });
    return found == std::end(kOptions) ? nullptr : found;
}

bool belongsTo(const Option &option, const QString &command)
{
    return option.command && QString::fromLatin1(option.command).split(u' ').contains(command);
}

QStringList commands()
{
    QStringList names;
    for (const Command &command : Commands::all())
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

} // namespace CommandLine
