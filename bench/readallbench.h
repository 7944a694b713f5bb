#pragma once

#include "catalogue.h"

#include <QList>

#include <functional>

class Session;

// A benchmark of a run of reads that one call makes, one exchange per parameter, against
// indicator-sim pacing the line as a real one would, at 19200 and 1200 baud: the best and the
// median time of N runs beside the floor that the characters on the wire alone take.
namespace ReadAllBench {

// Makes the reads through the session and says whether every one succeeded: a failure ends
// early and would flatter the figures, so that run is repeated rather than timed.
using ReadAll = std::function<bool()>;

// prepare, untimed, gives the reads for a connected session. Usage: BENCH [N] (5 runs).
int run(int argc, char *argv[], const QList<const Catalogue::Parameter *> &reads,
        const std::function<ReadAll(Session &)> &prepare);

} // namespace ReadAllBench
