// The left panel's connection settings, Start and Stop, and moving between the pages.
#include "mainform.h"

#include "adapter.h"
#include "controls.h"
#include "devicepage.h"
#include "linesettings.h"
#include "portdevices.h"
#include "serverwatch.h"
#include "session.h"
#include "trendpanel.h"
#include "updown.h"
#include "ui_mainform.h"

#include <QTimer>

#include <algorithm>

namespace {
// How often an unplugged adapter is looked for: it is back within half a second of the plug.
// A server is asked as often, with a connection attempt that runs in the background.
constexpr int kReplugWatchMs = 500;

} // namespace

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
    m_session->setDeviceNumber(quint16(proposed));
    return true;
}

// DeviceNumber changes at every keystroke and every step of the spinner, and the pages' next
// exchanges go there at once; a trend would draw each unit on the way into one line. It follows
// the address settled on: the edit done, the spinner let go of, or the connection started.
void TfrmMain::trendsFollowDevice()
{
    for (TrendPanel *trend : findChildren<TrendPanel *>())
        trend->follow(m_session->deviceNumber());
}

quint16 TfrmMain::DeviceNumber() const
{
    return m_session->deviceNumber();
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

void TfrmMain::startConnection()
{
    // The system's ports as they are now: an adapter plugged in since the last look counts.
    const QStringList systemPorts = PortDevices::systemPorts();
    showPortDevices(systemPorts);
    connectTo(portDevice(m_line.portNumber, systemPorts));
}

// The port opens on the link's thread; the window goes on meanwhile, and learns the outcome
// when it is in.
void TfrmMain::connectTo(const QString &portName)
{
    endReplugWatch();
    const LineSetup line = lineTo(portName);
    m_session->start(line, this, [this, line](bool opened) {
        if (!opened) {
            ui->StatusBar1->showMessage(m_session->openFailureMessage(PortCaption(line.portNumber), line.portName));
            return;
        }
        m_stablePort = PortDevices::stableName(line.portName);
        enableConnectedActions(true);
        trendsFollowDevice();

        // The page chosen before the connection is entered again, its values read or its polling started.
        reenterPage();
        ui->StatusBar1->showMessage(QStringLiteral("Старт"));
    });
}

// The page whose button is pressed, entered again: its values read or its polling started.
void TfrmMain::reenterPage()
{
    if (!m_session->isConnected())
        return;
    const auto pressed = std::find_if(m_pages.begin(), m_pages.end(),
                                      [](const Page &page) { return page.button->isChecked(); });
    if (pressed != m_pages.end())
        pressed->action->trigger();
}

// The page shown stays, with its last values and colours.
void TfrmMain::stopConnection()
{
    endReplugWatch();
    stopTimer();
    m_session->stop();
    enableConnectedActions(false);
    ui->StatusBar1->showMessage(QStringLiteral("Стоп"));
}

// Every exchange on a vanished port would fail at once, a message a tick: the connection ends
// as Stop ends it, with the reason in the error area. A server's connection that dropped is
// told the same way: the server is back once it accepts a connection again.
void TfrmMain::portUnplugged()
{
    if (!ui->ActionStop->isEnabled())
        return; // the line was a tool's, which hears of it through its own exchanges
    stopTimer();
    m_session->stop();
    enableConnectedActions(false);
    const bool server = !CAdapter::abilitiesOf(m_stablePort).systemDevice;
    ui->lblErrors->setText(QStringLiteral("Ошибка! Адаптер %1 отключён (%2). %3")
                               .arg(PortCaption(m_line.portNumber), m_stablePort,
                                    server ? QStringLiteral("Соединение с сервером разорвано.")
                                           : QStringLiteral("Подключите его снова.")));
    ui->StatusBar1->showMessage(QStringLiteral("Стоп"));
    if (server)
        m_serverWatch = std::make_unique<ServerWatch>(m_stablePort);
    m_replugWatch->start(kReplugWatchMs);
}

void TfrmMain::watchForReplug()
{
    const bool back = m_serverWatch ? m_serverWatch->accepts() : PortDevices::present(m_stablePort);
    if (!back)
        return;
    m_replugWatch->stop();
    ui->lblErrors->setText(QStringLiteral("Адаптер %1 снова подключён (%2).").arg(PortCaption(m_line.portNumber), m_stablePort));
    ui->btnReconnect->show();
}

void TfrmMain::endReplugWatch()
{
    m_replugWatch->stop();
    m_serverWatch.reset();
    ui->btnReconnect->hide();
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
    stopTimer();
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
        Timer->setInterval(DevicePage::kPollIntervalMs);
        if (m_session->isConnected()) {
            m_polledPage = page->box;
            Timer->start();
        }
    }
    page->box->setTitle(action->text());
    ShowPage(page->box);
    ui->StatusBar1->showMessage(action->text());
}

void TfrmMain::stopTimer()
{
    Timer->stop();
    Timer->setInterval(0);
    m_polledPage = nullptr;
    m_tickDeferred = false;
}

// The timer delivers no backlog: a tick that falls due while the page's last poll is still on
// the line is run once, as soon as that poll is over, and the ones after it keep the interval
// again. A tick that comes without a started connection makes no exchange.
void TfrmMain::timerTick()
{
    if (!m_polledPage || !m_session->isConnected())
        return;
    if (m_polledPage->isExchanging()) {
        m_tickDeferred = true;
        return;
    }
    m_tickDeferred = false;
    m_polledPage->poll();
}

void TfrmMain::pagePolled(const DevicePage *page)
{
    if (m_tickDeferred && page == m_polledPage)
        timerTick();
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
