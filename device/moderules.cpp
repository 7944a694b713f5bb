#include "moderules.h"

#include <algorithm>
#include <array>
#include <functional>

namespace ModeRules {

namespace {

using Catalogue::Parameter;

constexpr double kSetPointMargin = 1.2; // the set point may reach 120 % of the top range

// By decimal-point code: the largest top range the four digits show with it, and the top range
// from which it can no longer be chosen.
constexpr std::array<double, 4> kTopRangeLimits{9999, 999.9, 99.99, 9.999};
constexpr std::array<float, 4> kTooLargeFrom{0, 1000, 100, 10}; // 0: any value

struct Rule
{
    QList<TParamId> takes; // the first is the value the rule holds back
    Kind kind;
    // Why the values break the rule, or empty when they keep it.
    std::function<QString(const QList<QVariant> &values)> judge;
};

QString shown(TParamId id, const QVariant &value)
{
    const Parameter &parameter = Catalogue::of(id);
    return QStringLiteral("%1 %2").arg(parameter.key, Catalogue::valueText(parameter, value));
}

float single(const QVariant &value)
{
    return float(value.toDouble());
}

// Bottom at most top, for every range the catalogue knows.
QList<Rule> orderRules()
{
    QList<Rule> rules;
    for (const Parameter &bottom : Catalogue::parameters()) {
        if (!bottom.rangeTop)
            continue;
        const TParamId top = *bottom.rangeTop;
        rules.append({{bottom.id, top}, Kind::Order, [top](const QList<QVariant> &v) {
                          if (single(v[0]) <= single(v[1]))
                              return QString();
                          return QStringLiteral("выше, чем %1 (%2)").arg(Catalogue::of(top).caption, shown(top, v[1]));
                      }});
    }
    return rules;
}

const QList<Rule> &rules()
{
    static const QList<Rule> all = [] {
        QList<Rule> rules = orderRules();
        rules.append({{prmModeRangeSet, prmModeTopRange}, Kind::Display, [](const QList<QVariant> &v) {
                          const double limit = setPointLimit(single(v[1]));
                          if (double(single(v[0])) <= limit)
                              return QString();
                          return QStringLiteral("выше 120 % верхней границы (%1): не больше %2")
                              .arg(shown(prmModeTopRange, v[1]))
                              .arg(limit);
                      }});
        rules.append({{prmModeDecimalPointPos, prmModeTopRange}, Kind::Display, [](const QList<QVariant> &v) {
                          const double limit = topRangeLimit(v[0].toInt());
                          if (double(single(v[1])) <= limit)
                              return QString();
                          return QStringLiteral("оставляет верхней границе не больше %1 (%2)")
                              .arg(limit)
                              .arg(shown(prmModeTopRange, v[1]));
                      }});
        return rules;
    }();
    return all;
}

bool takesAny(const Rule &rule, const QStringList &keys)
{
    return std::any_of(rule.takes.begin(), rule.takes.end(),
                       [&](TParamId id) { return keys.contains(Catalogue::of(id).key); });
}

} // namespace

QList<Breach> breaches(const QMap<QString, QVariant> &values, const QStringList &touched)
{
    QList<Breach> broken;
    for (const Rule &rule : rules()) {
        if (!touched.isEmpty() && !takesAny(rule, touched))
            continue;
        QList<QVariant> taken;
        for (TParamId id : rule.takes)
            taken << values.value(Catalogue::of(id).key);
        if (std::any_of(taken.begin(), taken.end(), [](const QVariant &v) { return !v.isValid(); }))
            continue;
        if (const QString why = rule.judge(taken); !why.isEmpty())
            broken.append({Catalogue::of(rule.takes.first()).key, why, rule.kind});
    }
    return broken;
}

QList<const Parameter *> partners(const QStringList &keys)
{
    QList<const Parameter *> found;
    for (const Parameter &parameter : Catalogue::parameters()) {
        const bool partner = !keys.contains(parameter.key)
                             && std::any_of(rules().begin(), rules().end(), [&](const Rule &rule) {
                                    return rule.takes.contains(parameter.id) && takesAny(rule, keys);
                                });
        if (partner)
            found.append(&parameter);
    }
    return found;
}

double setPointLimit(float topRange)
{
    return double(topRange) * kSetPointMargin;
}

double topRangeLimit(int decimalPointCode)
{
    return kTopRangeLimits.at(size_t(std::clamp(decimalPointCode, 0, int(kTopRangeLimits.size()) - 1)));
}

int mostDecimals(float topRange)
{
    int most = int(kTooLargeFrom.size()) - 1;
    while (most > 0 && topRange >= kTooLargeFrom[size_t(most)])
        --most;
    return most;
}

} // namespace ModeRules
