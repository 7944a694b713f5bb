#pragma once

#include "profile.h"
#include "profilecloning.h"
#include "profilereader.h"
#include "profilewriter.h"

#include <QDialog>
#include <QElapsedTimer>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class Session;

// The windows that keep a device's settings in a file and put them back, on the connection's
// session: each exchange queued from the reply of the one before, so that a click acts at once
// while the line is busy, and every exchange shown by the monitor as any other. Closing the
// window forgets its exchanges at once. origin: the connection's line settings and address, for
// the files to name and the reads and writes to go to.
class ProfileWindow : public QDialog
{
    Q_OBJECT

public:
    ProfileWindow(Session &session, const Profiles::Origin &origin, QWidget *parent);

    void done(int result) override;

protected:
    // A cell that cannot be edited, its whole text in its tool tip; marked: red and bold.
    static QTableWidgetItem *cell(const QString &text, bool marked = false);
    // A reading that failed, in the window's words: which values, and why the first did.
    static QString failedReading(const ProfileReader &reader);
    // A table of compact rows, selected whole, the last column taking the width left.
    QTableWidget *newTable(const char *name, const QStringList &headers);

    // A profile file chosen by the user, loaded; none when cancelled or unreadable (said so).
    std::optional<Profiles::DeviceProfile> chooseProfile(QString *path);
    // Reads the device at m_origin as it is now, the progress bar following; then done.
    void readDevice(const std::function<void(const ProfileReader &)> &done);
    // Writes what writer plans, the progress bar following, each result to stepDone; then ended.
    void writeDevice(ProfileWriter *writer, const std::function<void(const ProfileWriter::Result &)> &stepDone,
                     const std::function<void()> &ended);
    // The progress bar follows a reading or a writing about to start.
    void followReading(ProfileReader *reader);
    void followWriting(ProfileWriter *writer);
    void showStatus(const QString &text, bool failure = false);

    Session &m_session;
    Profiles::Origin m_origin;
    ProfileReader *m_reader = nullptr; // the last reading, a child
    ProfileWriter *m_writer = nullptr; // the last writing, a child
    QLabel *m_status;
    QProgressBar *m_progress;
    QPushButton *m_close;
};

// «Сохранить настройки прибора…»: reads every setting a profile keeps, then asks where to save.
// A device that did not give every value gives no file, and the window names what failed.
class ProfileSaveWindow : public ProfileWindow
{
    Q_OBJECT

public:
    ProfileSaveWindow(Session &session, const Profiles::Origin &origin, QWidget *parent);
    // Starts the reading; true, as there is nothing to choose first.
    bool start();

private:
    void save(const ProfileReader &reader);
};

// «Сравнить с файлом…»: the device beside a file, the differences marked and counted, and
// «Записать отличия» to write those alone, each read back.
class ProfileCompareWindow : public ProfileWindow
{
    Q_OBJECT

public:
    ProfileCompareWindow(Session &session, const Profiles::Origin &origin, QWidget *parent);
    // Asks for the file; false when none was chosen.
    bool start();

private:
    enum Column { ParameterColumn, DeviceColumn, FileColumn, ResultColumn, ColumnCount };
    enum class State {
        Reading,  // the device, before anything is shown
        NotRead,  // not every value came: nothing to write from
        Same,     // the device holds the file's values
        Differs,  // «Записать отличия» may write them
        Writing,
        Written,  // the table shows what the device holds now
    };

    void setState(State state);
    void showComparison(const ProfileReader &reader);
    void writeDifferences();
    void showResult(const ProfileWriter::Result &result);
    void finishWriting();
    int rowOf(const Catalogue::Parameter *parameter) const;

    Profiles::DeviceProfile m_file;
    QString m_filePath;
    std::optional<Profiles::DeviceProfile> m_device;
    State m_state = State::Reading;
    QLabel *m_identity;
    QTableWidget *m_table;
    QCheckBox *m_lineSettings;
    QPushButton *m_write;
};

// «Тиражирование…»: one profile into many units on the line, at a list of addresses in one go,
// or unit after unit on a bench at the profile's address, «Следующий» for each. A row per unit.
class ProfileCloneWindow : public ProfileWindow
{
    Q_OBJECT

public:
    ProfileCloneWindow(Session &session, const Profiles::Origin &origin, QWidget *parent);
    bool start();

    void done(int result) override;

private:
    enum Column { AddressColumn, NameColumn, VersionColumn, ResultColumn, TimeColumn, ColumnCount };
    enum class State {
        Ready,
        Refused, // the file holds what no unit may be sent: nothing to write
        Writing, // unit after unit
    };

    void setState(State state);
    void cloneAll();
    void cloneNext();
    void cloneInto(const QList<int> &addresses);
    void writeNextUnit();
    void showUnit();
    void addRow(int address, const Profiles::Identity &identity, const QString &result, bool failed);
    void saveTable();

    Profiles::DeviceProfile m_file;
    ProfileCloning *m_cloning = nullptr; // a child, once the file is chosen
    QList<int> m_waiting;                // the units after the one being written
    int m_unitAddress = 0;
    QElapsedTimer m_unitClock;
    QLineEdit *m_addresses;
    QCheckBox *m_lineSettings;
    QPushButton *m_all;
    QPushButton *m_next;
    QPushButton *m_saveTable;
    QTableWidget *m_table;
};
