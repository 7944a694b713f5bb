#pragma once

#include "backgroundlistener.h"
#include "session.h"

#include <QDialog>

class HeardLog;
class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;

// «Слушать линию»: hears a line that another master drives (a PLC, a SCADA gateway) on the
// main window's port and line settings, and shows each exchange decoded, the counts of each
// address, and saves what it heard for scripts or Wireshark. It never sends a byte: a second
// master on the line would corrupt both. The hearing runs on a thread of its own.
class ListenWindow : public QDialog
{
    Q_OBJECT

public:
    struct Setup
    {
        QString portCaption; // COM2, as the left panel names it
        QString lineCaption; // the left panel's speed, parity and stop bits, as it shows them
        LineSetup line;      // its device in portName
    };

    explicit ListenWindow(const Setup &setup, QWidget *parent = nullptr);
    ~ListenWindow() override;

    void done(int result) override;

private:
    void setUpControls();
    void connectControls();
    void startListening();
    void stopListening();
    void takeHeard();
    void showState(const BackgroundListener::Heard &heard);
    void showCounts(const BackgroundListener::Heard &heard);
    void showCaptureSize(qint64 unframedBytes);
    // What may be done in the listener's state, and «Сохранить…» once something was heard.
    void applyState();
    // A Modbus TCP gateway passes on only the replies to its own requests: no line to hear.
    bool passesLine() const;
    void saveCapture();

    Setup m_setup;
    BackgroundListener m_listener;
    BackgroundListener::State m_state = BackgroundListener::State::Idle; // the window's, as the listener last told it
    HeardLog *m_log;
    QLabel *m_line;
    QLabel *m_status;
    QPushButton *m_start;
    QPushButton *m_stop;
    QPushButton *m_save;
    QPushButton *m_close;
    QTableView *m_exchanges;
    QTableWidget *m_counts;
    QLabel *m_totals;
};
