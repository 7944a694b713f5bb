#include "searchwindow.h"

#include "adapter.h"
#include "handlers.h"
#include "ui_searchwindow.h"

#include <QHeaderView>

using namespace DeviceSearch;

namespace {

constexpr qint64 kMsPerSecond = 1000;
constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerHour = 3600;
// The longest search the window allows, 5928 probes with the largest allowance (1000 ms), takes
// 1 h 42 min 15 s: the widest text it can show is that of 1 h 59 min 59 s.
constexpr qint64 kLongestTimeLeftMs = (2 * kSecondsPerHour - 1) * kMsPerSecond;

enum Column { AddressColumn, SpeedColumn, ParityColumn, NameColumn, VersionColumn, ColumnCount };

} // namespace

// The probe budgets are the longest each probe may wait, so the sum is an upper bound, rounded
// up to the second: 131 898 ms of budgets read «осталось не более 2 мин 12 с».
QString timeLeftText(qint64 ms)
{
    const qint64 seconds = (ms + kMsPerSecond - 1) / kMsPerSecond;
    const qint64 hours = seconds / kSecondsPerHour;
    const qint64 minutes = seconds % kSecondsPerHour / kSecondsPerMinute;
    const qint64 restSeconds = seconds % kSecondsPerMinute;
    QStringList parts;
    if (hours > 0)
        parts << QStringLiteral("%1 ч").arg(hours);
    if (minutes > 0)
        parts << QStringLiteral("%1 мин").arg(minutes);
    if (restSeconds > 0 || parts.isEmpty())
        parts << QStringLiteral("%1 с").arg(restSeconds);
    return QStringLiteral("осталось не более ") + parts.join(QLatin1Char(' '));
}

SearchWindow::SearchWindow(const Setup &setup, Line &line, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SearchWindow>()), m_setup(setup), m_line(line)
{
    ui->setupUi(this);
    setUpForm();
    connectControls();
    applyState();
}

SearchWindow::~SearchWindow() = default;

// The lists' captions come from the main window, so both show the same table rows.
void SearchWindow::setUpForm()
{
    ui->cmbSearchPort->addItems(m_setup.portCaptions);
    for (int i = 0; i < m_setup.portDevices.size() && i < ui->cmbSearchPort->count(); ++i)
        ui->cmbSearchPort->setItemData(i, m_setup.portDevices[i], Qt::ToolTipRole);
    ui->cmbSearchPort->setCurrentIndex(m_setup.portNumber < ui->cmbSearchPort->count() ? m_setup.portNumber : 0);
    showLineChoices();

    for (QSpinBox *address : {ui->spinSearchFirstAddress, ui->spinSearchLastAddress})
        address->setRange(kFirstAddress, kLastAddress);
    ui->spinSearchFirstAddress->setValue(kFirstAddress);
    ui->spinSearchLastAddress->setValue(kLastAddress);
    ui->lblSearchStopBits->setText(m_setup.stopBitsCaption);
    ui->spinSearchAllowance->setValue(kDefaultAllowanceMs);

    m_speeds = {ui->checkSearchSpeed0, ui->checkSearchSpeed1, ui->checkSearchSpeed2, ui->checkSearchSpeed3,
                ui->checkSearchSpeed4, ui->checkSearchSpeed5, ui->checkSearchSpeed6, ui->checkSearchSpeed7};
    m_parities = {ui->checkSearchParity0, ui->checkSearchParity1, ui->checkSearchParity2};
    for (int i = 0; i < m_speeds.size(); ++i) {
        m_speeds[i]->setText(m_setup.speedCaptions.value(i));
        m_speeds[i]->setVisible(i < m_setup.speedCaptions.size());
    }
    for (int i = 0; i < m_parities.size(); ++i) {
        m_parities[i]->setText(m_setup.parityNames.value(i));
        m_parities[i]->setVisible(i < m_setup.parityNames.size());
    }
    ui->tblSearchFound->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // As wide as the longest text from the start, so that the bar keeps its length as the time counts down.
    ui->lblSearchTimeLeft->setMinimumWidth(
        ui->lblSearchTimeLeft->fontMetrics().horizontalAdvance(timeLeftText(kLongestTimeLeftMs)));
}

