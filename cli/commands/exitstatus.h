#pragma once

// The exit status of indicator-cli.
namespace ExitStatus {
enum : int {
    Success = 0,
    Failed = 1,  // the device or the line failed; the window's message and the code on standard error
    Usage = 2,   // a usage error or a refused value: nothing was written
    Differs = 3, // compare found differences, load read back another value, or a unit failed its test
};
} // namespace ExitStatus
