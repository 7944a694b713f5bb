#pragma once

#include "commandline.h"

#include <QTextStream>

// The exit status of indicator-cli.
namespace ExitStatus {
enum : int {
    Success = 0,
    Failed = 1,  // the device or the line failed; the window's message and the code on standard error
    Usage = 2,   // a usage error or a refused value: nothing was written
    Differs = 3, // compare found differences, load read back another value, or a unit failed its test
};
} // namespace ExitStatus

// Runs the command of an invocation (not --help); results go to out, messages to err.
int runCommand(const Invocation &invocation, QTextStream &out, QTextStream &err);

// The bash completion of the commands, their options and the catalogue's keys.
QString bashCompletion();