void SearchWindow::connectControls()
{
    using Handlers::connect;
    connect(ui->cmbSearchPort, &QComboBox::currentIndexChanged, this, &SearchWindow::showLineChoices);
    connect(ui->btnSearchStart, &QPushButton::clicked, this, &SearchWindow::startSearch);
    connect(ui->btnSearchCancel, &QPushButton::clicked, this, &SearchWindow::cancelSearch);
    connect(ui->btnSearchApply, &QPushButton::clicked, this, &SearchWindow::applyChosen);
    connect(ui->btnSearchClose, &QPushButton::clicked, this, &SearchWindow::reject);
    connect(ui->tblSearchFound, &QTableWidget::itemSelectionChanged, this, &SearchWindow::applyState);
    connect(ui->tblSearchFound, &QTableWidget::cellDoubleClicked, this, &SearchWindow::applyChosen);
}

// Behind a serial device server the search tries addresses only (Sweep), at the left panel's
// setting: the speeds and parities to choose would mislead.
void SearchWindow::showLineChoices()
{
    const QString device = m_setup.portDevices.value(ui->cmbSearchPort->currentIndex());
    const bool server = !CAdapter::abilitiesOf(device).setsLine;
    ui->gbSearchSpeeds->setEnabled(!server);
    ui->gbSearchParities->setEnabled(!server);
    ui->lblSearchServerLine->setVisible(server);
    ui->lblSearchServerLine->setText(
        server ? QStringLiteral("Скорость, паритет и стоп-биты линии задаёт сервер %1: ищутся только адреса.").arg(device)
               : QString());
}

Plan SearchWindow::plan() const
{
    Plan plan;
    for (int i = 0; i < m_speeds.size(); ++i) {
        if (m_speeds[i]->isChecked())
            plan.speeds.append(quint8(i));
    }
    for (int i = 0; i < m_parities.size(); ++i) {
        if (m_parities[i]->isChecked())
            plan.parities.append(quint8(i));
    }
    plan.firstAddress = ui->spinSearchFirstAddress->value();
    plan.lastAddress = ui->spinSearchLastAddress->value();
    plan.likely = m_setup.likely;
    plan.likelyAddress = m_setup.likelyAddress;
    plan.allowanceMs = ui->spinSearchAllowance->value();
    return plan;
}

void SearchWindow::startSearch()
{
    ui->tblSearchFound->setRowCount(0);
    m_found.clear();
    ui->lblSearchNoise->clear();
    m_searchedPort = ui->cmbSearchPort->currentIndex();
    m_searchedDevice = m_setup.portDevices.value(m_searchedPort, ui->cmbSearchPort->currentText());
    LineSetup port;
    port.portNumber = quint8(m_searchedPort);
    port.stopBits = m_setup.stopBits;
    port.portName = m_searchedDevice;
    m_sweep = std::make_unique<Sweep>(plan(), m_line, port);
    if (m_sweep->finished()) {
        endSearch(QStringLiteral("Не отмечено ни одной скорости или ни одного паритета"));
        return;
    }
    ui->pbSearch->setRange(0, int(m_sweep->total()));
    showProgress();
    setState(State::Searching);
    probeNext();
}

// One probe after another, each once the one before is answered.
void SearchWindow::probeNext()
{
    m_sweep->next([this](const std::optional<Sweep::Step> &step) { probed(step); });
}

void SearchWindow::probed(const std::optional<Sweep::Step> &step)
{
    if (step && step->found)
        showFound(*step->found);
    if (step && step->answer == Answer::Noise)
        showNoise();
    const bool stopHere = step && step->answer == Answer::Indicator && ui->checkSearchStopAtFirst->isChecked();
    if (m_sweep->failure() != Sweep::Failure::None)
        endSearch(failureText(m_sweep->failure()));
    else if (m_sweep->finished() || stopHere)
        endSearch(QStringLiteral("Поиск закончен, найдено: %1").arg(m_found.size()));
    else {
        showProgress();
        probeNext();
    }
}

void SearchWindow::cancelSearch()
{
    if (m_state == State::Searching)
        endSearch(QStringLiteral("Поиск отменён, найдено: %1").arg(m_found.size()));
}

