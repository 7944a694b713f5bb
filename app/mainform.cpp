#include "mainform.h"

#include "aboutform.h"
#include "calibrationpage.h"
#include "connectioncontroller.h"
#include "controls.h"
#include "datapage.h"
#include "devicepage.h"
#include "glyphs.h"
#include "handlers.h"
#include "informationpage.h"
#include "iniprofile.h"
#include "linesettings.h"
#include "modalbox.h"
#include "modepage.h"
#include "portdevices.h"
#include "portpage.h"
#include "profilewindows.h"
#include "session.h"
#include "settingsfile.h"
#include "updown.h"
#include "ui_mainform.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace {

constexpr QSize kToolButtonSize(74, 46);
constexpr QSize kToolGlyphSize(24, 24);
// The window's own section of the settings file: the exchange monitor's frame when it last closed.

// A tool-bar button or a menu entry that stands for an action: it shows the action's caption,
// picture and enabled state, while its own pressed state stays its own (a button bound with
// setDefaultAction would lose it whenever the action is disabled).
template <typename Item>
void showAction(Item *item, QAction *action)
{
    const auto update = [item, action] {
        item->setText(action->text());
        item->setIcon(action->icon());
        item->setEnabled(action->isEnabled());
    };
    update();
    QObject::connect(action, &QAction::changed, item, update);
}

// A page button enters its page when it becomes pressed, however that happens: a click, the
// keyboard, or an assistive tool's toggle. A click on the button already pressed enters the
// page again and so reads it afresh.
void enterPageWhenPressed(QToolButton *button, QAction *action)
{
    auto wasPressed = std::make_shared<bool>(false);
    QObject::connect(button, &QAbstractButton::pressed, action,
                     [button, wasPressed] { *wasPressed = button->isChecked(); });
    QObject::connect(button, &QAbstractButton::toggled, action, [action](bool pressed) {
        if (pressed)
            action->trigger();
    });
    QObject::connect(button, &QAbstractButton::clicked, action, [action, wasPressed] {
        if (*wasPressed)
            action->trigger();
    });
}

} // namespace

TfrmMain::TfrmMain(QWidget *parent, const QString &settingsPath)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                              | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TfrmMain>()),
      m_settingsPath(settingsPath.isEmpty() ? SettingsFile::path(QCoreApplication::applicationFilePath())
                                            : settingsPath),
      m_connection(std::make_unique<ConnectionController>(this))
{
    ui->setupUi(this);
    setWindowTitle(QCoreApplication::applicationName());

    setUpToolBar();
    setUpPages();
    setUpClientArea();
    connectSignals();
    loadSettings();
    placeWindow();
}

// The tool windows work through the session: they go before it.
TfrmMain::~TfrmMain()
{
    // The edit of the device number finishes its editing as the window's widgets go, when this
    // window is no longer one to tell.
    QObject::disconnect(ui->edtDevNumber, nullptr, this, nullptr);
    QObject::disconnect(ui->UpDownDevNumber, nullptr, this, nullptr);
    m_connection->stopPolling();
    for (QWidget *window : findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (window->isWindow())
            delete window;
    }
    m_connection->stop();
}

Session &TfrmMain::session()
{
    return m_connection->session();
}

void TfrmMain::setUpToolBar()
{
    using Glyphs::Glyph;
    const std::pair<QAction *, Glyph> glyphs[] = {
        {ui->ActionStart, Glyph::Start},
        {ui->ActionStop, Glyph::Stop},
        {ui->ActionMode, Glyph::Mode},
        {ui->ActionPort, Glyph::Port},
        {ui->ActionCalibration, Glyph::Calibration},
        {ui->ActionInformation, Glyph::Information},
        {ui->ActionData, Glyph::Data},
        {ui->ActionExit, Glyph::Exit},
    };
    for (const auto &[action, glyph] : glyphs)
        action->setIcon(Glyphs::toolGlyph(glyph));

    const std::pair<QToolButton *, QAction *> buttons[] = {
        {ui->sbStart, ui->ActionStart},
        {ui->sbStop, ui->ActionStop},
        {ui->sbMode, ui->ActionMode},
        {ui->sbPort, ui->ActionPort},
        {ui->sbCalibration, ui->ActionCalibration},
        {ui->sbInformation, ui->ActionInformation},
        {ui->sbData, ui->ActionData},
        {ui->sbExit, ui->ActionExit},
    };
    for (const auto &[button, action] : buttons) {
        button->setFixedSize(kToolButtonSize);
        button->setIconSize(kToolGlyphSize);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        showAction(button, action);
    }
    // The page buttons enter their pages as they become pressed (setUpPages).
    for (const auto &[button, action] : {std::pair{ui->sbStart, ui->ActionStart}, std::pair{ui->sbStop, ui->ActionStop},
                                         std::pair{ui->sbExit, ui->ActionExit}})
        connect(button, &QToolButton::clicked, action, &QAction::trigger);

    const std::pair<QAction *, QAction *> menuEntries[] = {
        {ui->mnuMode, ui->ActionMode},
        {ui->mnuPort, ui->ActionPort},
        {ui->mnuParameters, ui->ActionCalibration},
        {ui->mnuInformation, ui->ActionInformation},
        {ui->mnuData, ui->ActionData},
    };
    for (const auto &[entry, action] : menuEntries) {
        showAction(entry, action);
        connect(entry, &QAction::triggered, action, &QAction::trigger);
    }
}

