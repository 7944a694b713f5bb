#pragma once

#include "devicesearch.h"

#include <QDialog>
#include <QList>
#include <QStringList>

#include <memory>

class QCheckBox;

// What a search may still take, from the budgets of the probes not yet sent.
QString timeLeftText(qint64 ms);

namespace Ui {
class SearchWindow;
}

// The window that searches one port for devices: which addresses, speeds and parities to try,
// the probes going out one after another through the owner of the line while the window goes
// on, «Отмена» stopping the search at once, and the devices found as they answer.
// «Применить» hands the chosen indicator's port, line setting and address back.
class SearchWindow : public QDialog
{
    Q_OBJECT

public:
    struct Setup
    {
        QStringList portCaptions;  // COM1..COM8
        QStringList portDevices;   // the device each of them opens
        int portNumber = 0;        // the left panel's
        QStringList speedCaptions; // the rows of the baud-rate table
        QStringList parityNames;   // the rows of the left panel's parity list
        QString stopBitsCaption;   // the left panel's, used for every probe
        quint8 stopBits = 0;
        DeviceSearch::LineSetting likely;
        int likelyAddress = DeviceSearch::kFirstAddress;
    };

    // line: the owner of the line that the search opens, closed while the window is open.
    SearchWindow(const Setup &setup, Line &line, QWidget *parent = nullptr);
    ~SearchWindow() override;

    void done(int result) override;

signals:
    void deviceChosen(int portNumber, int speedNumber, int parity, int address);

private:
    enum class State { Idle, Searching };

    void setUpForm();
    void connectControls();
    void showLineChoices();
    DeviceSearch::Plan plan() const;
    void startSearch();
    void probeNext();
    void probed(const std::optional<DeviceSearch::Sweep::Step> &step);
    void cancelSearch();
    void endSearch(const QString &outcome);
    void showFound(const DeviceSearch::Found &found);
    void showProgress();
    void showNoise();
    void setState(State state);
    // What may be done in the state, and «Применить» for an indicator chosen in the table.
    void applyState();
    void applyChosen();
    QString settingCaption(const DeviceSearch::LineSetting &setting) const;
    QString failureText(DeviceSearch::Sweep::Failure failure) const;

    std::unique_ptr<Ui::SearchWindow> ui;
    Setup m_setup;
    Line &m_line;
    State m_state = State::Idle;
    std::unique_ptr<DeviceSearch::Sweep> m_sweep; // while a search runs
    int m_searchedPort = 0;
    QString m_searchedDevice;
    QList<DeviceSearch::Found> m_found; // in the rows of the table

    QList<QCheckBox *> m_speeds;   // by row of the baud-rate table
    QList<QCheckBox *> m_parities; // by row of the parity table
};
