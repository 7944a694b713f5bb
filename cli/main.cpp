// indicator-cli: the indicator's settings from scripts and production lines, on the same
// catalogue and session as the window, with no window and no display.
#include "commandline.h"
#include "commandtable.h"
#include "exitstatus.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

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
    const int status = runCommand(*invocation, out, err);
#ifdef Q_OS_WIN
    // The command's own work is over: the port is closed and the output goes out here. What
    // is left is the DLLs' detaching at exit, where under Wine a process that has used a COM
    // port now and then waits for ever; a script would hang on it, so the process ends here.
    out.flush();
    err.flush();
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), UINT(status));
#endif
    return status;
}
