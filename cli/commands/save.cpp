// indicator-cli save: the device's settings kept in a profile file, or no file at all.
#include "context.h"
#include "exitstatus.h"
#include "commands.h"

int Commands::save(CommandContext &context)
{
    const QString path = context.invocation().arguments.first();
    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    if (!context.connect(*line))
        return ExitStatus::Failed;
    const std::optional<Profiles::DeviceProfile> device = context.readDevice(*line);
    if (!device) {
        context.note(QStringLiteral("%1 not written: not every value could be read").arg(path));
        return ExitStatus::Failed;
    }
    QString error;
    if (!Profiles::save(*device, path, &error)) {
        context.note(QStringLiteral("%1 не записан: %2").arg(path, error));
        return ExitStatus::Failed;
    }
    return ExitStatus::Success;
}
