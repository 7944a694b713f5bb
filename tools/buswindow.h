#pragma once

#include "benchreport.h"
#include "devicesearch.h"
#include "session.h"

#include <QDialog>

#include <optional>

class BusBench;
class BusTable;
class BusUnits;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

// «Приборы на линии»: every unit that answers at the left panel's line setting, found by a
// sweep of the addresses at that one setting and then polled in turn, each row its reading,
// lamps and the age of its last poll; a bench test of them all against one reference signal,
// with a report. The window opens the main window's line itself, as the search does, and lets
// go of it when it closes. A double-click hands the unit's address back to the main window.
// The rows are BusTable's, the sweep and the polls BusUnits', the test and the profile
// written before it BusBench's.
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
    enum class State {
        Idle,           // no units polled: none found yet, the line opening for them, or let go of
        Finding,        // the sweep of the addresses
        Polling,        // the units in turn
        WritingProfile, // into unit after unit, the polls held
        Testing,        // the polls recorded for the test
    };

    void buildForm();
    void layOutForm();
    void connectControls();
    void setState(State state);
    void startFinding();
    void showSweep(qint64 sent, qint64 remainingMs);
    void endFinding(DeviceSearch::Sweep::Failure failure, qint64 sent);
    void pollingBegan();
    void stopPolling();
    void showUnit(int row);
    void showAges();
    std::optional<BenchTest::Limits> limitsFromForm();
    void startTest();
    void showProgress(int row);
    void writeProfileAndTest();
    void testAfterProfile();
    void showReport(const BenchTest::Report &report);
    void portLost();
    void saveTable();
    void saveReport();
    void chooseRow(int row);
    void showStatus(const QString &text, bool failure = false);
    std::optional<double> number(QLineEdit *edit) const;

    Session &m_session;
    Setup m_setup;
    State m_state = State::Idle;
    std::optional<BenchTest::Report> m_report; // the last test's
    BusTable *m_units;
    BusUnits *m_bus;
    BusBench *m_bench;

    QLineEdit *m_addresses;
    QSpinBox *m_allowance;
    QPushButton *m_find;
    QProgressBar *m_progress;
    QLabel *m_timeLeft;
    QTableView *m_table;
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
};
