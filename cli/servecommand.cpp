#include "servecommand.h"

#include "commands.h"
#include "line.h"
#include "lineserver.h"
#include "session.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

namespace {

// How often the serving loop looks whether Ctrl+C came.
constexpr int kStopCheckMs = 50;

} // namespace

int serveLine(const LineSetup &setup, const QString &shownName, const Invocation &invocation, QTextStream &err,
              const std::function<bool()> &stopRequested)
{
    const auto note = [&err](const QString &text) {
        err << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) << "indicator-cli: " << text
            << Qt::endl;
    };
    if (!invocation.modbusTcpAt && !invocation.rtuTcpAt) {
        err << "indicator-cli: serve needs --modbus-tcp [ADDR:]PORT, --rtu-tcp [ADDR:]PORT or both" << Qt::endl;
        return ExitStatus::Usage;
    }

    Line line;
    QEventLoop loop;
    std::optional<LineOpened> opened;
    line.open(setup, &loop, [&](const LineOpened &outcome) {
        opened = outcome;
        loop.quit();
    });
    loop.exec();
    if (!opened->opened) {
        note(QStringLiteral("port %1 not opened: %2")
                 .arg(shownName, OpenFailureText(opened->failure, opened->portName, opened->systemText)));
        return ExitStatus::Failed;
    }

    LineServer server(line);
    QObject::connect(&server, &LineServer::note, &loop, note);
    QStringList served;
    for (const auto &[framing, at] : {std::pair{LineServer::Framing::ModbusTcp, invocation.modbusTcpAt},
                                      std::pair{LineServer::Framing::RtuOverTcp, invocation.rtuTcpAt}}) {
        if (!at)
            continue;
        QString error;
        if (!server.listen(framing, *at, &error)) {
            note(QStringLiteral("cannot take %1 clients at %2: %3").arg(LineServer::framingName(framing), at->text(), error));
            return ExitStatus::Failed;
        }
        served << QStringLiteral("%1 at %2").arg(LineServer::framingName(framing), server.listening(framing)->text());
    }
    note(QStringLiteral("serving %1 as %2; Ctrl+C ends").arg(shownName, served.join(QStringLiteral(" and "))));

    bool lost = false;
    QObject::connect(&line, &Line::portLost, &loop, [&] {
        lost = true;
        loop.quit();
    });
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (stopRequested())
            loop.quit();
    });
    stopCheck.start(kStopCheckMs);
    loop.exec();
    server.close();
    line.close();
    if (lost) {
        note(QStringLiteral("port %1 lost").arg(shownName));
        return ExitStatus::Failed;
    }
    note(QStringLiteral("stopped"));
    return ExitStatus::Success;
}
