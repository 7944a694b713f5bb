#include "commandline.h"

#include "addresslist.h"
#include "commandtable.h"
#include "devicesearch.h"
#include "framewords.h"
#include "linesettings.h"
#include "options.h"
#include "testreport.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace CommandLine {

namespace {

// Polls closer than this would keep the line busy with nothing new to show; a poll of the
// six live values alone takes about 60 ms at 19200 baud.
constexpr int kShortestIntervalMs = 10;
constexpr int kLongestIntervalMs = 24 * 3600 * 1000;
// A week of listening.
constexpr qint64 kLongestDurationS = 7 * 24 * 3600;
// σ needs two readings; a million is more than a week's test gives a unit.
constexpr qint64 kFewestMinReadings = 2;
constexpr qint64 kMostMinReadings = 1000000;

// Decimal digits only, within the bounds.
std::optional<qint64> wholeNumber(const QString &text, qint64 lowest, qint64 highest)
{
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

// A decimal number with a point, finite.
std::optional<double> decimal(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<quint8> speedOf(const QString &text)
{
    const std::optional<qint64> baud = wholeNumber(text, 0, LineSettings::BaudRates.back());
    return baud ? LineSettings::speedNumber(quint32(*baud)) : std::nullopt;
}

// Reads the options' values into the invocation; false with error set.
class Reader
{
public:
    Reader(Invocation &invocation, QString *error) : m_invocation(invocation), m_error(error) {}

    bool take(const QString &name, const QString &value)
    {
        Invocation &i = m_invocation;
        if (name == QLatin1String("--port")) {
            // A control character names no port a person meant, and would act on the terminal
            // in every message that names the port.
            const bool control = std::any_of(value.begin(), value.end(),
                                             [](QChar c) { return c.category() == QChar::Other_Control; });
            if (value.isEmpty() || control)
                return fail(QStringLiteral("--port takes a device path or COM1.., not \"%1\"").arg(value));
            i.port = value;
        } else if (name == QLatin1String("--baud")) {
            if (!(i.speedNumber = speedOf(value)))
                return fail(QStringLiteral("--baud takes one of %1, not \"%2\"").arg(baudList(), value));
        } else if (name == QLatin1String("--parity")) {
            if (!(i.parity = LineSettings::parityRow(value)))
                return fail(QStringLiteral("--parity takes none, even or odd, not \"%1\"").arg(value));
        } else if (name == QLatin1String("--stop-bits")) {
            const std::optional<qint64> count = wholeNumber(value, 1, 2);
            if (!count)
                return fail(QStringLiteral("--stop-bits takes 1 or 2, not \"%1\"").arg(value));
            i.stopBits = LineSettings::stopBitsRow(double(*count));
        } else if (name == QLatin1String("--address")) {
            const auto address = wholeNumber(value, DeviceSearch::kFirstAddress, DeviceSearch::kLastAddress);
            if (!address)
                return fail(QStringLiteral("--address takes a whole number from 1 to 247, not \"%1\"").arg(value));
            i.address = int(*address);
        } else if (name == QLatin1String("--addresses")) {
            return takeAddresses(value);
        } else if (name == QLatin1String("--bauds")) {
            return takeList(value, i.speeds, speedOf, QStringLiteral("--bauds takes speeds among %1").arg(baudList()));
        } else if (name == QLatin1String("--parities")) {
            return takeList(value, i.parities, LineSettings::parityRow,
                            QStringLiteral("--parities takes none, even and odd"));
        } else if (name == QLatin1String("--interval")) {
            const auto interval = wholeNumber(value, kShortestIntervalMs, kLongestIntervalMs);
            if (!interval)
                return fail(QStringLiteral("--interval takes milliseconds from %1 to %2, not \"%3\"")
                                .arg(kShortestIntervalMs).arg(kLongestIntervalMs).arg(value));
            i.intervalMs = int(*interval);
        } else if (name == QLatin1String("--count")) {
            const auto count = wholeNumber(value, 1, std::numeric_limits<qint64>::max());
            if (!count)
                return fail(QStringLiteral("--count takes a whole number above 0, not \"%1\"").arg(value));
            i.count = *count;
        } else if (name == QLatin1String("--expect") || name == QLatin1String("--tolerance")
                   || name == QLatin1String("--sigma")) {
            const std::optional<double> number = decimal(value);
            const bool limit = name != QLatin1String("--expect");
            if (!number || (limit && *number < 0))
                return fail(QStringLiteral("%1 takes a%2 number, not \"%3\"")
                                .arg(name, limit ? QStringLiteral(" non-negative") : QString(), value));
            (name == QLatin1String("--expect") ? i.expected : name == QLatin1String("--tolerance") ? i.tolerance : i.sigmaLimit) = number;
        } else if (name == QLatin1String("--min-readings")) {
            const auto readings = wholeNumber(value, kFewestMinReadings, kMostMinReadings);
            if (!readings)
                return fail(QStringLiteral("--min-readings takes a whole number from %1 to %2, not \"%3\"")
                                .arg(kFewestMinReadings).arg(kMostMinReadings).arg(value));
            i.minReadings = int(*readings);
        } else if (name == QLatin1String("--report")) {
            if (!TestReport::knownSuffix(value))
                return fail(QStringLiteral("--report takes a file ending in .html or .pdf, not \"%1\"").arg(value));
            i.reportPath = value;
        } else if (name == QLatin1String("--modbus-tcp") || name == QLatin1String("--rtu-tcp")) {
            QString why;
            const std::optional<Endpoint> endpoint = Endpoint::parse(value, &why);
            if (!endpoint)
                return fail(QStringLiteral("%1 %2").arg(name, why));
            (name == QLatin1String("--modbus-tcp") ? i.modbusTcpAt : i.rtuTcpAt) = endpoint;
        } else if (name == QLatin1String("--duration")) {
            const auto duration = wholeNumber(value, 1, kLongestDurationS);
            if (!duration)
                return fail(QStringLiteral("--duration takes seconds from 1 to %1, not \"%2\"")
                                .arg(kLongestDurationS).arg(value));
            i.durationS = *duration;
        } else if (name == QLatin1String("--max-duration")) {
            const auto longest = wholeNumber(value, 1, kLongestDurationS);
            if (!longest)
                return fail(QStringLiteral("--max-duration takes seconds from 1 to %1, not \"%2\"")
                                .arg(kLongestDurationS).arg(value));
            i.longestS = *longest;
        }
        return true;
    }

    void set(const QString &name)
    {
        Invocation &i = m_invocation;
        if (name == QLatin1String("--json"))
            i.json = true;
        else if (name == QLatin1String("--help"))
            i.help = true;
        else if (name == QLatin1String("--with-line-settings"))
            i.withLineSettings = true;
        else if (name == QLatin1String("--dry-run"))
            i.dryRun = true;
        else if (name == QLatin1String("--force"))
            i.force = true;
        else if (name == QLatin1String("--csv"))
            i.csv = true;
        else if (name == QLatin1String("--all"))
            i.allAddresses = true;
    }

    bool fail(const QString &message)
    {
        *m_error = message;
        return false;
    }

private:
    static QString baudList()
    {
        QStringList rates;
        for (quint32 rate : LineSettings::BaudRates)
            rates << QString::number(rate);
        return rates.join(QStringLiteral(", "));
    }

    bool takeAddresses(const QString &value)
    {
        QString why;
        const QList<quint8> addresses = AddressList::parse(value, &why);
        if (addresses.isEmpty())
            return fail(QStringLiteral("--addresses \"%1\": %2").arg(value, why));
        m_invocation.addresses = addresses;
        return true;
    }

    template <typename Parse>
    bool takeList(const QString &value, QList<quint8> &rows, Parse parse, const QString &why)
    {
        rows.clear();
        for (const QString &item : value.split(u',')) {
            const std::optional<quint8> row = parse(item);
            if (!row)
                return fail(QStringLiteral("%1, not \"%2\"").arg(why, item));
            if (!rows.contains(*row))
                rows.append(*row);
        }
        return true;
    }

    Invocation &m_invocation;
    QString *m_error;
};

std::optional<Invocation> parseArguments(const QStringList &arguments, QString *error)
{
    Invocation invocation;
    Reader reader(invocation, error);
    QStringList given; // options as they came, to check against the command at the end
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u'-') || argument == QLatin1String("-")) {
            if (invocation.command.isEmpty())
                invocation.command = argument;
            else
                invocation.arguments << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype equals = argument.indexOf(u'=');
        QString name = equals < 0 ? argument : argument.first(equals);
        if (name == QLatin1String("-h"))
            name = QStringLiteral("--help");
        const Option *option = findOption(name);
        if (!option) {
            *error = QStringLiteral("unknown option %1").arg(name);
            return std::nullopt;
        }
        given << name;
        if (!option->value) {
            if (equals >= 0) {
                *error = QStringLiteral("%1 takes no value").arg(name);
                return std::nullopt;
            }
            reader.set(name);
            continue;
        }
        QString value;
        if (equals >= 0) {
            value = argument.sliced(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            *error = QStringLiteral("%1 takes %2").arg(name, QLatin1String(option->value));
            return std::nullopt;
        }
        if (!reader.take(name, value))
            return std::nullopt;
    }

    if (invocation.command.isEmpty()) {
        if (invocation.help)
            return invocation;
        *error = QStringLiteral("no command given");
        return std::nullopt;
    }
    const Command *command = Commands::find(invocation.command);
    if (!command) {
        *error = QStringLiteral("unknown command \"%1\"").arg(invocation.command);
        return std::nullopt;
    }
    for (const QString &name : std::as_const(given)) {
        const Option *option = findOption(name);
        if (option->command && !belongsTo(*option, invocation.command)) {
            *error = QStringLiteral("%1 is an option of %2, not of %3")
                         .arg(name, QLatin1String(option->command), invocation.command);
            return std::nullopt;
        }
    }
    const int count = int(invocation.arguments.size());
    if (!invocation.help
        && (count < command->fewestArguments || (command->mostArguments >= 0 && count > command->mostArguments))) {
        *error = QStringLiteral("usage: indicator-cli %1").arg(QLatin1String(command->synopsis));
        return std::nullopt;
    }
    return invocation;
}

} // namespace

std::optional<Invocation> parse(const QStringList &arguments, QString *error)
{
    std::optional<Invocation> invocation = parseArguments(arguments, error);
    if (!invocation)
        *error = FrameWords::escapedControls(*error); // it names what was given, which may hold any character
    return invocation;
}

} // namespace CommandLine
