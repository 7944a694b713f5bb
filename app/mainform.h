#pragma once

#include "settingsfile.h"

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

class ConnectionController;
class DevicePage;
class QAction;
class QGroupBox;
class QSplitter;
class QToolButton;
class Session;

namespace Ui {
class TfrmMain;
}

// The configurator's window: the connection settings and their file, Start and Stop, moving
// between the five device pages, and the error area where the outcome of every exchange shows.
// It holds the pages, and the connection's controller, which owns the session, the timer that
// polls the live pages and the watch for an adapter unplugged.
//
// Names in PascalCase are the window's operations, handlers and fields as the program knows
// them; our own building blocks follow Qt's naming (lowerCamelCase, fields with m_).
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    // settingsPath: the settings file; empty for the executable's own (SettingsFile::path).
    explicit TfrmMain(QWidget *parent = nullptr, const QString &settingsPath = {});
    ~TfrmMain() override;

    quint16 DeviceNumber() const;

    static QString PortCaption(quint8 index);
    static quint32 BaudRate(quint8 index);
    static QString SpeedCaption(quint8 index);

    // The connection to the device, up between a successful Start and Stop.
    Session &session();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    // What entering a page does after the timer has stopped and before the page shows: the
    // page's own entry, or its polling by the timer.
    enum class PageEntry { Enter, Poll };
    struct Page
    {
        QAction *action;
        QToolButton *button;
        DevicePage *box;
        PageEntry entry;
    };

    void setUpToolBar();
    void setUpPages();
    void connectSignals();
    void loadSettings();
    bool saveSettings(QString *error);
    // The client area scrolls where the window is smaller than a page needs, so that no
    // control is ever out of reach; the window opens at the size kept in the settings file or,
    // on a first start, at the size its largest page asks for, within the screen's free area.
    void setUpClientArea();
    void placeWindow();
    QSize wantedSize();
    QSize withinScreen(QSize size) const;
    QSplitter *liveSplitter(const QAction *pageAction) const;
    SettingsFile::WindowLayout windowLayout() const;

    // Left panel
    void cmbPortChange(int index);
    void cmbSpeedChange(int index);
    void cmbParityChange(int index);
    void cmbStopBitChange(int index);
    void edtDevNumberChange(const QString &text);
    bool UpDownDevNumberChangingEx(int proposed);
    // The live pages' trends take the unit of DeviceNumber as theirs, once its edit is done.
    void trendsFollowDevice();
    QString portDevice(quint8 portNumber, const QStringList &systemPorts) const;
    void showPortDevices(const QStringList &systemPorts);

    // Connection and navigation
    void Action1Execute(QAction *action);
    void Action2Execute(QAction *action);
    void ActionExitExecute();
    void mnuAboutClick();
    void startConnection();
    void reconnect();
    void stopConnection();
    void connectionOpened();
    void connectionFailed(const QString &message);
    // An adapter unplugged, or a server's connection dropped, while connected: the connection
    // has ended, and the controller watches for the same adapter or server to come back; once
    // it is, the window offers to connect to it again.
    void portUnplugged(const QString &message);
    void portBack(const QString &message);
    void enableConnectedActions(bool connected);
    void pollShownPage();
    void ShowPage(QGroupBox *box);
    void HidePage();
    void FormClose();

    // The menu «Сервис»: the search for devices on the line, the exchange monitor, and
    // listening to a line that another master drives.
    void mnuSearchClick();
    void mnuBusClick();
    void openChosenUnit(int address);
    void applyFoundDevice(int portNumber, int speedNumber, int parity, int address);
    void mnuMonitorClick();
    void mnuListenClick();
    // The profile windows work on the connection: the polling rests while one is open, and
    // the page is entered again when it closes, so that it shows what was written.
    template <typename Window>
    void openProfileWindow();
    void reenterPage();
    QPointer<QWidget> m_monitor;
    std::optional<QRect> m_monitorFrame; // where the monitor was last, from the settings file
    SettingsFile::WindowLayout m_keptLayout; // as the settings file has it
    SettingsFile::WindowLayout m_layout;     // the splits as the user left them
    QSize m_openedSize;

    std::unique_ptr<Ui::TfrmMain> ui;
    QString m_settingsPath;
    std::array<QString, SettingsFile::kPortCount> m_mappedPorts; // [PORTS] of the settings file, empty if none

    // The connection settings: rows of the left panel's lists (255 for none) and the time-out
    // handed to the adapter at Start, which nothing ever changes. The port's device is looked up
    // each time the line is used (lineTo), as adapters come and go.
    LineSetup m_line;
    LineSetup lineTo(const QString &portName) const;

    // Its session holds DeviceNumber; its timer, Timer, polls the live page shown.
    std::unique_ptr<ConnectionController> m_connection;

    QGroupBox *CurrentPage = nullptr;
    std::array<Page, 5> m_pages{};
};
