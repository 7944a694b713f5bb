#pragma once

#include "benchreport.h"
#include "benchtest.h"
#include "buspoller.h"
#include "profilecloning.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QTimer;
class Session;

// The bench test of the units on a line as «Приборы на линии» runs it: a profile written into
// each unit first when the engineer chooses one, then every poll of the units recorded until the
// test may end, then each unit judged, a profile that did not go in failing it, and the report
// of them all. Nothing here waits for the line; the window shows what it tells.
class BusBench : public QObject
{
    Q_OBJECT

public:
    // lineCaption: the port and its setting as the window shows them, for the report.
    BusBench(Session &session, const QString &lineCaption, QObject *parent = nullptr);

    // The profile into each of the units in turn, its reading, writing and reading back before the
    // next; the caller holds its polls meanwhile. line: the port and setting for the backups to
    // name, the address each unit's. The report names profileName; a unit that did not take the
    // profile fails.
    void writeProfile(const QList<Bus::Unit> &units, const Profiles::DeviceProfile &profile, const QString &profileName,
                      const Profiles::Origin &line, const ProfileCloning::Question &askOtherVersion);
    // A test of the units as they are: the report names no profile.
    void forgetProfile();

    // The test of the poller's units from now on, each of its polls recorded.
    void startTest(Bus::Poller &poller, const BenchTest::Limits &limits);
    // Of the last test started.
    const BenchTest::Limits &limits() const { return m_run->limits(); }
    int readings(quint8 address) const { return m_run ? m_run->readings(address) : 0; }
    // The port went: a test under way ends there, every unit «не проверен».
    void abortTest();
    // The units' poller goes: the profile's writing and a test under way are forgotten, without
    // a report.
    void stop();

signals:
    void writingProfileInto(quint8 address);
    // Empty failure: the unit holds the profile now.
    void profileWritten(int row, const QString &failure);
    void profileWrittenIntoAll();
    // A unit's poll taken into the test: readings(address) says how far it is.
    void unitRecorded(int row);
    // Its rows go in the order of the poller's units.
    void testEnded(const BenchTest::Report &report);

private:
    bool isTesting() const;
    void writeProfileIntoNext();
    void unitWritten();
    void record(int row);
    void endTestWhenOver();
    void endTest();
    BenchTest::Judgement judged(quint8 address) const;

    Session &m_session;
    QString m_lineCaption;
    // The profile written before the test, and what went wrong in each unit (by address).
    QString m_profileName;
    QHash<quint8, QString> m_profileFailures;
    // While the profile goes into the units: the units in turn, and the one whose turn it is.
    QPointer<ProfileCloning> m_cloning; // a child
    QList<Bus::Unit> m_profileUnits;
    Profiles::Origin m_line;
    int m_profileRow = 0;
    QPointer<Bus::Poller> m_poller; // of the test under way, or the last one
    std::optional<BenchTest::Run> m_run;
    QTimer *m_testTimer;
};