// The pages in the order in which Start looks for a pressed button, which is also their order
// in the page area, where only the shown one takes room.
void TfrmMain::setUpPages()
{
    Session &session = this->session();
    QWidget *area = ui->pnlPages;
    m_pages = {{
        {ui->ActionMode, ui->sbMode, new ModePage(session, area), PageEntry::Enter},
        {ui->ActionPort, ui->sbPort, new PortPage(session, area), PageEntry::Enter},
        {ui->ActionCalibration, ui->sbCalibration, new CalibrationPage(session, area), PageEntry::Poll},
        {ui->ActionInformation, ui->sbInformation, new InformationPage(session, area), PageEntry::Enter},
        {ui->ActionData, ui->sbData, new DataPage(session, area), PageEntry::Poll},
    }};
    for (const Page &page : m_pages)
        ui->layoutPages->addWidget(page.box);
    // The page buttons stay pressed, one at a time; only a click presses one, never the menu.
    auto *group = new QButtonGroup(this);
    for (const Page &page : m_pages) {
        page.button->setCheckable(true);
        group->addButton(page.button);
        enterPageWhenPressed(page.button, page.action);
    }
}

void TfrmMain::setUpClientArea()
{
    ui->pnlMainPanel->setMinimumHeight(DevicePage::formExtent(ui->pnlMainPanel).height());
    ui->pnlToolBar->setMaximumWidth(QWIDGETSIZE_MAX); // across a window wider than its buttons
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollClient"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(takeCentralWidget());
    setCentralWidget(scroll);
    for (const auto &[action, split] : {std::pair{ui->ActionCalibration, &SettingsFile::WindowLayout::calibrationSplit},
                                        std::pair{ui->ActionData, &SettingsFile::WindowLayout::dataSplit}}) {
        connect(liveSplitter(action), &QSplitter::splitterMoved, this,
                [this, split](int position) { m_layout.*split = position; });
    }
}

// The page area as large as the largest page asks for, its trend's plot kWantedPlotHeight
// tall; then as small as the largest page can be without clipping a control.
QSize TfrmMain::wantedSize()
{
    QSize least;
    QSize wanted;
    for (const Page &page : m_pages) {
        least = least.expandedTo(page.box->minimumSizeHint());
        wanted = wanted.expandedTo(page.box->sizeHint());
    }
    const auto clientWith = [this](QSize pages) {
        ui->pnlPages->setMinimumSize(pages);
        ui->layoutBelowToolBar->invalidate();
        ui->ClientArea->layout()->invalidate();
        return ui->ClientArea->minimumSizeHint();
    };
    const QSize client = clientWith(wanted);
    clientWith(least);
    return {client.width(), ui->MainMenu->sizeHint().height() + client.height() + ui->StatusBar1->maximumHeight()};
}

// The screen's free area less the window's frame; before the window is shown its frame is not
// known, and a title bar and a border's width all round are kept free.
QSize TfrmMain::withinScreen(QSize size) const
{
    const QScreen *shownOn = screen();
    if (!shownOn)
        return size;
    QSize frame = frameGeometry().size() - geometry().size();
    if (frame.isEmpty()) {
        const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
        frame = QSize(2 * border, style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * border);
    }
    return size.boundedTo(shownOn->availableGeometry().size() - frame);
}

