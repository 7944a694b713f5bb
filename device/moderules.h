#pragma once

#include "catalogue.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

// The rules that tie the Mode values to each other, beyond each value's own limits in the
// catalogue. The Mode page corrects by them as the user types; the command line and the profile
// tools refuse values that break them, so that no way into the device stores what the window
// never would.
namespace ModeRules {

enum class Kind {
    // The two ends of a range in the wrong order: the scale means nothing.
    Order,
    // What the four digits show: the set point within 120 % of the top range, the top range
    // within what the digits show at the decimal point. Another tool may have left a device so,
    // and a profile of such a device must still be restorable (see ProfileWriter).
    Display,
};

struct Breach
{
    QString key;    // the value the rule holds back, "mode.set_point"
    QString reason; // the rule with the values that break it, in the window's words
    Kind kind;
};

// values: by catalogue key, as Catalogue::decode gives them. A rule is judged where every value
// it takes is there; with touched given, only the rules that take one of those keys.
QList<Breach> breaches(const QMap<QString, QVariant> &values, const QStringList &touched = {});
// The values that the rules taking one of keys compare them with, keys themselves left out.
QList<const Catalogue::Parameter *> partners(const QStringList &keys);

// What the page's checks correct to, the rules' numbers in one place.
// The highest set point for a top range: 120 % of it, in double precision.
double setPointLimit(float topRange);
// The highest top range the digits show at a decimal-point code (0: no decimals .. 3).
double topRangeLimit(int decimalPointCode);
// The most decimals (a decimal-point code) that leave the top range's whole digits room.
int mostDecimals(float topRange);

} // namespace ModeRules
