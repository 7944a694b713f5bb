// The help of indicator-cli, from the tables of its commands and options.
#include "commandline.h"
#include "commandtable.h"
#include "options.h"

namespace CommandLine {

namespace {

QString optionLines(const char *command)
{
    QString text;
    for (const Option &option : allOptions()) {
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
    for (const Command &command : Commands::all())
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(command.name), -24).arg(QString::fromUtf8(command.summary));
    text += QStringLiteral("\nOptions:\n") + optionLines(nullptr);
    text += QStringLiteral(
        "\nExit status: 0 success; 1 the device or the line failed; 2 a usage error or a refused\n"
        "value (nothing was written); 3 compare found differences, load read back another value, or\n"
        "a unit failed its test.\n"
        "\"indicator-cli COMMAND --help\" describes a command; \"indicator-cli list\" names the keys.\n");
    return text;
}

QString commandHelp(const QString &name)
{
    const Command *command = Commands::find(name);
    if (!command)
        return programHelp();
    QString text = QStringLiteral("Usage: indicator-cli [LINE OPTIONS] %1\n%2")
                       .arg(QLatin1String(command->synopsis), QString::fromUtf8(command->details));
    if (const QString own = optionLines(command->name); !own.isEmpty())
        text += QStringLiteral("\nOptions:\n") + own;
    return text;
}

} // namespace CommandLine
