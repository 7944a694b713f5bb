// indicator-cli read: the values of the keys given, or of every parameter.
#include "blocking.h"
#include "catalogue.h"
#include "context.h"
#include "exitstatus.h"
#include "commands.h"
#include "resultcodes.h"
#include "values.h"

#include <QJsonObject>

using Catalogue::Parameter;

int Commands::read(CommandContext &context)
{
    QList<const Parameter *> chosen;
    for (const QString &key : context.invocation().arguments) {
        const Parameter *parameter = Catalogue::find(key);
        if (!parameter)
            return context.usage(QStringLiteral("no parameter %1; \"indicator-cli list\" names them").arg(key));
        chosen << parameter;
    }
    if (chosen.isEmpty()) {
        for (const Parameter &parameter : Catalogue::parameters())
            chosen << &parameter;
    }
    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    if (!context.connect(*line))
        return ExitStatus::Failed;

    int status = ExitStatus::Success;
    QJsonObject json;
    for (const Parameter *parameter : std::as_const(chosen)) {
        const std::optional<Session::Reading> reading = Blocking::readValue(context.session(), *parameter);
        const qint16 code = reading ? reading->code : qint16(lrNotConnected);
        if (code < lrOk) {
            status = context.failed(parameter->key, code);
            if (LineFailed(code))
                break;
            continue;
        }
        context.printer().text(QStringLiteral("%1 = %2").arg(parameter->key, CliValues::shown(*parameter, reading->value)));
        json.insert(parameter->key, CliValues::json(*parameter, reading->value));
    }
    context.printer().jsonDocument(json);
    return status;
}
