#include "values.h"

#include "framewords.h"

#include <QRegularExpression>
#include <QStringList>

namespace CliValues {

namespace {

using Catalogue::Kind;

bool isWholeNumberText(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    return digits.match(text).hasMatch();
}

// A float in C notation: digits with an optional point and exponent, nothing around them.
bool isNumberText(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    return number.match(text).hasMatch();
}

std::optional<QVariant> codeByCaption(const Catalogue::Parameter &parameter, const QString &text)
{
    for (const Catalogue::Code &code : parameter.codes) {
        if (code.caption.compare(text, Qt::CaseInsensitive) == 0)
            return QVariant(int(code.value));
    }
    return std::nullopt;
}

} // namespace

std::optional<QVariant> parse(const Catalogue::Parameter &parameter, const QString &text, QString *why)
{
    QVariant value;
    bool converted = true;
    if (parameter.kind == Kind::Text) {
        value = text;
    } else if (parameter.kind == Kind::Code && !isNumberText(text)) {
        // Numbers are codes, always: port.stop_bits=1 is code 1, two stop bits, whatever the
        // captions say. Only a text that is no number is looked up among the captions.
        const std::optional<QVariant> code = codeByCaption(parameter, text);
        if (!code) {
            *why = QStringLiteral("нет такого кода");
            return std::nullopt;
        }
        value = *code;
    } else if (parameter.kind == Kind::Float) {
        if (!isNumberText(text)) {
            *why = QStringLiteral("не число");
            return std::nullopt;
        }
        value = text.toDouble(&converted);
    } else {
        if (!isWholeNumberText(text)) {
            *why = isNumberText(text) ? QStringLiteral("нужно целое число") : QStringLiteral("не число");
            return std::nullopt;
        }
        value = text.toLongLong(&converted);
    }
    if (!converted) {
        *why = QStringLiteral("число слишком велико");
        return std::nullopt;
    }
    *why = Catalogue::refusal(parameter, value);
    if (!why->isEmpty())
        return std::nullopt;
    return value;
}

QJsonValue json(const Catalogue::Parameter &parameter, const QVariant &value)
{
    switch (parameter.kind) {
    case Kind::Text:
        return value.toString();
    case Kind::Float:
        return value.toDouble();
    case Kind::Code:
    case Kind::Flag:
    case Kind::Number:
    case Kind::FlagWord:
        break;
    }
    return value.toInt();
}

QString shown(const Catalogue::Parameter &parameter, const QVariant &value)
{
    return FrameWords::escapedControls(Catalogue::shown(parameter, value));
}

} // namespace CliValues
