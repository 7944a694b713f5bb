#pragma once

// Ctrl+C for the commands that go on until they are stopped (watch, test, listen, serve): the
// signal asks the command to stop, and the command ends as its own work allows, its port closed
// and its summary printed, rather than the program being cut off.
namespace StopRequest {

// How often a command that waits looks whether a stop came.
inline constexpr int kCheckMs = 50;

// From now on Ctrl+C, SIGTERM and SIGHUP (Ctrl+C and Ctrl+Break on Windows) ask for the stop.
void catchSignals();
bool requested();

} // namespace StopRequest
