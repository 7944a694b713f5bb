// indicator-cli write: values given as KEY=VALUE, every one judged before the first is sent.
#include "blocking.h"
#include "catalogue.h"
#include "context.h"
#include "exitstatus.h"
#include "commands.h"
#include "moderules.h"
#include "resultcodes.h"
#include "values.h"

#include <QMap>

#include <algorithm>
#include <utility>

namespace {

using Catalogue::Parameter;
using Values = QList<std::pair<const Parameter *, QVariant>>;

// The values of the arguments, in their order; nothing when any is refused, each refusal told.
std::optional<Values> valuesGiven(CommandContext &context)
{
    Values values;
    bool refused = false;
    for (const QString &argument : context.invocation().arguments) {
        const qsizetype equals = argument.indexOf(u'=');
        const QString key = argument.first(qMax<qsizetype>(equals, 0));
        const Parameter *parameter = equals > 0 ? Catalogue::find(key) : nullptr;
        QString why;
        std::optional<QVariant> value;
        if (equals <= 0)
            why = QStringLiteral("give KEY=VALUE");
        else if (!parameter)
            why = QStringLiteral("no such parameter; \"indicator-cli list\" names them");
        else if (std::any_of(values.begin(), values.end(), [&](const auto &v) { return v.first == parameter; }))
            why = QStringLiteral("given twice");
        else
            value = CliValues::parse(*parameter, argument.sliced(equals + 1), &why);
        if (!value) {
            context.note(QStringLiteral("%1: %2").arg(argument, why));
            refused = true;
            continue;
        }
        values.append({parameter, *value});
    }
    if (refused)
        return std::nullopt;
    return values;
}

// The new values against each other and against those of the device they are compared with,
// read first. The exit status when they may not be sent, none when they may.
std::optional<int> judgeTogether(CommandContext &context, const Values &values)
{
    QMap<QString, QVariant> together;
    QStringList written;
    for (const auto &[parameter, value] : values) {
        together.insert(parameter->key, value);
        written << parameter->key;
    }
    for (const Parameter *partner : ModeRules::partners(written)) {
        const std::optional<Session::Reading> reading = Blocking::readValue(context.session(), *partner);
        const qint16 code = reading ? reading->code : qint16(lrNotConnected);
        if (code < lrOk)
            return context.failed(partner->key, code);
        together.insert(partner->key, reading->value);
    }
    const QList<ModeRules::Breach> broken = ModeRules::breaches(together, written);
    if (broken.isEmpty())
        return std::nullopt;
    for (const ModeRules::Breach &breach : broken)
        context.note(QStringLiteral("%1 %2 %3")
                         .arg(breach.key, Catalogue::valueText(*Catalogue::find(breach.key), together.value(breach.key)),
                              breach.reason));
    return context.usage(QStringLiteral("nothing written"));
}

} // namespace

int Commands::write(CommandContext &context)
{
    const std::optional<Values> values = valuesGiven(context);
    if (!values)
        return context.usage(QStringLiteral("nothing written"));

    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    if (!context.connect(*line))
        return ExitStatus::Failed;
    if (const std::optional<int> judged = judgeTogether(context, *values))
        return *judged;
    for (const auto &[parameter, value] : *values) {
        const qint16 code = Blocking::writeValue(context.session(), *parameter, value).value_or(lrNotConnected);
        if (code < lrOk)
            return context.failed(parameter->key, code);
    }
    return ExitStatus::Success;
}
