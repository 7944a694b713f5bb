#pragma once

#include "catalogue.h"

#include <QJsonValue>
#include <QString>
#include <QVariant>

#include <optional>

// Values as the command line takes and shows them.
namespace CliValues {

// The value typed for a parameter, read strictly by its kind: a float as a number in C
// notation, a whole number in decimal digits, a code by its number or, for a text that is no
// number, by its caption (case ignored), a text as it is. Then the catalogue judges it.
// Nothing, with why set, for a value the device must not be sent.
std::optional<QVariant> parse(const Catalogue::Parameter &parameter, const QString &text, QString *why);

// For a script: numbers as numbers, codes as their numbers, texts as text.
QJsonValue json(const Catalogue::Parameter &parameter, const QVariant &value);

// The value for a person at a terminal, as Catalogue::shown gives it, escaped.
QString shown(const Catalogue::Parameter &parameter, const QVariant &value);

} // namespace CliValues
