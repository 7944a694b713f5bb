#include "blocking.h"

#include "resultcodes.h"

#include <QEventLoop>

namespace Blocking {

namespace {

// Runs ask, which hands its outcome to the receiver it is given, and waits for that outcome.
// Nothing when ask made no request.
template <typename Outcome, typename Ask>
std::optional<Outcome> waitFor(Ask ask)
{
    QEventLoop waiting;
    std::optional<Outcome> outcome;
    const bool asked = ask(&waiting, [&](const Outcome &got) {
        outcome = got;
        waiting.quit();
    });
    if (!asked)
        return std::nullopt;
    if (!outcome)
        waiting.exec(QEventLoop::ExcludeUserInputEvents);
    return outcome;
}

template <typename Steps>
void waitForEnd(Steps &steps)
{
    QEventLoop waiting;
    QObject::connect(&steps, &Steps::ended, &waiting, &QEventLoop::quit);
    steps.start(); // ends no sooner than the loop's first turn
    waiting.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

bool start(Session &session, const LineSetup &line)
{
    return waitFor<bool>([&](QObject *receiver, auto done) {
               session.start(line, receiver, done);
               return true;
           })
        .value_or(false);
}

std::optional<Session::Reading> readValue(Session &session, const Catalogue::Parameter &parameter,
                                          Session::Reporting reporting)
{
    return readValueAt(session, quint8(session.deviceNumber() & 0xFF), parameter, reporting);
}

std::optional<Session::Reading> readValueAt(Session &session, quint8 address, const Catalogue::Parameter &parameter,
                                            Session::Reporting reporting)
{
    return waitFor<Session::Reading>([&](QObject *receiver, auto done) {
        return session.readValueAt(address, parameter, receiver, done, reporting);
    });
}

std::optional<qint16> writeValue(Session &session, const Catalogue::Parameter &parameter, const QVariant &value,
                                 QString *refusal)
{
    return waitFor<qint16>([&](QObject *receiver, auto done) {
        return session.writeValue(parameter, value, receiver, done, refusal);
    });
}

Bus::Unit identified(Session &session, quint8 address)
{
    Bus::Unit unit;
    unit.address = address;
    unit.silent = true;
    for (auto [id, text] : {std::pair{prmInformationDevName, &unit.name}, std::pair{prmInformationProgVer, &unit.version}}) {
        const std::optional<Session::Reading> reading = readValueAt(session, address, Catalogue::of(id), Session::Reporting::Gathered);
        if (reading && reading->code >= lrOk) {
            *text = reading->value.toString();
            unit.silent = false;
        }
    }
    return unit;
}

std::optional<DeviceSearch::Sweep::Step> next(DeviceSearch::Sweep &sweep)
{
    return waitFor<std::optional<DeviceSearch::Sweep::Step>>([&](QObject *, auto done) { return sweep.next(done); })
        .value_or(std::nullopt);
}

void runToEnd(ProfileReader &reader)
{
    waitForEnd(reader);
}

void runToEnd(ProfileWriter &writer)
{
    waitForEnd(writer);
}

} // namespace Blocking
