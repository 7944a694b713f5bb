#pragma once

#include <QString>

#include <span>

// The options of indicator-cli, as the parser, the help and the completion read them.
namespace CommandLine {

struct Option
{
    const char *name;
    const char *value;   // what follows it, or nullptr for an option alone
    const char *command; // nullptr for a global option; else the commands it belongs to, separated by spaces
    const char *help;    // UTF-8, as every text here: it may name a caption (Нечет)
};

// In the order the help lists them.
std::span<const Option> allOptions();
const Option *findOption(const QString &name);
bool belongsTo(const Option &option, const QString &command);

} // namespace CommandLine
