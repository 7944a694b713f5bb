#pragma once

#include <QAction>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMainWindow>

// Presses the window's «Старт» and serves its events until the port has opened (the window's
// «Стоп» enabled), at most timeoutMs; whether it did.
inline bool startWindow(QMainWindow &window, int timeoutMs = 5000)
{
    const auto action = [&window](const char *name) { return window.findChild<QAction *>(QLatin1String(name)); };
    action("ActionStart")->trigger();
    QEventLoop loop;
    const QDeadlineTimer deadline(timeoutMs);
    while (!action("ActionStop")->isEnabled() && !deadline.hasExpired())
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    return action("ActionStop")->isEnabled();
}
