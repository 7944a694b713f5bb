#pragma once

#include "commandline.h"
#include "linesetup.h"

#include <QTextStream>

#include <functional>

// indicator-cli serve: opens the line and serves it until stopRequested says so or the port is
// lost; the clients and the outcome go to err, a line each with the time. The exit status.
int serveLine(const LineSetup &setup, const QString &shownName, const Invocation &invocation, QTextStream &err,
              const std::function<bool()> &stopRequested);