// Frees the port at once, whether the search ran to its end or not. The sweep goes once the
// reply that may have ended it is over.
void SearchWindow::endSearch(const QString &outcome)
{
    if (m_sweep) {
        ui->pbSearch->setValue(int(m_sweep->sent()));
        m_sweep->stop();
        m_sweep.release()->deleteLater();
    }
    ui->lblSearchProgress->setText(outcome);
    ui->lblSearchTimeLeft->clear();
    setState(State::Idle);
}

void SearchWindow::showProgress()
{
    const std::optional<Probe> probe = m_sweep->upcoming();
    if (!probe)
        return;
    ui->pbSearch->setValue(int(m_sweep->sent()));
    ui->lblSearchTimeLeft->setText(timeLeftText(m_sweep->remainingMs()));
    ui->lblSearchProgress->setText(
        QStringLiteral("%1, адрес %2").arg(settingCaption(probe->setting)).arg(probe->address));
}

void SearchWindow::showFound(const Found &found)
{
    const int row = ui->tblSearchFound->rowCount();
    ui->tblSearchFound->insertRow(row);
    const QString cells[ColumnCount] = {
        QString::number(found.address),
        m_setup.speedCaptions.value(found.setting.speedNumber),
        m_setup.parityNames.value(found.setting.parity),
        found.indicator ? found.name : QStringLiteral("другое устройство"),
        found.version,
    };
    for (int column = 0; column < ColumnCount; ++column)
        ui->tblSearchFound->setItem(row, column, new QTableWidgetItem(cells[column]));
    m_found.append(found);
}

void SearchWindow::showNoise()
{
    QStringList settings;
    for (const Sweep::NoiseCount &count : m_sweep->noise())
        settings << QStringLiteral("%1 (%2)").arg(settingCaption(count.setting)).arg(count.replies);
    ui->lblSearchNoise->setText(QStringLiteral("помехи на ") + settings.join(QStringLiteral(", ")));
}

void SearchWindow::setState(State state)
{
    m_state = state;
    applyState();
}

void SearchWindow::applyState()
{
    const bool searching = m_state == State::Searching;
    for (QWidget *setting : std::initializer_list<QWidget *>{ui->cmbSearchPort, ui->spinSearchFirstAddress,
                                                    ui->spinSearchLastAddress, ui->checkSearchStopAtFirst,
                                                    ui->spinSearchAllowance})
        setting->setEnabled(!searching);
    for (QCheckBox *box : m_speeds + m_parities)
        box->setEnabled(!searching);
    ui->btnSearchStart->setEnabled(!searching);
    ui->btnSearchCancel->setEnabled(searching);
    const int row = ui->tblSearchFound->currentRow();
    ui->btnSearchApply->setEnabled(ui->tblSearchFound->selectionModel()->hasSelection() && row >= 0 && row < m_found.size()
                        && m_found[row].indicator);
}

void SearchWindow::applyChosen()
{
    const int row = ui->tblSearchFound->currentRow();
    if (row < 0 || row >= m_found.size() || !m_found[row].indicator)
        return;
    const Found found = m_found[row];
    // The search lets go of the port before the window's owner may open it.
    endSearch(ui->lblSearchProgress->text());
    emit deviceChosen(m_searchedPort, found.setting.speedNumber, found.setting.parity, found.address);
    accept();
}

void SearchWindow::done(int result)
{
    cancelSearch();
    QDialog::done(result);
}

// In the words the main window uses when Start cannot open the port.
QString SearchWindow::failureText(Sweep::Failure failure) const
{
    const QString text = failure == Sweep::Failure::PortNotOpened ? QStringLiteral("Ошибка! Порт %1 не открыт (%2)")
                                                                  : QStringLiteral("Ошибка! Порт %1 не отвечает (%2)");
    return text.arg(ui->cmbSearchPort->itemText(m_searchedPort), m_searchedDevice);
}

QString SearchWindow::settingCaption(const LineSetting &setting) const
{
    return QStringLiteral("%1/%2").arg(m_setup.speedCaptions.value(setting.speedNumber),
                                       m_setup.parityNames.value(setting.parity));
}
