#include "addresslist.h"

#include "catalogue.h"

#include <QRegularExpression>

namespace AddressList {

QList<quint8> parse(const QString &text, QString *error)
{
    const Catalogue::Parameter &address = Catalogue::of(prmPortNetAddr);
    const int lowest = int(address.lowest);
    const int highest = int(address.highest);
    const auto refuse = [error](const QString &why) {
        *error = why;
        return QList<quint8>{};
    };
    static const QRegularExpression item(QStringLiteral("^\\s*(\\d+)\\s*(?:-\\s*(\\d+)\\s*)?$"));
    QList<quint8> addresses;
    if (text.trimmed().isEmpty())
        return refuse(QStringLiteral("адреса не заданы, например 1-5, 7"));
    for (const QString &part : text.split(u',')) {
        // "1,,2" is rather a typo for 1,2 or 1,12 than either.
        if (part.trimmed().isEmpty())
            return refuse(QStringLiteral("между запятыми нет адреса"));
        const QRegularExpressionMatch match = item.match(part);
        if (!match.hasMatch())
            return refuse(QStringLiteral("«%1» — не адрес и не диапазон адресов, например 1-5, 7").arg(part.trimmed()));
        const QString firstText = match.captured(1);
        const QString lastText = match.captured(2).isEmpty() ? firstText : match.captured(2);
        // Digits beyond an int's range fail toInt(), and are out of bounds all the same.
        for (const QString &end : {firstText, lastText}) {
            bool isInt = false;
            const int value = end.toInt(&isInt);
            if (!isInt || value < lowest || value > highest)
                return refuse(QStringLiteral("адрес %1 вне %2..%3").arg(end).arg(lowest).arg(highest));
        }
        const int first = firstText.toInt();
        const int last = lastText.toInt();
        if (first > last)
            return refuse(QStringLiteral("в диапазоне %1-%2 первый адрес больше последнего").arg(first).arg(last));
        for (int a = first; a <= last; ++a) {
            if (!addresses.contains(quint8(a)))
                addresses << quint8(a);
        }
    }
    return addresses;
}

} // namespace AddressList
