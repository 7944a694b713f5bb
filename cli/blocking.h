#pragma once

#include "buspoller.h"
#include "devicesearch.h"
#include "profilereader.h"
#include "profilewriter.h"
#include "session.h"

#include <optional>

// The session's procedures for a caller that has nothing to do until the reply is in, as the
// command line has: each returns once its exchange is over, serving the thread's events but user
// input meanwhile. A window never calls them: it hands its request in and goes on.
namespace Blocking {

bool start(Session &session, const LineSetup &line);
std::optional<Session::Reading> readValue(Session &session, const Catalogue::Parameter &parameter,
                                          Session::Reporting reporting = Session::Reporting::Reported);
std::optional<Session::Reading> readValueAt(Session &session, quint8 address, const Catalogue::Parameter &parameter,
                                            Session::Reporting reporting = Session::Reporting::Reported);
std::optional<qint16> writeValue(Session &session, const Catalogue::Parameter &parameter, const QVariant &value,
                                 QString *refusal = nullptr);
// Starts the reader or writer and returns once it has ended; its signals are told meanwhile.
void runToEnd(ProfileReader &reader);
void runToEnd(ProfileWriter &writer);

// A unit of the line as a test takes it before its polls: its name and firmware, and silent
// when it answered neither, so that an empty address is retried within the poller's budget from
// the start rather than given two turns of its own.
Bus::Unit identified(Session &session, quint8 address);

// The search's next step; none once it has finished or its port failed.
std::optional<DeviceSearch::Sweep::Step> next(DeviceSearch::Sweep &sweep);

} // namespace Blocking
