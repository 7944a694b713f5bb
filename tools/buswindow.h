#pragma once

#include "benchreport.h"
#include "benchtest.h"
#include "buspoller.h"
#include "devicesearch.h"
#include "profile.h"
#include "profilecloning.h"
#include "session.h"

#include <QDialog>
#include <QHash>
#include <QPointer>

#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;

// «Приборы на линии»: every unit that answers at the left panel's line setting, found by a
// sweep of the addresses at that one setting and then polled in turn, each row its reading,
// lamps and the age of its last poll; a bench test of them all against one reference signal,
// with a report. The window opens the main window's line itself, as the search does, and lets
// go of it when it closes. A double-click hands the unit's address back to the main window.
class BusWindow : public QDialog
{
    Q_OBJECT

public:
    struct Setup
    {
        LineSetup line;          // the left panel's, with the device the port opens
        QString portCaption;     // COM1.., or the device path given, for the profiles' backups to name
        QString lineCaption;     // "COM1, 19200 бод, паритет Нет, стоп-бит 1"
        DeviceSearch::LineSetting setting;
    };

    // session: the main window's, not connected while the window is open.
    BusWindow(const Setup &setup, Session &session, QWidget *parent = nullptr);
    ~BusWindow() override;

    void done(int result) override;

signals:
    void unitChosen(int address);

private:
    enum Column {
        AddressColumn,
        NameColumn,
        VersionColumn,
        ValueColumn,
        UnitColumn,
        DisplayColumn,
        SelfDiagColumn,
        EepromColumn,
        ResultColumn,
        AgeColumn,
        VerdictColumn,
        ColumnCount
    };

    void buildForm();
    void connectControls();
    void startFinding();
    void probeNext();
    void probed(const std::optional<DeviceSearch::Sweep::Step> &step);
    void endFinding(const QString &outcome);
    void startPolling();
    void readUnitsOfMeasure();
    void stopPolling();
    void addUnit(const DeviceSearch::Found &found);
    void showUnit(int row);
    void showAges();
    std::optional<BenchTest::Limits> limitsFromForm();
    void startTest();
    void recordForTest(int row);
    void showProgress(int row);
    void endTestWhenOver();
    void writeProfileAndTest();
    void writeProfileIntoNext();
    void profileWritten();
    void showProfileWritten(const QString &failure);
    void endTest();
    void portLost();
    void saveTable();
    void saveReport();
    void chooseRow(int row);
    void updateButtons();
    void showStatus(const QString &text, bool failure = false);
    std::optional<double> number(QLineEdit *edit) const;

    Session &m_session;
    std::unique_ptr<Bus::Poller> m_poller;
    std::unique_ptr<DeviceSearch::Sweep> m_sweep; // while the addresses are swept
    bool m_holdsLine = false; // the line is open, or opening, for the polling
    Setup m_setup;
    QList<quint8> m_listed; // the addresses typed, of which the sweep's span shows the units
    QList<Bus::Unit> m_found;
    std::optional<BenchTest::Report> m_report;
    std::optional<BenchTest::Run> m_run; // the test under way, or the last one
    // The profile written before the test, and what went wrong in each unit (by address).
    QString m_profileName;
    QHash<quint8, QString> m_profileFailures;
    // While the profile goes into the units: the units in turn, and the one whose turn it is.
    QList<Bus::Unit> m_profileUnits;
    int m_profileRow = 0;
    QPointer<ProfileCloning> m_cloning; // the last profile's, a child

    QLineEdit *m_addresses;
    QSpinBox *m_allowance;
    QPushButton *m_find;
    QProgressBar *m_progress;
    QLabel *m_timeLeft;
    QTableWidget *m_table;
    QLineEdit *m_expected;
    QLineEdit *m_tolerance;
    QLineEdit *m_sigma;
    QSpinBox *m_seconds;
    QSpinBox *m_longest;
    QSpinBox *m_minReadings;
    QPushButton *m_test;
    QPushButton *m_profileTest;
    QPushButton *m_saveReport;
    QPushButton *m_saveTable;
    QPushButton *m_close;
    QLabel *m_status;
    QTimer *m_ageTimer;
    QTimer *m_testTimer;
};
