// indicator-cli: the indicator's settings from scripts and production lines, on the same
// catalogue and session as the window, with no window and no display.
#include "commandline.h"
#include "commands.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // The program this is the command line of: its data folder, where the backups made before a
    // load go, is the window's.
    QCoreApplication::setApplicationName(QStringLiteral("indicator-config"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QString error;
    const std::optional<Invocation> invocation = CommandLine::parse(QCoreApplication::arguments().mid(1), &error);
    if (!invocation) {
        err << "indicator-cli: " << error << "\n\"indicator-cli --help\" lists the commands and options.\n";
        return ExitStatus::Usage;
    }
    if (invocation->help) {
        out << (invocation->command.isEmpty() ? CommandLine::programHelp()
                                              : CommandLine::commandHelp(invocation->command));
        return ExitStatus::Success;
    }
    return runCommand(*invocation, out, err);
}
