#include "stoprequest.h"

#include <QtGlobal>

#include <atomic>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#endif

namespace StopRequest {

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef Q_OS_WIN
// Ctrl+C and Ctrl+Break come to a handler on a thread of its own; the command stops at its next
// look, as after a signal elsewhere.
BOOL WINAPI requestStop(DWORD)
{
    stopRequested = true;
    return TRUE;
}
#else
void requestStop(int) { stopRequested = true; }
#endif

} // namespace

#ifdef Q_OS_WIN
void catchSignals()
{
    SetConsoleCtrlHandler(requestStop, TRUE);
}
#else
// No SA_RESTART: the exchange under way ends within its time-out, then the command stops.
void catchSignals()
{
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}
#endif

bool requested()
{
    return stopRequested;
}

} // namespace StopRequest
