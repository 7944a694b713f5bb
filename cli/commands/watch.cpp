// indicator-cli watch: the live values and the flag words, a line per poll of each unit, until
// Ctrl+C or the count.
#include "blocking.h"
#include "catalogue.h"
#include "context.h"
#include "csvwriter.h"
#include "exitstatus.h"
#include "commands.h"
#include "polllog.h"
#include "resultcodes.h"
#include "stoprequest.h"
#include "values.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTextStream>
#include <QThread>

#include <functional>

namespace {

using Catalogue::Parameter;

struct Polled
{
    const Parameter *parameter;
    QVariant value; // none when it could not be read
};

// One unit's values at one time; the address only when several units are watched.
struct Poll
{
    QDateTime time;
    std::optional<quint8> address;
    QList<Polled> values;
};

QList<const Parameter *> liveParameters()
{
    QList<const Parameter *> live;
    for (const Parameter &parameter : Catalogue::parameters()) {
        if (parameter.role == Catalogue::Role::Reading)
            live << &parameter;
    }
    return live;
}

// A row in a script's CSV, without its line feed: the printer ends the line.
QString csvRow(const std::function<void(CsvWriter &)> &fields)
{
    QString row;
    QTextStream stream(&row);
    CsvWriter csv(stream, CsvWriter::Dialect::Script);
    fields(csv);
    csv.endRow();
    return row.chopped(1);
}

QString csvHeader(const QList<const Parameter *> &live, bool many)
{
    return csvRow([&](CsvWriter &csv) {
        csv.text(QStringLiteral("time"));
        if (many)
            csv.text(QStringLiteral("address"));
        for (const Parameter *parameter : live)
            csv.text(parameter->key);
    });
}

// A value not read is left out of JSON, empty in CSV and "?" for a person. Files and scripts get
// the time with its zone, as the window's log does, so that rows from two places or a change of
// summer time line up.
QString csvLine(const Poll &poll)
{
    return csvRow([&](CsvWriter &csv) {
        csv.value(PollLog::timeText(poll.time));
        if (poll.address)
            csv.value(QString::number(*poll.address));
        for (const auto &[parameter, value] : poll.values) {
            const QString text = value.isValid() ? Catalogue::valueText(*parameter, value) : QString();
            if (parameter->kind == Catalogue::Kind::Text)
                csv.text(text);
            else
                csv.value(text);
        }
    });
}

QJsonObject jsonLine(const Poll &poll)
{
    QJsonObject json{{QStringLiteral("time"), PollLog::timeText(poll.time)}};
    if (poll.address)
        json.insert(QStringLiteral("address"), *poll.address);
    for (const auto &[parameter, value] : poll.values) {
        if (value.isValid())
            json.insert(parameter->key, CliValues::json(*parameter, value));
    }
    return json;
}

QString textLine(const Poll &poll)
{
    QStringList fields{poll.time.toString(QStringLiteral("HH:mm:ss.zzz"))};
    if (poll.address)
        fields << QStringLiteral("address=%1").arg(*poll.address);
    for (const auto &[parameter, value] : poll.values)
        fields << QStringLiteral("%1=%2").arg(parameter->key,
                                              value.isValid() ? CliValues::shown(*parameter, value) : QStringLiteral("?"));
    return fields.join(u' ');
}

// How one poll of one unit went: its exit status so far, and whether the port is gone.
struct Outcome
{
    int status = ExitStatus::Success;
    bool portLost = false;
};

Poll pollUnit(CommandContext &context, quint8 address, bool many, const QList<const Parameter *> &live,
              Outcome &outcome)
{
    Poll poll{QDateTime::currentDateTime(), many ? std::optional(address) : std::nullopt, {}};
    bool silent = false;
    for (const Parameter *parameter : live) {
        const std::optional<Session::Reading> reading =
            silent ? std::nullopt : Blocking::readValueAt(context.session(), address, *parameter);
        const qint16 code = reading ? reading->code : qint16(silent ? lrNoAnswer : lrNotConnected);
        if (!silent && code < lrOk) {
            outcome.status =
                context.failed(many ? QStringLiteral("%1 at %2").arg(parameter->key).arg(address) : parameter->key, code);
            silent = LineFailed(code); // the rest of this poll would only wait as long again
            outcome.portLost = code == lrWriteFailed || code == lrNotConnected;
        }
        poll.values.append({parameter, code < lrOk ? QVariant() : reading->value});
    }
    return poll;
}

} // namespace

int Commands::watch(CommandContext &context)
{
    const Invocation &invocation = context.invocation();
    const QList<const Parameter *> live = liveParameters();
    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    if (!context.connect(*line))
        return ExitStatus::Failed;
    StopRequest::catchSignals();

    const QList<quint8> addresses = context.polledAddresses(*line);
    const bool many = invocation.addresses.has_value();
    if (invocation.csv)
        context.printer().text(csvHeader(live, many));
    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    for (qint64 poll = 0; !StopRequest::requested() && (invocation.count == 0 || poll < invocation.count); ++poll) {
        const qint64 started = clock.elapsed();
        // One unit after another, never two exchanges at once.
        for (qsizetype unit = 0; unit < addresses.size() && !outcome.portLost && !StopRequest::requested(); ++unit) {
            const Poll polled = pollUnit(context, addresses[unit], many, live, outcome);
            context.printer().record(invocation.csv ? csvLine(polled) : textLine(polled), jsonLine(polled));
        }
        if (outcome.portLost)
            return ExitStatus::Failed;
        if (invocation.count != 0 && poll + 1 >= invocation.count)
            break;
        for (qint64 left = started + invocation.intervalMs - clock.elapsed(); left > 0 && !StopRequest::requested();
             left = started + invocation.intervalMs - clock.elapsed())
            QThread::msleep(ulong(qMin<qint64>(left, StopRequest::kCheckMs)));
    }
    return outcome.status;
}
