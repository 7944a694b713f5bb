#pragma once

#include "profile.h"

#include <QList>
#include <QVariant>

#include <optional>

class Session;

// Reads a device's settings into a profile, one parameter an exchange, so that a window can show
// its progress and stay responsive between two of them:
//
//     ProfileReader reader(session, origin);
//     while (const auto step = reader.next())
//         progress->setValue(int(reader.done()));
//     if (!reader.complete())
//         ... name reader.failures(); no file
//
// Each read goes through the session and reports its outcome there, as the pages' reads do. A
// read that fails gives no value. Silence or a lost port ends the reading at once: the device
// is not there, and every parameter not yet read counts as failed with that result.
class ProfileReader
{
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
    ProfileReader(Session &session, const Profiles::Origin &origin);

    // Reads the next parameter of Profiles::readParameters(); nothing once all are done.
    std::optional<Step> next();
    // Reads what is left.
    void readAll();

    bool finished() const { return m_next >= total(); }
    qsizetype done() const { return m_next; }
    qsizetype total() const { return Profiles::readParameters().size(); }

    const QList<Failure> &failures() const { return m_failures; }
    // Finished with every value read.
    bool complete() const { return finished() && m_failures.isEmpty(); }
    // What has been read so far, stamped now; missing values where reads failed.
    Profiles::DeviceProfile profile() const;

private:
    void failTheRest(qint16 code);

    Session &m_session;
    Profiles::Origin m_origin;
    qsizetype m_next = 0;
    QMap<QString, QVariant> m_values;
    Profiles::Identity m_identity;
    QList<Failure> m_failures;
};
