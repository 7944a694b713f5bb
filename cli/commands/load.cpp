// indicator-cli load: writes into the device what differs from a profile file, each value read
// back, after a backup of what the device held.
#include "blocking.h"
#include "catalogue.h"
#include "context.h"
#include "exitstatus.h"
#include "framewords.h"
#include "commands.h"
#include "moderules.h"
#include "profilewriter.h"
#include "resultcodes.h"
#include "values.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

namespace {

using Catalogue::Parameter;

QString outcomeName(ProfileWriter::Outcome outcome)
{
    switch (outcome) {
    case ProfileWriter::Outcome::Confirmed:
        return QStringLiteral("confirmed");
    case ProfileWriter::Outcome::Refused:
        return QStringLiteral("refused");
    case ProfileWriter::Outcome::NotVerified:
        return QStringLiteral("not_verified");
    case ProfileWriter::Outcome::ReadBackDiffers:
        return QStringLiteral("read_back_differs");
    case ProfileWriter::Outcome::NotSent:
        return QStringLiteral("not_sent");
    }
    return {};
}

} // namespace

int Commands::load(CommandContext &context)
{
    const Invocation &invocation = context.invocation();
    Printer &printer = context.printer();
    const QString path = invocation.arguments.first();
    const std::optional<Profiles::DeviceProfile> file = context.loadFile(path);
    if (!file)
        return ExitStatus::Usage;
    ProfileWriter::Options options;
    options.withLineSettings = invocation.withLineSettings;
    // A backup goes back as the device held it; --force lets any other file's display rules pass.
    options.waiveDisplayRules = invocation.force || ProfileWriter::isBackup(path, options);
    if (const QList<ProfileWriter::Refusal> refused = ProfileWriter::refusals(*file, options.waiveDisplayRules);
        !refused.isEmpty()) {
        for (const ProfileWriter::Refusal &refusal : refused)
            context.note(QStringLiteral("%1: %2: %3").arg(path, refusal.key, refusal.reason));
        return context.usage(QStringLiteral("nothing written"));
    }
    for (const ModeRules::Breach &breach : ModeRules::breaches(file->values))
        context.note(QStringLiteral("%1: %2: %3; let pass, as %4")
                         .arg(path, breach.key, breach.reason,
                              invocation.force ? QStringLiteral("--force asks") : QStringLiteral("a backup of the device")));

    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    if (!context.connect(*line))
        return ExitStatus::Failed;
    const std::optional<Profiles::DeviceProfile> device = context.readDevice(*line);
    if (!device)
        return ExitStatus::Failed;

    ProfileWriter writer(context.session(), *file, *device, options);
    for (const QString &difference : writer.identityDifferences())
        context.note(QStringLiteral("файл другого прибора: %1").arg(FrameWords::escapedControls(difference)));
    if (!writer.identityDifferences().isEmpty()) {
        if (!invocation.force)
            return context.usage(QStringLiteral("nothing written; --force writes it all the same"));
        writer.confirmIdentity();
    }
    for (const Parameter *parameter : writer.leftOut())
        context.note(QStringLiteral("%1 differs (device %2, file %3): left as it is without --with-line-settings")
                         .arg(parameter->key, CliValues::shown(*parameter, device->values.value(parameter->key)),
                              CliValues::shown(*parameter, file->values.value(parameter->key))));

    const auto change = [&](const Parameter &parameter) {
        return QStringLiteral("%1: %2 -> %3")
            .arg(parameter.key, CliValues::shown(parameter, device->values.value(parameter.key)),
                 CliValues::shown(parameter, file->values.value(parameter.key)));
    };
    if (writer.plan().isEmpty()) {
        context.note(QStringLiteral("the device holds the file's values: nothing to write"));
        printer.jsonDocument(QJsonObject{{QStringLiteral("results"), QJsonArray()}});
        return ExitStatus::Success;
    }
    if (invocation.dryRun) {
        QJsonArray plan;
        for (const Parameter *parameter : writer.plan()) {
            printer.text(change(*parameter));
            plan.append(parameter->key);
        }
        printer.jsonDocument(QJsonObject{{QStringLiteral("plan"), plan}});
        context.note(QStringLiteral("dry run: nothing written"));
        return ExitStatus::Success;
    }

    int status = ExitStatus::Success;
    QJsonArray results;
    QObject::connect(&writer, &ProfileWriter::stepDone, [&](const ProfileWriter::Result &result) {
        const Parameter &parameter = *result.parameter;
        printer.text(QStringLiteral("%1: %2").arg(change(parameter), result.text));
        results.append(QJsonObject{{QStringLiteral("key"), parameter.key},
                                   {QStringLiteral("outcome"), outcomeName(result.outcome)},
                                   {QStringLiteral("text"), result.text}});
        if (result.code < lrOk)
            status = context.failed(parameter.key, result.code);
        else if (result.outcome == ProfileWriter::Outcome::NotSent)
            status = ExitStatus::Failed;
        else if (result.outcome == ProfileWriter::Outcome::ReadBackDiffers && status == ExitStatus::Success)
            status = ExitStatus::Differs;
    });
    Blocking::runToEnd(writer);
    if (!writer.backupError().isEmpty()) {
        context.note(QStringLiteral("нет копии настроек прибора, поэтому ничего не записано: %1").arg(writer.backupError()));
        return ExitStatus::Failed;
    }
    printer.jsonDocument(QJsonObject{{QStringLiteral("backup"), writer.backupPath()}, {QStringLiteral("results"), results}});
    context.note(QStringLiteral("the device's settings before the load: %1").arg(writer.backupPath()));
    if (invocation.withLineSettings
        && std::any_of(writer.plan().begin(), writer.plan().end(),
                       [](const Parameter *p) { return p->role == Catalogue::Role::LineSetting; }))
        context.note(QStringLiteral("the line settings take effect when the device restarts"));
    return status;
}
