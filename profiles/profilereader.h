#pragma once

#include "profile.h"
#include "session.h"

#include <QList>
#include <QObject>
#include <QVariant>

// Reads a device's settings into a profile, one parameter an exchange, each read queued on the
// session when the one before has its reply, so that a window shows its progress and never
// waits for the line:
//
//     auto *reader = new ProfileReader(session, origin, this);
//     connect(reader, &ProfileReader::stepDone, ... progress->setValue(int(reader->done())));
//     connect(reader, &ProfileReader::ended, ... if (!reader->complete()) name reader->failures(); no file);
//     reader->start();
//
// The reads go to the device at origin.address. Each goes through the session and reports its
// outcome there, as the pages' reads do. A read that fails gives no value. Silence or a lost
// port ends the reading at once: the device is not there, and every parameter not yet read
// counts as failed with that result. The reader is the receiver of its own requests: cancel()
// forgets them, and a reader that has gone hears no more of them. One that a receiver of its
// signals is done with goes by deleteLater(), as the signal is still being told.
class ProfileReader : public QObject
{
    Q_OBJECT

public:
    struct Failure
    {
        const Catalogue::Parameter *parameter;
        qint16 code;  // the exchange's result; lrOk for a value that no profile can hold
        QString text; // ResultText, or why the value cannot be kept
    };
    struct Step
    {
        const Catalogue::Parameter *parameter;
        qint16 code;
        QVariant value; // invalid when the read failed
    };

    // origin: the line settings and address the session reads at, for the profile to name.
    ProfileReader(Session &session, const Profiles::Origin &origin, QObject *parent = nullptr);

    // Queues the first read of Profiles::readParameters(); each reply queues the next. Every
    // step is told by stepDone and the end by ended, never before start() has returned.
    void start();
    // Forgets the read queued or under way: nothing more is read or told.
    void cancel();

    bool finished() const { return m_next >= total(); }
    qsizetype done() const { return m_next; }
    qsizetype total() const { return Profiles::readParameters().size(); }

    const QList<Failure> &failures() const { return m_failures; }
    // Finished with every value read.
    bool complete() const { return finished() && m_failures.isEmpty(); }
    // What has been read so far, stamped now; missing values where reads failed.
    Profiles::DeviceProfile profile() const;

signals:
    void stepDone(const ProfileReader::Step &step);
    void ended();

private:
    void readNext();
    void take(const Catalogue::Parameter &parameter, const Session::Reading &reading);
    Step kept(const Catalogue::Parameter &parameter, const Session::Reading &reading);
    void failTheRest(qint16 code);

    Session &m_session;
    Profiles::Origin m_origin;
    qsizetype m_next = 0;
    bool m_cancelled = false;
    QMap<QString, QVariant> m_values;
    Profiles::Identity m_identity;
    QList<Failure> m_failures;
};
