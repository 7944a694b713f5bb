#pragma once

#include "profile.h"
#include "session.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

// Writes a profile into a device safely, one parameter at a time, each exchange queued on the
// session from the reply of the one before, so that a window shows its progress and never waits
// for the line:
//
//     reader: ProfileReader at the device's address, to its end      // the device as it is now
//     auto *writer = new ProfileWriter(session, file, reader->profile(), options, this);
//     if (!writer->refused().isEmpty()) ... name them; nothing is written
//     if (!writer->identityDifferences().isEmpty()) ... ask, then writer->confirmIdentity()
//     connect(writer, &ProfileWriter::stepDone, ... a row per parameter);
//     connect(writer, &ProfileWriter::ended, ... writer->summary());
//     writer->start();
//
// Every value of the file is judged first, by the catalogue and by the Mode rules between the
// values (ModeRules); one that the window would refuse makes the writer write nothing at all. A profile of a device of
// another name or firmware version waits for confirmIdentity(). Before the first write the
// device's present settings are saved into backupFolder, so that a wrong write can be undone
// by writing that file back; a backup that cannot be saved writes nothing.
//
// The order is one the device accepts at every step: the decimal point first, as it sets what
// the ordered range may hold; then the ordered range, bottom before top unless the new bottom is
// above the present top; then the set point, which the range bounds; then the other settings in
// catalogue order, and the line settings last, as they take effect only when the device
// restarts. Each written value is read back and compared. The writes and read-backs go to the
// address the device was read at (current.origin.address). The writer is the receiver of its own
// requests: cancel() forgets them, and a writer that has gone hears no more of them. One that a
// receiver of its signals is done with goes by deleteLater(), as the signal is still being told.
class ProfileWriter : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        bool onlyDiffering = true;     // leave out values the device already holds
        bool withLineSettings = false; // the four port.* values
        QString backupFolder = Profiles::backupFolder();
        // The rules of what the digits show (ModeRules::Kind::Display) let pass: a device may
        // hold such values, written by another tool, and a backup of it must go back whole.
        bool waiveDisplayRules = false;
    };

    struct Refusal
    {
        QString key;
        QString reason; // in the window's words
    };

    enum class Outcome {
        Confirmed,       // written and read back the same
        Refused,         // the write failed: the device refused it, or no reply came
        NotVerified,     // written, but the read-back failed
        ReadBackDiffers, // written, and the device holds another value
        NotSent,         // the line failed before this one's turn
    };

    struct Result
    {
        const Catalogue::Parameter *parameter;
        QVariant before;  // the device's value before the write
        QVariant value;   // the file's
        Outcome outcome;
        qint16 code;      // the failed exchange's result; lrOk otherwise
        QVariant readBack;
        QString text;     // the outcome in the window's words
    };

    // What of this profile the device must not be sent, judged without a device: values the
    // catalogue refuses, values that break the Mode rules between them (those of the display
    // let pass with waiveDisplayRules), values missing.
    static QList<Refusal> refusals(const Profiles::DeviceProfile &target, bool waiveDisplayRules = false);
    // Whether the file at path is one of the backups in options.backupFolder: a device's own
    // state, always to be restorable.
    static bool isBackup(const QString &path, const Options &options);
    // The parameters to write and their order, from what the device holds now.
    static QList<const Catalogue::Parameter *> writeOrder(const Profiles::DeviceProfile &target,
                                                         const Profiles::DeviceProfile &current,
                                                         const Options &options);

    // current: the device as read just before, complete (ProfileReader::complete()).
    ProfileWriter(Session &session, const Profiles::DeviceProfile &target, const Profiles::DeviceProfile &current,
                  const Options &options, QObject *parent = nullptr);
    // With the default options: only the differing values, no line settings.
    ProfileWriter(Session &session, const Profiles::DeviceProfile &target, const Profiles::DeviceProfile &current);

    // refusals(target), and the values of current that could not be read.
    const QList<Refusal> &refused() const { return m_refused; }
    const QStringList &identityDifferences() const { return m_identityDifferences; }
    void confirmIdentity() { m_identityConfirmed = true; }
    // Nothing refused, and the identity the same or confirmed.
    bool ready() const;

    const QList<const Catalogue::Parameter *> &plan() const { return m_plan; }
    // The line settings that differ but stay as they are without withLineSettings.
    QList<const Catalogue::Parameter *> leftOut() const;

    // Saves the backup and queues the first write; each write's reply queues its read-back, and
    // each read-back the next write. Every result is told by stepDone and the end by ended,
    // never before start() has returned. When not ready, when the backup fails, or with nothing
    // planned, only ended comes.
    void start();
    // Forgets the exchange queued or under way: nothing more is written or told.
    void cancel();
    bool finished() const;
    qsizetype done() const { return m_results.size(); }
    qsizetype total() const { return m_plan.size(); }

    QString backupPath() const { return m_backupPath; }
    QString backupError() const { return m_backupError; }
    const QList<Result> &results() const { return m_results; }
    // Finished, and every planned parameter confirmed.
    bool allConfirmed() const;
    // The unit's outcome in a table's words: nothing to write, how many were written and
    // confirmed, or the first thing that went wrong.
    QString summary() const;

signals:
    void stepDone(const ProfileWriter::Result &result);
    void ended();

private:
    bool backUp();
    quint8 address() const;
    void writeNext();
    void written(Result result, qint16 code);
    void readBack(Result result, const Session::Reading &reading);
    void record(const Result &result);

    Session &m_session;
    Profiles::DeviceProfile m_target;
    Profiles::DeviceProfile m_current;
    Options m_options;
    QList<Refusal> m_refused;
    QStringList m_identityDifferences;
    bool m_identityConfirmed = false;
    QList<const Catalogue::Parameter *> m_plan;
    QString m_backupPath;
    QString m_backupError;
    bool m_lineFailed = false;
    bool m_cancelled = false;
    QList<Result> m_results;
};
