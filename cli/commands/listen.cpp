// indicator-cli listen: a line that another master drives, heard and decoded, nothing sent.
#include "adapter.h"
#include "context.h"
#include "exitstatus.h"
#include "framewords.h"
#include "commands.h"
#include "linecapture.h"
#include "linelistener.h"
#include "linesettings.h"
#include "listenport.h"
#include "stoprequest.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <memory>

namespace {

QString millisecondsOf(qint64 microseconds)
{
    return QString::number(double(microseconds) / 1000, 'f', 1);
}

// A person reads the exchanges, decoded; a script gets each frame as the window's capture
// files hold it.
void printHeard(Printer &printer, LineListener &listener)
{
    for (const LineListener::Record &record : listener.takeRecords())
        printer.jsonLine(LineCapture::jsonLine(record));
    for (const LineListener::Event &event : listener.takeEvents()) {
        QString text = QDateTime::fromMSecsSinceEpoch(event.timeUs / 1000).toString(QStringLiteral("HH:mm:ss.zzz "))
                       + FrameWords::escapedControls(event.text);
        if (event.kind == LineListener::EventKind::Exchange && !event.reply.isEmpty())
            text += QStringLiteral(" (%1 ms)").arg(millisecondsOf(event.replyUs));
        else if (event.kind == LineListener::EventKind::Unframed)
            text += QStringLiteral(": ") + FrameWords::hexBytes(event.reply);
        printer.text(text);
    }
}

QString textLine(quint8 address, const LineListener::Counts &counts)
{
    const QString times = counts.timed == 0 ? QStringLiteral("-")
                                            : QStringLiteral("%1/%2/%3")
                                                  .arg(millisecondsOf(counts.fastestUs), millisecondsOf(counts.meanUs()),
                                                       millisecondsOf(counts.slowestUs));
    return QStringLiteral("address %1: %2 requests, %3 replies, %4 time-outs, %5 CRC errors, "
                          "reply ms min/mean/max %6")
        .arg(address)
        .arg(counts.requests)
        .arg(counts.replies)
        .arg(counts.timeouts)
        .arg(counts.crcErrors)
        .arg(times);
}

QJsonObject jsonEntry(quint8 address, const LineListener::Counts &counts)
{
    return QJsonObject{{QStringLiteral("address"), address},
                       {QStringLiteral("requests"), counts.requests},
                       {QStringLiteral("replies"), counts.replies},
                       {QStringLiteral("timeouts"), counts.timeouts},
                       {QStringLiteral("crc_errors"), counts.crcErrors},
                       {QStringLiteral("reply_us_min"), counts.fastestUs},
                       {QStringLiteral("reply_us_mean"), counts.meanUs()},
                       {QStringLiteral("reply_us_max"), counts.slowestUs}};
}

void printSummary(Printer &printer, const LineListener &listener)
{
    QJsonArray addresses;
    for (const auto &[address, counts] : listener.counts()) {
        printer.text(textLine(address, counts));
        addresses.append(jsonEntry(address, counts));
    }
    printer.record(QStringLiteral("unframed bytes: %1").arg(listener.unframedBytes()),
                   QJsonObject{{QStringLiteral("summary"), addresses},
                               {QStringLiteral("unframed_bytes"), listener.unframedBytes()}});
}

} // namespace

int Commands::listen(CommandContext &context)
{
    const std::optional<ChosenLine> line = context.line();
    if (!line)
        return ExitStatus::Usage;
    if (!CAdapter::abilitiesOf(line->setup.portName).passesLine) {
        context.note(QStringLiteral("port %1 leads to a Modbus TCP gateway, which passes on only the replies to its own "
                                    "requests, never the line's other traffic: there is nothing to listen to")
                         .arg(line->shownName));
        return ExitStatus::Usage;
    }
    const std::unique_ptr<ListenPort> port = ListenPort::forLine(line->setup);
    const QString failure = port ? port->open() : OpenFailureText(OpenFailure::LineSettings, {}, {});
    if (!failure.isEmpty()) {
        context.note(QStringLiteral("port %1 not opened: %2").arg(line->shownName, failure));
        return ExitStatus::Failed;
    }
    StopRequest::catchSignals();
    context.note(QStringLiteral("listening to %1, sending nothing; Ctrl+C ends").arg(line->shownName));
    LineListener listener(LineSettings::baudRate(line->setup.speedNumber).value_or(0));
    QElapsedTimer clock;
    clock.start();
    const qint64 durationMs = context.invocation().durationS * 1000;
    while (!StopRequest::requested() && (durationMs == 0 || clock.elapsed() < durationMs) && !port->lost()) {
        port->poll(StopRequest::kCheckMs, listener);
        printHeard(context.printer(), listener);
    }
    const bool lost = port->lost();
    port->close();
    listener.finish();
    printHeard(context.printer(), listener);
    printSummary(context.printer(), listener);
    if (lost) {
        context.note(QStringLiteral("port %1 lost").arg(line->shownName));
        return ExitStatus::Failed;
    }
    return ExitStatus::Success;
}
