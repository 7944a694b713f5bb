#pragma once

#include "profile.h"
#include "profilewriter.h"

#include <QObject>
#include <QString>

#include <functional>

class ProfileReader;
class Session;

// One profile written into unit after unit, as a batch is set up: each unit's settings read as
// they are, then the profile written where they differ, each value read back, the unit's name
// with the rest. A unit of another firmware than the profile's is written only when the
// question put to the caller is answered yes; a yes holds for the units after it, a no is the
// one unit's. A window puts the question to the user; a caller without one answers it itself.
//
//     auto *cloning = new ProfileCloning(session, profile, [this](const QString &question) { ... }, this);
//     connect(cloning, &ProfileCloning::ended, ... cloning->outcome(), reader(), writer() ... the next unit);
//     cloning->writeInto(origin);
//
// Like the reader and the writer it runs, it never waits for the line, and ended never comes
// before writeInto() has returned; cancel() forgets what it asked of the line.
class ProfileCloning : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        NotRead,      // not every setting of the unit was read: nothing written
        OtherVersion, // another firmware, and the question answered no: nothing written
        Written,      // the writer ran to its end: writer() says how it went
    };
    // Returns the answer: true for yes.
    using Question = std::function<bool(const QString &question)>;

    ProfileCloning(Session &session, const Profiles::DeviceProfile &profile, Question askOtherVersion,
                   QObject *parent = nullptr);

    // Starts on the unit at unit.address; ended tells when it is done with, and the next unit
    // may be started from there.
    void writeInto(const Profiles::Origin &unit, const ProfileWriter::Options &options = {});
    void cancel();

    // The last unit's reading, and its writing once that began.
    const ProfileReader *reader() const { return m_reader; }
    const ProfileWriter *writer() const { return m_writer; }
    Outcome outcome() const { return m_outcome; }

signals:
    void reading(ProfileReader *reader); // about to start: for a progress bar to follow
    void writing(ProfileWriter *writer); // the same
    void ended();

private:
    void read();
    bool mayWrite(const Profiles::Identity &unit);
    void end(Outcome outcome);

    Session &m_session;
    Profiles::DeviceProfile m_profile;
    Question m_askOtherVersion;
    bool m_otherVersionsAllowed = false;
    ProfileWriter::Options m_options;
    quint16 m_address = 0;
    ProfileReader *m_reader = nullptr; // a child, until the next unit's
    ProfileWriter *m_writer = nullptr; // the same
    Outcome m_outcome = Outcome::NotRead;
};
