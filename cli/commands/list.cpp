// indicator-cli list: the catalogue, as a table for a person or a JSON array for a script.
#include "catalogue.h"
#include "context.h"
#include "exitstatus.h"
#include "commands.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace {

using Catalogue::Parameter;

QString kindName(Catalogue::Kind kind)
{
    switch (kind) {
    case Catalogue::Kind::Float:
        return QStringLiteral("float");
    case Catalogue::Kind::Code:
        return QStringLiteral("code");
    case Catalogue::Kind::Flag:
        return QStringLiteral("flag");
    case Catalogue::Kind::Number:
        return QStringLiteral("number");
    case Catalogue::Kind::Text:
        return QStringLiteral("text");
    case Catalogue::Kind::FlagWord:
        return QStringLiteral("flags");
    }
    return {};
}

// The values a parameter takes, as the text of list gives them.
QString valuesOf(const Parameter &parameter)
{
    QStringList values;
    switch (parameter.kind) {
    case Catalogue::Kind::Float:
    case Catalogue::Kind::Number:
        if (!std::isfinite(parameter.lowest))
            return QStringLiteral("any");
        return QStringLiteral("%1..%2").arg(parameter.lowest).arg(parameter.highest);
    case Catalogue::Kind::Code:
        for (const Catalogue::Code &code : parameter.codes)
            values << QStringLiteral("%1=%2").arg(code.value).arg(code.caption);
        break;
    case Catalogue::Kind::Flag:
        return QStringLiteral("0|1");
    case Catalogue::Kind::Text:
        return QStringLiteral("%1 characters").arg(parameter.bytes());
    case Catalogue::Kind::FlagWord:
        for (const Catalogue::Bit &bit : parameter.bits)
            values << QStringLiteral("bit%1=%2").arg(bit.bit).arg(bit.caption);
        break;
    }
    return values.join(u'|');
}

QString registerText(const Parameter &parameter)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(parameter.firstRegister(), 4, 16, QLatin1Char('0')).toUpper();
}

QString textLine(const Parameter &parameter)
{
    return QStringLiteral("%1\t%2\t%3/%4\t%5\t%6\t%7")
        .arg(parameter.key, kindName(parameter.kind), registerText(parameter))
        .arg(parameter.registerCount())
        .arg(parameter.writable ? QStringLiteral("rw") : QStringLiteral("r"), valuesOf(parameter), parameter.caption);
}

// The line of the text, with its values as JSON.
QJsonObject jsonEntry(const Parameter &parameter)
{
    QJsonObject entry{{QStringLiteral("key"), parameter.key},
                      {QStringLiteral("caption"), parameter.caption},
                      {QStringLiteral("kind"), kindName(parameter.kind)},
                      {QStringLiteral("register"), registerText(parameter)},
                      {QStringLiteral("registers"), parameter.registerCount()},
                      {QStringLiteral("writable"), parameter.writable}};
    QJsonArray values;
    for (const Catalogue::Code &code : parameter.codes)
        values.append(QJsonObject{{QStringLiteral("code"), code.value}, {QStringLiteral("caption"), code.caption}});
    for (const Catalogue::Bit &bit : parameter.bits)
        values.append(QJsonObject{{QStringLiteral("bit"), bit.bit}, {QStringLiteral("caption"), bit.caption}});
    if (!values.isEmpty()) {
        entry.insert(parameter.kind == Catalogue::Kind::Code ? QStringLiteral("codes") : QStringLiteral("bits"), values);
    } else if (parameter.kind == Catalogue::Kind::Text) {
        entry.insert(QStringLiteral("characters"), parameter.bytes());
    } else if (std::isfinite(parameter.lowest)) {
        entry.insert(QStringLiteral("lowest"), parameter.lowest);
        entry.insert(QStringLiteral("highest"), parameter.highest);
    }
    return entry;
}

} // namespace

int Commands::list(CommandContext &context)
{
    QJsonArray json;
    for (const Parameter &parameter : Catalogue::parameters()) {
        context.printer().text(textLine(parameter));
        json.append(jsonEntry(parameter));
    }
    context.printer().jsonDocument(json);
    return ExitStatus::Success;
}
