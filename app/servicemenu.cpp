// The menu «Сервис»: the search for devices on the line and taking over what it found, the
// exchange monitor, and listening to a line.
#include "mainform.h"

#include "buswindow.h"
#include "connectioncontroller.h"
#include "controls.h"
#include "handlers.h"
#include "listenwindow.h"
#include "monitorwindow.h"
#include "portdevices.h"
#include "profilewindows.h"
#include "session.h"
#include "searchwindow.h"
#include "ui_mainform.h"

namespace {

QStringList itemTexts(const QComboBox *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

} // namespace

// The window is modal to this one, so Start waits until the search has let go of the port. The
// search goes through the window's own line, so the exchange monitor shows its probes.
void TfrmMain::mnuSearchClick()
{
    const QStringList systemPorts = PortDevices::systemPorts();
    SearchWindow::Setup setup;
    setup.portCaptions = itemTexts(ui->cmbPort);
    for (int i = 0; i < ui->cmbPort->count(); ++i)
        setup.portDevices << portDevice(quint8(i), systemPorts);
    setup.portNumber = ui->cmbPort->currentIndex();
    setup.speedCaptions = itemTexts(ui->cmbSpeed);
    setup.parityNames = itemTexts(ui->cmbParity);
    setup.stopBitsCaption = ui->cmbStopBit->currentText();
    setup.stopBits = m_line.stopBits;
    setup.likely = {m_line.speedNumber, m_line.parity};
    setup.likelyAddress = DeviceNumber();

    auto *window = new SearchWindow(setup, session().lineOwner(), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    Handlers::connect(window, &SearchWindow::deviceChosen, this, &TfrmMain::applyFoundDevice);
    window->open();
}

// As if the user had picked the rows and typed the number, so the settings file gets them.
void TfrmMain::applyFoundDevice(int portNumber, int speedNumber, int parity, int address)
{
    selectRow(ui->cmbPort, portNumber);
    cmbPortChange(ui->cmbPort->currentIndex());
    selectRow(ui->cmbSpeed, speedNumber);
    cmbSpeedChange(ui->cmbSpeed->currentIndex());
    selectRow(ui->cmbParity, parity);
    cmbParityChange(ui->cmbParity->currentIndex());
    ui->edtDevNumber->setText(QString::number(address));
}

// Modal as the search is: the window has the port until it closes.
void TfrmMain::mnuBusClick()
{
    BusWindow::Setup setup;
    setup.line = lineTo(portDevice(m_line.portNumber, PortDevices::systemPorts()));
    setup.portCaption = PortCaption(m_line.portNumber);
    setup.lineCaption = QStringLiteral("%1, %2 бод, паритет %3, стоп-бит %4")
                            .arg(PortCaption(m_line.portNumber), ui->cmbSpeed->currentText(), ui->cmbParity->currentText(),
                                 ui->cmbStopBit->currentText());
    setup.setting = {m_line.speedNumber, m_line.parity};
    auto *window = new BusWindow(setup, session(), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    Handlers::connect(window, &BusWindow::unitChosen, this, &TfrmMain::openChosenUnit);
    window->open();
}

// The unit's address in the left panel, as if typed, then Start and its readings.
void TfrmMain::openChosenUnit(int address)
{
    ui->edtDevNumber->setText(QString::number(address));
    ui->sbData->setChecked(true); // Start enters the page whose button is pressed
    startConnection();
}

// One monitor at most; it watches the session's exchanges while it is open.
void TfrmMain::mnuMonitorClick()
{
    if (m_monitor) {
        m_monitor->raise();
        m_monitor->activateWindow();
        return;
    }
    auto *monitor = new MonitorWindow(session(), this);
    m_monitor = monitor;
    QObject::connect(monitor, &MonitorWindow::closing, this, [this](const QRect &frame) { m_monitorFrame = frame; });
    monitor->show();
    const int toolBarBottom = ui->pnlToolBar->mapToGlobal(QPoint(0, ui->pnlToolBar->height() - 1)).y();
    monitor->place(frameGeometry(), toolBarBottom, m_monitorFrame);
}

// Modal as the search is, for the same reason: Start waits until the listener has let go of the port.
void TfrmMain::mnuListenClick()
{
    const QStringList systemPorts = PortDevices::systemPorts();
    ListenWindow::Setup setup;
    setup.portCaption = PortCaption(m_line.portNumber);
    setup.lineCaption = QStringLiteral("%1 бод, паритет %2, стоп-бит %3")
                            .arg(ui->cmbSpeed->currentText(), ui->cmbParity->currentText(), ui->cmbStopBit->currentText());
    setup.line = lineTo(portDevice(m_line.portNumber, systemPorts));
    auto *window = new ListenWindow(setup, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->open();
}

template <typename Window>
void TfrmMain::openProfileWindow()
{
    m_connection->stopPolling();
    const Profiles::Origin origin{PortCaption(m_line.portNumber), m_line, DeviceNumber()};
    auto *window = new Window(session(), origin, this);
    QObject::connect(window, &QDialog::finished, this, &TfrmMain::reenterPage);
    window->show();
    if (!window->start())
        window->close();
}

template void TfrmMain::openProfileWindow<ProfileSaveWindow>();
template void TfrmMain::openProfileWindow<ProfileCompareWindow>();
template void TfrmMain::openProfileWindow<ProfileCloneWindow>();
