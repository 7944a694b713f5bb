#include "commandtable.h"

#include "commandline.h"
#include "context.h"
#include "exitstatus.h"
#include "commands.h"

#include <QTextStream>

#include <algorithm>

namespace {

// Every command, once: the parser, the help, the completion and the run all find it here.
constexpr Command kCommands[] = {
    {"list", Commands::list, AddressUse::NotUsed, 0, 0,
     "list", "every parameter: key, kind, registers, values, access, caption",
     "Lists every parameter the program knows: its key, its kind (float, code, flag, number, text,\n"
     "flags), its first register in hexadecimal and its length in registers, its limits or codes,\n"
     "whether it may be written, and the window's caption for it. Nothing is sent.\n"},
    {"read", Commands::read, AddressUse::Needed, 0, -1,
     "read [KEY...]", "the values of the keys given, or of every parameter",
     "Reads the parameters named, or every one when none is: a line \"key = value\" each, codes\n"
     "with their caption and texts in quotes; with --json one object {key: value}, codes as\n"
     "numbers. A value that cannot be read is named on standard error and left out; silence\n"
     "ends the reading at once.\n"},
    {"write", Commands::write, AddressUse::Needed, 1, -1,
     "write KEY=VALUE...", "write values, all judged before the first is sent",
     "Writes the values in the order given. Every value is judged first: a number out of its\n"
     "limits or no number at all, a code the device lacks, a text too long or with characters\n"
     "the device cannot show is refused, never clamped, and then nothing at all is sent (exit\n"
     "status 2). So are values that break the Mode page's rules together with each other or\n"
     "with what the device holds, read first: a bottom above its top, a set point above 120 %\n"
     "of the top range, a top range the digits cannot show at the decimal point. Codes may be\n"
     "given by number or by caption (port.parity=Нечет). A write that fails stops the rest.\n"},
    {"save", Commands::save, AddressUse::Needed, 1, 1,
     "save FILE", "keep the device's settings in a profile file",
     "Reads the eleven Mode values, the four line settings and the name, with the firmware\n"
     "version, and writes them as a JSON profile. When any read fails, the parameters are named\n"
     "and no file is written.\n"},
    {"compare", Commands::compare, AddressUse::Needed, 1, 1,
     "compare FILE", "show how the device differs from a profile file",
     "Reads the device and prints a line per value of the file, \"*\" before those that differ,\n"
     "and how the device's name and firmware differ from the file's. Exit status 3 when a value\n"
     "differs.\n"},
    {"load", Commands::load, AddressUse::Needed, 1, 1,
     "load FILE [--with-line-settings] [--dry-run] [--force]",
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
     "Exit status 3 when a value reads back different.\n"},
    {"scan", Commands::scan, AddressUse::Needed, 0, 0,
     "scan [--addresses LIST] [--bauds LIST] [--parities LIST]", "search the line for devices",
     "Probes each address at each speed and parity, the given or saved setting and address\n"
     "first, as the window's search does; stop bits stay as given. A line per device found;\n"
     "progress on standard error. With --all, every address at the one setting given or saved\n"
     "alone, a line (or a JSON object) per unit. Exit status 1 when no indicator answers.\n"},
    {"watch", Commands::watch, AddressUse::Needed, 0, 0,
     "watch [--interval MS] [--count N] [--csv] [--addresses LIST]", "poll the live reading and the flag words",
     "Reads the live values and the self-diagnostic and EEPROM flag words, a line per poll,\n"
     "until Ctrl+C or the count. With --addresses, each unit in turn, a line per unit and an\n"
     "address column.\n"},
    {"test", Commands::test, AddressUse::Needed, 0, 0,
     "test --expect X --tolerance X [--sigma X] [--min-readings N] [--duration S] [--max-duration S] [--addresses LIST] [--report FILE]",
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
     "the test, every unit then untested, or when the report cannot be written.\n"},
    {"listen", Commands::listen, AddressUse::NotUsed, 0, 0,
     "listen [--duration S]", "hear a line that another master drives, sending nothing",
     "Opens the port only to hear it, and sends nothing: a master already polls the line. Prints\n"
     "each request with its reply, decoded (\"адрес 3: чтение: верхняя граница (0x0A06, 2 рег.)\n"
     "→ 150\"), a request that met no reply within the time-out, a reply without its request,\n"
     "and the bytes that are no frame, in hex. Frames are found by their lengths and CRC, not by\n"
     "the pauses between them, so a USB adapter that hands bytes over in pieces does not cut\n"
     "them. With --json, a JSON object per frame (time in microseconds since 1970, direction,\n"
     "bytes, decoding), as the window's capture files hold them. On Ctrl+C or after the\n"
     "duration, the requests, replies, time-outs, CRC errors and reply times of each address.\n"
     "--address is not used.\n"},
    {"serve", Commands::serve, AddressUse::NotUsed, 0, 0,
     "serve [--modbus-tcp [ADDR:]PORT] [--rtu-tcp [ADDR:]PORT]", "share the line with clients on the network",
     "Opens the line and serves it to several clients at once, at most 16: as Modbus TCP (a SCADA,\n"
     "mbpoll -m tcp, the window's modbus-tcp://) and as RTU frames over TCP (the window's tcp://),\n"
     "either or both. Requests go out one at a time in the order they came, with the line's\n"
     "time-outs. Reads (0x03) and writes of registers (0x10) go to the line, at most 47 registers\n"
     "read or 45 written; a Modbus TCP client gets exception 01 for any other function, 03 for\n"
     "another count, 0A for unit 0 or 248..255, without the line being touched; 06 for a second\n"
     "request while its first is under way; 0B when the unit does not answer; a unit's own\n"
     "exception as it gave it. An RTU client hears only the units: silence for all of these but\n"
     "a unit's exception. A client idle for 60 s is let go. Each client is named on standard\n"
     "error as it comes and goes; Ctrl+C ends. --address is not used.\n"},
    {"completion", Commands::completion, AddressUse::NotUsed, 1, 1,
     "completion bash", "print the bash completion script",
     ""},
};

} // namespace

namespace Commands {

std::span<const Command> all()
{
    return kCommands;
}

const Command *find(const QString &name)
{
    const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const Command &command) { return name == QLatin1String(command.name); });
    return found == std::end(kCommands) ? nullptr : found;
}

} // namespace Commands

int runCommand(const Invocation &invocation, QTextStream &out, QTextStream &err)
{
    const Command *command = Commands::find(invocation.command);
    if (!command) { // the parser lets no such invocation through
        err << "indicator-cli: unknown command \"" << invocation.command << "\"" << Qt::endl;
        return ExitStatus::Usage;
    }
    CommandContext context(*command, invocation, out, err);
    return command->run(context);
}
