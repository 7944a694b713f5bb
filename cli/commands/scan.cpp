// indicator-cli scan: the line searched for devices, as the window's search does.
#include "blocking.h"
#include "context.h"
#include "devicesearch.h"
#include "exitstatus.h"
#include "framewords.h"
#include "commands.h"
#include "linesettings.h"

#include <QJsonObject>

#include <algorithm>

namespace {

QString settingName(const DeviceSearch::LineSetting &setting)
{
    return QStringLiteral("%1 baud, parity %2")
        .arg(LineSettings::baudRate(setting.speedNumber).value_or(0))
        .arg(QLatin1String(LineSettings::ParityNames[setting.parity]));
}

// The speeds, parities and addresses given, every one where none is, the line's own first.
DeviceSearch::Plan planOf(const Invocation &invocation, const ChosenLine &line)
{
    DeviceSearch::Plan plan;
    plan.speeds = invocation.speeds;
    if (plan.speeds.isEmpty()) {
        for (quint8 row = 0; row < LineSettings::BaudRates.size(); ++row)
            plan.speeds << row;
    }
    plan.parities = invocation.parities;
    if (plan.parities.isEmpty()) {
        for (quint8 row = 0; row < LineSettings::ParityNames.size(); ++row)
            plan.parities << row;
    }
    if (invocation.addresses) {
        // The sweep goes over a span; the addresses between those listed are asked, not shown.
        const auto [first, last] = std::minmax_element(invocation.addresses->begin(), invocation.addresses->end());
        plan.firstAddress = *first;
        plan.lastAddress = *last;
    }
    plan.likely = {line.setup.speedNumber, line.setup.parity};
    plan.likelyAddress = line.origin.address;
    return plan;
}

void print(Printer &printer, const DeviceSearch::Found &found)
{
    const int baud = int(LineSettings::baudRate(found.setting.speedNumber).value_or(0));
    const QLatin1String parity(LineSettings::ParityNames[found.setting.parity]);
    QJsonObject json{{QStringLiteral("address"), found.address}, {QStringLiteral("baud"), baud},
                     {QStringLiteral("parity"), parity}, {QStringLiteral("indicator"), found.indicator}};
    if (found.indicator) {
        json.insert(QStringLiteral("name"), found.name);
        json.insert(QStringLiteral("version"), found.version);
    }
    const QString text =
        found.indicator
            ? QStringLiteral("address=%1 baud=%2 parity=%3 name=\"%4\" version=\"%5\"")
                  .arg(found.address)
                  .arg(baud)
                  .arg(parity, FrameWords::escapedControls(found.name), FrameWords::escapedControls(found.version))
            : QStringLiteral("address=%1 baud=%2 parity=%3 other device").arg(found.address).arg(baud).arg(parity);
    printer.record(text, json);
}

} // namespace

int Commands::scan(CommandContext &context)
{
    const Invocation &invocation = context.invocation();
    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    DeviceSearch::Plan plan = planOf(invocation, *line);
    if (invocation.allAddresses) {
        if (!invocation.speeds.isEmpty() || !invocation.parities.isEmpty())
            return context.usage(
                QStringLiteral("--all scans the one setting of --baud and --parity; --bauds and --parities go without it"));
        plan = DeviceSearch::addressesOnly(plan);
    }

    DeviceSearch::Sweep sweep(plan, context.session().lineOwner(), line->setup);
    context.note(QStringLiteral("scanning %1: %2 probes, at most %3 s")
                     .arg(line->shownName)
                     .arg(sweep.total())
                     .arg((sweep.remainingMs() + 999) / 1000));
    std::optional<DeviceSearch::LineSetting> setting;
    int indicators = 0;
    while (const std::optional<DeviceSearch::Probe> probe = sweep.upcoming()) {
        if (setting != probe->setting) {
            setting = probe->setting;
            context.note(
                QStringLiteral("%1 (%2 of %3 probes sent)").arg(settingName(*setting)).arg(sweep.sent()).arg(sweep.total()));
        }
        const std::optional<DeviceSearch::Sweep::Step> step = Blocking::next(sweep);
        if (!step || !step->found || (invocation.addresses && !invocation.addresses->contains(step->found->address)))
            continue;
        indicators += step->found->indicator ? 1 : 0;
        print(context.printer(), *step->found);
    }
    for (const DeviceSearch::Sweep::NoiseCount &noise : sweep.noise())
        context.note(QStringLiteral("noise at %1: %2 broken replies").arg(settingName(noise.setting)).arg(noise.replies));
    switch (sweep.failure()) {
    case DeviceSearch::Sweep::Failure::PortNotOpened:
        context.note(QStringLiteral("port %1 not opened").arg(line->shownName));
        return ExitStatus::Failed;
    case DeviceSearch::Sweep::Failure::PortLost:
        context.note(QStringLiteral("port %1 lost during the scan").arg(line->shownName));
        return ExitStatus::Failed;
    case DeviceSearch::Sweep::Failure::None:
        break;
    }
    if (indicators == 0) {
        context.note(QStringLiteral("no indicator answered"));
        return ExitStatus::Failed;
    }
    return ExitStatus::Success;
}
