// indicator-cli compare: how the device differs from a profile file.
#include "context.h"
#include "exitstatus.h"
#include "framewords.h"
#include "commands.h"
#include "values.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

QString textLine(const Profiles::ComparisonRow &row)
{
    const QString device = CliValues::shown(*row.parameter, row.device);
    return row.differs ? QStringLiteral("* %1: device %2, file %3")
                             .arg(row.parameter->key, device, CliValues::shown(*row.parameter, row.file))
                       : QStringLiteral("  %1: %2").arg(row.parameter->key, device);
}

QJsonObject jsonRow(const Profiles::ComparisonRow &row)
{
    return QJsonObject{{QStringLiteral("key"), row.parameter->key},
                       {QStringLiteral("caption"), row.parameter->caption},
                       {QStringLiteral("device"), CliValues::json(*row.parameter, row.device)},
                       {QStringLiteral("file"), CliValues::json(*row.parameter, row.file)},
                       {QStringLiteral("differs"), row.differs}};
}

void print(Printer &printer, const Profiles::Comparison &comparison)
{
    QJsonArray rows;
    for (const Profiles::ComparisonRow &row : comparison.rows) {
        printer.text(textLine(row));
        rows.append(jsonRow(row));
    }
    for (const QString &difference : comparison.identity)
        printer.text(QStringLiteral("identity: %1").arg(FrameWords::escapedControls(difference)));
    printer.text(QStringLiteral("%1 of %2 values differ").arg(comparison.differing()).arg(comparison.rows.size()));
    printer.jsonDocument(QJsonObject{{QStringLiteral("rows"), rows},
                                     {QStringLiteral("differing"), comparison.differing()},
                                     {QStringLiteral("identity"), QJsonArray::fromStringList(comparison.identity)}});
}

} // namespace

int Commands::compare(CommandContext &context)
{
    const std::optional<Profiles::DeviceProfile> file = context.loadFile(context.invocation().arguments.first());
    if (!file)
        return ExitStatus::Usage;
    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    if (!context.connect(*line))
        return ExitStatus::Failed;
    const std::optional<Profiles::DeviceProfile> device = context.readDevice(*line);
    if (!device)
        return ExitStatus::Failed;

    const Profiles::Comparison comparison = Profiles::compare(*device, *file);
    print(context.printer(), comparison);
    return comparison.differing() > 0 ? ExitStatus::Differs : ExitStatus::Success;
}
