// The left panel's connection settings, Start and Stop, and moving between the pages.
#include "mainform.h"

#include "connectioncontroller.h"
#include "controls.h"
#include "devicepage.h"
#include "linesettings.h"
#include "portdevices.h"
#include "session.h"
#include "trendpanel.h"
#include "updown.h"
#include "ui_mainform.h"

#include <algorithm>

QString TfrmMain::PortCaption(quint8 index)
{
    return PortDevices::caption(index);
}

quint32 TfrmMain::BaudRate(quint8 index)
{
    return LineSettings::baudRate(index).value_or(0);
}

QString TfrmMain::SpeedCaption(quint8 index)
{
    return QString::number(BaudRate(index));
}

// A list without a selection gives -1, which the 8-bit settings hold as 255.
void TfrmMain::cmbPortChange(int index)
{
    m_line.portNumber = quint8(index);
}

void TfrmMain::cmbSpeedChange(int index)
{
    m_line.speedNumber = quint8(index);
}

void TfrmMain::cmbParityChange(int index)
{
    m_line.parity = quint8(index);
}

void TfrmMain::cmbStopBitChange(int index)
{
    m_line.stopBits = quint8(index);
}

// The edit and its spinner always agree on DeviceNumber: a typed number outside 0..255 or no
// number at all gives way at once to the number before.
void TfrmMain::edtDevNumberChange(const QString &text)
{
    UpDown *spinner = ui->UpDownDevNumber;
    spinner->propose(wholeNumberOr(text, spinner->position()));
    showNumber(ui->edtDevNumber, spinner->position());
}

bool TfrmMain::UpDownDevNumberChangingEx(int proposed)
{
    if (proposed < ui->UpDownDevNumber->minimum() || proposed > ui->UpDownDevNumber->maximum())
        return false;
    session().setDeviceNumber(quint16(proposed));
    return true;
}

// DeviceNumber changes at every keystroke and every step of the spinner, and the pages' next
// exchanges go there at once; a trend would draw each unit on the way into one line. It follows
// the address settled on: the edit done, the spinner let go of, or the connection started.
void TfrmMain::trendsFollowDevice()
{
    for (TrendPanel *trend : findChildren<TrendPanel *>())
        trend->follow(session().deviceNumber());
}

quint16 TfrmMain::DeviceNumber() const
{
    return m_connection->session().deviceNumber();
}

QString TfrmMain::portDevice(quint8 portNumber, const QStringList &systemPorts) const
{
    const QString mapped = portNumber < m_mappedPorts.size() ? m_mappedPorts[portNumber] : QString();
    return PortDevices::resolve(portNumber, mapped, systemPorts);
}

void TfrmMain::showPortDevices(const QStringList &systemPorts)
{
    for (int i = 0; i < ui->cmbPort->count(); ++i)
        ui->cmbPort->setItemData(i, portDevice(quint8(i), systemPorts), Qt::ToolTipRole);
}

void TfrmMain::Action2Execute(QAction *action)
{
    if (action == ui->ActionStart)
        startConnection();
    else
        stopConnection();
}

LineSetup TfrmMain::lineTo(const QString &portName) const
{
    LineSetup line = m_line;
    line.portName = portName;
    return line;
}

// The window goes on while the port opens, and learns the outcome when it is in.
void TfrmMain::startConnection()
{
    // The system's ports as they are now: an adapter plugged in since the last look counts.
    const QStringList systemPorts = PortDevices::systemPorts();
    showPortDevices(systemPorts);
    ui->btnReconnect->hide();
    m_connection->start(lineTo(portDevice(m_line.portNumber, systemPorts)));
}

// The adapter or server that came back, with the left panel's other settings as they are now.
void TfrmMain::reconnect()
{
    ui->btnReconnect->hide();
    m_connection->reconnect(m_line);
}

void TfrmMain::connectionOpened()
{
    enableConnectedActions(true);
    trendsFollowDevice();

    // The page chosen before the connection is entered again, its values read or its polling started.
    reenterPage();
    ui->StatusBar1->showMessage(QStringLiteral("Старт"));
}

void TfrmMain::connectionFailed(const QString &message)
{
    ui->StatusBar1->showMessage(message);
}

// The page whose button is pressed, entered again: its values read or its polling started.
void TfrmMain::reenterPage()
{
    if (!session().isConnected())
        return;
    const auto pressed = std::find_if(m_pages.begin(), m_pages.end(),
                                      [](const Page &page) { return page.button->isChecked(); });
    if (pressed != m_pages.end())
        pressed->action->trigger();
}

// The page shown stays, with its last values and colours.
void TfrmMain::stopConnection()
{
    ui->btnReconnect->hide();
    m_connection->stop();
    enableConnectedActions(false);
    ui->StatusBar1->showMessage(QStringLiteral("Стоп"));
}

void TfrmMain::portUnplugged(const QString &message)
{
    enableConnectedActions(false);
    ui->lblErrors->setText(message);
    ui->StatusBar1->showMessage(QStringLiteral("Стоп"));
}

void TfrmMain::portBack(const QString &message)
{
    ui->lblErrors->setText(message);
    ui->btnReconnect->show();
}

void TfrmMain::enableConnectedActions(bool connected)
{
    ui->ActionStart->setEnabled(!connected);
    ui->ActionStop->setEnabled(connected);
    // The search and the listener open the port themselves; a listener beside our own
    // exchanges would only hear them.
    ui->mnuSearch->setEnabled(!connected);
    ui->mnuBus->setEnabled(!connected);
    ui->mnuListen->setEnabled(!connected);
    for (QAction *profiles : {ui->mnuProfileSave, ui->mnuProfileCompare, ui->mnuProfileClone})
        profiles->setEnabled(connected);
    for (const Page &page : m_pages)
        page.action->setEnabled(connected);
}

void TfrmMain::Action1Execute(QAction *action)
{
    m_connection->stopPolling();
    if (auto *left = qobject_cast<DevicePage *>(CurrentPage))
        left->cancelExchanges();
    HidePage();
    const auto page = std::find_if(m_pages.begin(), m_pages.end(),
                                   [action](const Page &candidate) { return candidate.action == action; });
    if (page == m_pages.end())
        return;
    if (page->entry == PageEntry::Enter) {
        page->box->enter();
    } else {
        m_connection->pollPage(page->box, DevicePage::kPollIntervalMs);
    }
    page->box->setTitle(action->text());
    ShowPage(page->box);
    ui->StatusBar1->showMessage(action->text());
}

// While a live page polls, it is the page shown.
void TfrmMain::pollShownPage()
{
    if (auto *page = qobject_cast<DevicePage *>(CurrentPage))
        page->poll();
}

// The page area's layout gives a shown page the room that the tool bar, the left panel and the
// status bar leave free.
void TfrmMain::ShowPage(QGroupBox *box)
{
    if (!box) {
        HidePage();
        return;
    }
    box->show();
    CurrentPage = box;
}

void TfrmMain::HidePage()
{
    if (!CurrentPage)
        return;
    CurrentPage->hide();
    CurrentPage = nullptr;
}
