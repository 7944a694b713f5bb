#pragma once

#include <QString>

#include <span>

struct Invocation;
class CommandContext;
class QTextStream;

// Whether a command talks to one device of the line, and so needs its address from the options
// or the window's settings; a listener or a server names no device.
enum class AddressUse { Needed, NotUsed };

// A command of indicator-cli: its name, what runs it, and what its usage and help say.
struct Command
{
    const char *name;
    int (*run)(CommandContext &context); // the exit status
    AddressUse address;
    int fewestArguments;
    int mostArguments; // -1: any number
    const char *synopsis;
    const char *summary;
    const char *details; // UTF-8, as every text here: it may quote a caption (Нечет)
};

namespace Commands {

// In the order the help lists them.
std::span<const Command> all();
const Command *find(const QString &name);

} // namespace Commands

// Runs the command of an invocation (not --help); results go to out, messages to err. The exit
// status.
int runCommand(const Invocation &invocation, QTextStream &out, QTextStream &err);
