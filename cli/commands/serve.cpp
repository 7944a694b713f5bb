// indicator-cli serve: the line shared with clients on the network until Ctrl+C or the port is
// lost; the clients and the outcome go to standard error, a line each with the time.
#include "context.h"
#include "exitstatus.h"
#include "commands.h"
#include "line.h"
#include "lineserver.h"
#include "stoprequest.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <optional>

namespace {

// Opens the line; false, with the reason told, when it does not open.
bool openLine(Line &line, const ChosenLine &chosen, const std::function<void(const QString &)> &note)
{
    QEventLoop loop;
    std::optional<LineOpened> opened;
    line.open(chosen.setup, &loop, [&](const LineOpened &outcome) {
        opened = outcome;
        loop.quit();
    });
    loop.exec();
    if (!opened->opened)
        note(QStringLiteral("port %1 not opened: %2")
                 .arg(chosen.shownName, OpenFailureText(opened->failure, opened->portName, opened->systemText)));
    return opened->opened;
}

// Takes the clients of each kind asked for; false, with the reason told, when one cannot be.
bool takeClients(LineServer &server, const Invocation &invocation, const ChosenLine &chosen,
                 const std::function<void(const QString &)> &note)
{
    QStringList served;
    for (const auto &[framing, at] : {std::pair{LineServer::Framing::ModbusTcp, invocation.modbusTcpAt},
                                      std::pair{LineServer::Framing::RtuOverTcp, invocation.rtuTcpAt}}) {
        if (!at)
            continue;
        QString error;
        if (!server.listen(framing, *at, &error)) {
            note(QStringLiteral("cannot take %1 clients at %2: %3").arg(LineServer::framingName(framing), at->text(), error));
            return false;
        }
        served << QStringLiteral("%1 at %2").arg(LineServer::framingName(framing), server.listening(framing)->text());
    }
    note(QStringLiteral("serving %1 as %2; Ctrl+C ends").arg(chosen.shownName, served.join(QStringLiteral(" and "))));
    return true;
}

// Serves until Ctrl+C or the port is lost; whether it was lost.
bool serveUntilStopped(Line &line)
{
    QEventLoop loop;
    bool lost = false;
    QObject::connect(&line, &Line::portLost, &loop, [&] {
        lost = true;
        loop.quit();
    });
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (StopRequest::requested())
            loop.quit();
    });
    stopCheck.start(StopRequest::kCheckMs);
    loop.exec();
    return lost;
}

} // namespace

int Commands::serve(CommandContext &context)
{
    const Invocation &invocation = context.invocation();
    const std::optional<ChosenLine> chosen = context.line();
    if (!chosen)
        return ExitStatus::Usage;
    StopRequest::catchSignals();
    if (!invocation.modbusTcpAt && !invocation.rtuTcpAt)
        return context.usage(QStringLiteral("serve needs --modbus-tcp [ADDR:]PORT, --rtu-tcp [ADDR:]PORT or both"));

    QTextStream &err = context.err();
    const auto note = [&err](const QString &text) {
        err << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) << "indicator-cli: " << text
            << Qt::endl;
    };
    Line line;
    if (!openLine(line, *chosen, note))
        return ExitStatus::Failed;
    LineServer server(line);
    QObject::connect(&server, &LineServer::note, &line, note);
    if (!takeClients(server, invocation, *chosen, note))
        return ExitStatus::Failed;
    const bool lost = serveUntilStopped(line);
    server.close();
    line.close();
    if (lost) {
        note(QStringLiteral("port %1 lost").arg(chosen->shownName));
        return ExitStatus::Failed;
    }
    note(QStringLiteral("stopped"));
    return ExitStatus::Success;
}