void TfrmMain::placeWindow()
{
    resize(withinScreen(m_keptLayout.size.isEmpty() ? wantedSize() : m_keptLayout.size));
    for (const auto &[action, split] : {std::pair{ui->ActionCalibration, m_keptLayout.calibrationSplit},
                                        std::pair{ui->ActionData, m_keptLayout.dataSplit}}) {
        QSplitter *splitter = liveSplitter(action);
        if (split > 0)
            splitter->setSizes({split, splitter->widget(1)->minimumHeight()});
    }
    m_openedSize = size();
    m_layout = m_keptLayout;
}

QSplitter *TfrmMain::liveSplitter(const QAction *pageAction) const
{
    const auto page = std::find_if(m_pages.begin(), m_pages.end(), [pageAction](const Page &p) { return p.action == pageAction; });
    return page->box->findChild<QSplitter *>(QStringLiteral("splitterLive"));
}

// What the file keeps: the size only once the user changed the one the window opened at (a
// smaller screen's bound keeps the size meant for a larger one).
SettingsFile::WindowLayout TfrmMain::windowLayout() const
{
    SettingsFile::WindowLayout layout = m_layout;
    const QSize now = isMaximized() || isFullScreen() ? normalGeometry().size() : size();
    if (now != m_openedSize)
        layout.size = now;
    return layout;
}

void TfrmMain::connectSignals()
{
    using Handlers::connect;
    for (QAction *action : {ui->ActionStart, ui->ActionStop})
        connect(action, &QAction::triggered, this, [this, action] { Action2Execute(action); });
    for (const Page &page : m_pages)
        connect(page.action, &QAction::triggered, this, [this, action = page.action] { Action1Execute(action); });
    connect(ui->ActionExit, &QAction::triggered, this, &TfrmMain::ActionExitExecute);
    connect(ui->mnuAbout, &QAction::triggered, this, &TfrmMain::mnuAboutClick);
    connect(ui->mnuSearch, &QAction::triggered, this, &TfrmMain::mnuSearchClick);
    connect(ui->mnuBus, &QAction::triggered, this, &TfrmMain::mnuBusClick);
    connect(ui->mnuMonitor, &QAction::triggered, this, &TfrmMain::mnuMonitorClick);
    connect(ui->mnuListen, &QAction::triggered, this, &TfrmMain::mnuListenClick);
    connect(ui->mnuProfileSave, &QAction::triggered, this, &TfrmMain::openProfileWindow<ProfileSaveWindow>);
    connect(ui->mnuProfileCompare, &QAction::triggered, this, &TfrmMain::openProfileWindow<ProfileCompareWindow>);
    connect(ui->mnuProfileClone, &QAction::triggered, this, &TfrmMain::openProfileWindow<ProfileCloneWindow>);
    ConnectionController *connection = m_connection.get();
    connect(connection, &ConnectionController::opened, this, &TfrmMain::connectionOpened);
    connect(connection, &ConnectionController::failed, this, &TfrmMain::connectionFailed);
    connect(connection, &ConnectionController::lost, this, &TfrmMain::portUnplugged);
    connect(connection, &ConnectionController::back, this, &TfrmMain::portBack);
    connect(connection, &ConnectionController::pollDue, this, &TfrmMain::pollShownPage);
    for (const Page &page : m_pages)
        QObject::connect(page.box, &DevicePage::polled, connection,
                         [connection, box = page.box] { connection->pagePolled(box); });
    QObject::connect(&session(), &Session::outcome, ui->lblErrors,
                     [this](qint16, const QString &text) { ui->lblErrors->setText(text); });
    connect(ui->btnReconnect, &QPushButton::clicked, this, &TfrmMain::reconnect);

    connect(ui->cmbPort, &QComboBox::activated, this, &TfrmMain::cmbPortChange);
    connect(ui->cmbSpeed, &QComboBox::activated, this, &TfrmMain::cmbSpeedChange);
    connect(ui->cmbParity, &QComboBox::activated, this, &TfrmMain::cmbParityChange);
    connect(ui->cmbStopBit, &QComboBox::activated, this, &TfrmMain::cmbStopBitChange);
    ui->UpDownDevNumber->setBuddy(ui->edtDevNumber);
    ui->UpDownDevNumber->setCheck([this](int proposed) { return UpDownDevNumberChangingEx(proposed); });
    connect(ui->edtDevNumber, &QLineEdit::textChanged, this, &TfrmMain::edtDevNumberChange);
    connect(ui->edtDevNumber, &QLineEdit::editingFinished, this, &TfrmMain::trendsFollowDevice);
    connect(ui->UpDownDevNumber, &UpDown::stepsEnded, this, &TfrmMain::trendsFollowDevice);
}

// A settings file that is none, or not one of ours, leaves the window on its defaults and the
// file as it is; the close then says that nothing was saved.
void TfrmMain::loadSettings()
{
    const IniProfile settings(m_settingsPath);
    const QString shownPath = QDir::toNativeSeparators(m_settingsPath);
    if (settings.verdict() == FileGuard::Verdict::Refused)
        ModalBox::warning(this, QStringLiteral("Файл настроек %1 не прочитан: %2.\nОкно открыто с настройками по "
                                               "умолчанию, файл оставлен как есть.")
                                    .arg(shownPath, settings.errorString()));
    else if (settings.verdict() == FileGuard::Verdict::Unreadable)
        ui->StatusBar1->showMessage(QStringLiteral("Файл настроек %1 не прочитан: %2; настройки по умолчанию")
                                        .arg(shownPath, settings.errorString()));
    const SettingsFile::Connection saved = SettingsFile::readConnection(settings);
    m_mappedPorts = SettingsFile::mappedPorts(settings);

    ui->cmbPort->clear();
    for (int i = 0; i < SettingsFile::kPortCount; ++i)
        ui->cmbPort->addItem(PortCaption(quint8(i)));
    // Asking udev for the system's serial ports takes longer than building the rest of the
    // window: the mapped ports' devices show at once, the others' once the window is up.
    showPortDevices({});
    QTimer::singleShot(0, this, [this] { showPortDevices(PortDevices::systemPorts()); });
    selectRow(ui->cmbPort, saved.line.portNumber);
    cmbPortChange(ui->cmbPort->currentIndex());

    ui->cmbSpeed->clear();
    for (quint8 i = 0; i < LineSettings::BaudRates.size(); ++i)
        ui->cmbSpeed->addItem(SpeedCaption(i));
    selectRow(ui->cmbSpeed, saved.line.speedNumber);
    cmbSpeedChange(ui->cmbSpeed->currentIndex());

    selectRow(ui->cmbParity, saved.line.parity);
    cmbParityChange(ui->cmbParity->currentIndex());
    selectRow(ui->cmbStopBit, saved.line.stopBits);
    cmbStopBitChange(ui->cmbStopBit->currentIndex());

    m_monitorFrame = SettingsFile::readMonitorFrame(settings);
    m_keptLayout = SettingsFile::readWindowLayout(settings);

    // Through the spinner's maximum first, so that a stored 0, the edit's first text, still
    // reaches DeviceNumber, and a refused value leaves 255.
    ui->edtDevNumber->setText(QString::number(ui->UpDownDevNumber->maximum()));
    ui->edtDevNumber->setText(QString::number(saved.deviceNumber));
}

bool TfrmMain::saveSettings(QString *error)
{
    IniProfile settings(m_settingsPath);
    SettingsFile::writeConnection(settings, {m_line, DeviceNumber()});
    if (m_monitorFrame)
        SettingsFile::writeMonitorFrame(settings, *m_monitorFrame);
    // A run that changed none of them leaves the file as it was: a first run as it always was.
    if (const SettingsFile::WindowLayout layout = windowLayout(); layout != m_keptLayout)
        SettingsFile::writeWindowLayout(settings, layout);
    if (settings.save())
        return true;
    *error = settings.errorString();
    return false;
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    FormClose();
    QMainWindow::closeEvent(event);
}

void TfrmMain::FormClose()
{
    m_connection->stop(); // the polls end with the line: no tick may reach the adapter that goes
    if (m_monitor)
        m_monitorFrame = m_monitor->frameGeometry();
    QString reason;
    if (!saveSettings(&reason))
        ModalBox::warning(this, QStringLiteral("Не удалось сохранить настройки в файл %1:\n%2")
                                    .arg(QDir::toNativeSeparators(m_settingsPath), reason));
}

// Menus send status tips as the mouse passes over them; an empty tip would wipe the status
// bar's text, which only Start, Stop and the pages set.
bool TfrmMain::event(QEvent *event)
{
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void TfrmMain::ActionExitExecute()
{
    close();
}

void TfrmMain::mnuAboutClick()
{
    TfrmAbout about(this);
    ModalBox::exec(about);
}
