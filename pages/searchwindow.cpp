#include "searchwindow.h"

#include "handlers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace DeviceSearch;

namespace {

constexpr int kSpeedColumns = 4;
constexpr int kLongestAllowanceMs = 1000;
constexpr int kMsPerSecond = 1000;
constexpr QSize kWindowSize(600, 640);

enum Column { AddressColumn, SpeedColumn, ParityColumn, NameColumn, VersionColumn, ColumnCount };

QCheckBox *tickedBox(const QString &caption, const QString &name)
{
    auto *box = new QCheckBox(caption);
    box->setObjectName(name);
    box->setChecked(true);
    return box;
}

QSpinBox *addressBox(const QString &name, int value)
{
    auto *box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(kFirstAddress, kLastAddress);
    box->setValue(value);
    return box;
}

QPushButton *button(const QString &caption, const QString &name)
{
    auto *pushButton = new QPushButton(caption);
    pushButton->setObjectName(name);
    pushButton->setAutoDefault(false);
    return pushButton;
}

} // namespace

SearchWindow::SearchWindow(const Setup &setup, QWidget *parent)
    : QDialog(parent), m_setup(setup), m_stepTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("frmSearch"));
    setWindowTitle(QStringLiteral("Поиск прибора"));
    buildForm();
    connectControls();
    updateButtons();
}

SearchWindow::~SearchWindow() = default;

void SearchWindow::buildForm()
{
    m_port = new QComboBox;
    m_port->setObjectName(QStringLiteral("cmbSearchPort"));
    m_port->addItems(m_setup.portCaptions);
    for (int i = 0; i < m_setup.portDevices.size() && i < m_port->count(); ++i)
        m_port->setItemData(i, m_setup.portDevices[i], Qt::ToolTipRole);
    m_port->setCurrentIndex(m_setup.portNumber < m_port->count() ? m_setup.portNumber : 0);

    m_firstAddress = addressBox(QStringLiteral("spinSearchFirstAddress"), kFirstAddress);
    m_lastAddress = addressBox(QStringLiteral("spinSearchLastAddress"), kLastAddress);
    auto *addresses = new QHBoxLayout;
    addresses->addWidget(m_firstAddress);
    addresses->addWidget(new QLabel(QStringLiteral("…")));
    addresses->addWidget(m_lastAddress);
    addresses->addStretch();

    auto *line = new QFormLayout;
    line->addRow(QStringLiteral("Порт"), m_port);
    line->addRow(QStringLiteral("Адреса"), addresses);
    line->addRow(QStringLiteral("Число стоп-бит"), new QLabel(m_setup.stopBitsCaption));

    auto *speeds = new QGroupBox(QStringLiteral("Скорости"));
    auto *speedGrid = new QGridLayout(speeds);
    for (int i = 0; i < m_setup.speedCaptions.size(); ++i) {
        m_speeds.append(tickedBox(m_setup.speedCaptions[i], QStringLiteral("checkSearchSpeed%1").arg(i)));
        speedGrid->addWidget(m_speeds.back(), i / kSpeedColumns, i % kSpeedColumns);
    }
    auto *parities = new QGroupBox(QStringLiteral("Паритет"));
    auto *parityRow = new QHBoxLayout(parities);
    for (int i = 0; i < m_setup.parityNames.size(); ++i) {
        m_parities.append(tickedBox(m_setup.parityNames[i], QStringLiteral("checkSearchParity%1").arg(i)));
        parityRow->addWidget(m_parities.back());
    }

    m_stopAtFirst = new QCheckBox(QStringLiteral("Остановиться на первом найденном приборе"));
    m_stopAtFirst->setObjectName(QStringLiteral("checkSearchStopAtFirst"));
    m_allowance = new QSpinBox;
    m_allowance->setObjectName(QStringLiteral("spinSearchAllowance"));
    m_allowance->setRange(0, kLongestAllowanceMs);
    m_allowance->setValue(kDefaultAllowanceMs);
    m_allowance->setSuffix(QStringLiteral(" мс"));
    auto *options = new QFormLayout;
    options->addRow(m_stopAtFirst);
    options->addRow(QStringLiteral("Запас на ответ прибора"), m_allowance);

    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("pbSearch"));
    m_progress->setValue(0);
    m_progressText = new QLabel;
    m_progressText->setObjectName(QStringLiteral("lblSearchProgress"));
    m_noise = new QLabel;
    m_noise->setObjectName(QStringLiteral("lblSearchNoise"));
    m_noise->setWordWrap(true);
    m_noise->setToolTip(QStringLiteral("Прибор на другой скорости или с другим паритетом часто выглядит так"));

    m_table = new QTableWidget(0, ColumnCount);
    m_table->setObjectName(QStringLiteral("tblSearchFound"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Адрес"), QStringLiteral("Скорость"), QStringLiteral("Паритет"), QStringLiteral("Имя"),
         QStringLiteral("Версия")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_start = button(QStringLiteral("Найти"), QStringLiteral("btnSearchStart"));
    m_cancel = button(QStringLiteral("Отмена"), QStringLiteral("btnSearchCancel"));
    m_apply = button(QStringLiteral("Применить"), QStringLiteral("btnSearchApply"));
    m_close = button(QStringLiteral("Закрыть"), QStringLiteral("btnSearchClose"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    buttons->addWidget(m_apply);
    buttons->addWidget(m_close);

    auto *form = new QVBoxLayout(this);
    form->addLayout(line);
    form->addWidget(speeds);
    form->addWidget(parities);
    form->addLayout(options);
    form->addWidget(m_progress);
    form->addWidget(m_progressText);
    form->addWidget(m_table, 1);
    form->addWidget(m_noise);
    form->addLayout(buttons);
    resize(kWindowSize);
}

void SearchWindow::connectControls()
{
    using Handlers::connect;
    connect(m_start, &QPushButton::clicked, this, &SearchWindow::startSearch);
    connect(m_cancel, &QPushButton::clicked, this, &SearchWindow::cancelSearch);
    connect(m_apply, &QPushButton::clicked, this, &SearchWindow::applyChosen);
    connect(m_close, &QPushButton::clicked, this, &SearchWindow::reject);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &SearchWindow::updateButtons);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &SearchWindow::applyChosen);
    connect(m_stepTimer, &QTimer::timeout, this, &SearchWindow::probeNext);
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
    plan.firstAddress = m_firstAddress->value();
    plan.lastAddress = m_lastAddress->value();
    plan.likely = m_setup.likely;
    plan.likelyAddress = m_setup.likelyAddress;
    plan.allowanceMs = m_allowance->value();
    return plan;
}

void SearchWindow::startSearch()
{
    m_table->setRowCount(0);
    m_found.clear();
    m_noise->clear();
    m_searchedPort = m_port->currentIndex();
    m_searchedDevice = m_setup.portDevices.value(m_searchedPort, m_port->currentText());
    m_sweep = std::make_unique<Sweep>(plan(), m_searchedDevice, m_setup.stopBits);
    if (m_sweep->finished()) {
        endSearch(QStringLiteral("Не отмечено ни одной скорости или ни одного паритета"));
        return;
    }
    m_progress->setRange(0, int(m_sweep->total()));
    showProgress();
    updateButtons();
    m_stepTimer->start(0);
}

void SearchWindow::probeNext()
{
    if (!m_sweep)
        return;
    const std::optional<Sweep::Step> step = m_sweep->next();
    if (step && step->found)
        showFound(*step->found);
    if (step && step->answer == Answer::Noise)
        showNoise();
    const bool stopHere = step && step->answer == Answer::Indicator && m_stopAtFirst->isChecked();
    if (m_sweep->failure() != Sweep::Failure::None)
        endSearch(failureText(m_sweep->failure()));
    else if (m_sweep->finished() || stopHere)
        endSearch(QStringLiteral("Поиск закончен, найдено: %1").arg(m_found.size()));
    else
        showProgress();
}

void SearchWindow::cancelSearch()
{
    if (m_sweep)
        endSearch(QStringLiteral("Поиск отменён, найдено: %1").arg(m_found.size()));
}

// Frees the port at once, whether the search ran to its end or not.
void SearchWindow::endSearch(const QString &outcome)
{
    m_stepTimer->stop();
    if (m_sweep)
        m_progress->setValue(int(m_sweep->sent()));
    m_sweep.reset();
    m_progressText->setText(outcome);
    updateButtons();
}

void SearchWindow::showProgress()
{
    const std::optional<Probe> probe = m_sweep->upcoming();
    if (!probe)
        return;
    m_progress->setValue(int(m_sweep->sent()));
    const qint64 secondsLeft = (m_sweep->remainingMs() + kMsPerSecond - 1) / kMsPerSecond;
    m_progressText->setText(QStringLiteral("%1, адрес %2, осталось %3 с")
                                .arg(settingCaption(probe->setting))
                                .arg(probe->address)
                                .arg(secondsLeft));
}

void SearchWindow::showFound(const Found &found)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    const QString cells[ColumnCount] = {
        QString::number(found.address),
        m_setup.speedCaptions.value(found.setting.speedNumber),
        m_setup.parityNames.value(found.setting.parity),
        found.indicator ? found.name : QStringLiteral("другое устройство"),
        found.version,
    };
    for (int column = 0; column < ColumnCount; ++column)
        m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
    m_found.append(found);
}

void SearchWindow::showNoise()
{
    QStringList settings;
    for (const Sweep::NoiseCount &count : m_sweep->noise())
        settings << QStringLiteral("%1 (%2)").arg(settingCaption(count.setting)).arg(count.replies);
    m_noise->setText(QStringLiteral("помехи на ") + settings.join(QStringLiteral(", ")));
}

void SearchWindow::updateButtons()
{
    const bool searching = bool(m_sweep);
    for (QWidget *setting : std::initializer_list<QWidget *>{m_port, m_firstAddress, m_lastAddress, m_stopAtFirst, m_allowance})
        setting->setEnabled(!searching);
    for (QCheckBox *box : m_speeds + m_parities)
        box->setEnabled(!searching);
    m_start->setEnabled(!searching);
    m_cancel->setEnabled(searching);
    const int row = m_table->currentRow();
    m_apply->setEnabled(m_table->selectionModel()->hasSelection() && row >= 0 && row < m_found.size()
                        && m_found[row].indicator);
}

void SearchWindow::applyChosen()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= m_found.size() || !m_found[row].indicator)
        return;
    const Found found = m_found[row];
    // The search lets go of the port before the window's owner may open it.
    endSearch(m_progressText->text());
    emit deviceChosen(m_searchedPort, found.setting.speedNumber, found.setting.parity, found.address);
    accept();
}

void SearchWindow::done(int result)
{
    if (m_sweep)
        cancelSearch();
    QDialog::done(result);
}

// In the words the main window uses when Start cannot open the port.
QString SearchWindow::failureText(Sweep::Failure failure) const
{
    const QString text = failure == Sweep::Failure::PortNotOpened ? QStringLiteral("Ошибка! Порт %1 не открыт (%2)")
                                                                  : QStringLiteral("Ошибка! Порт %1 не отвечает (%2)");
    return text.arg(m_port->itemText(m_searchedPort), m_searchedDevice);
}

QString SearchWindow::settingCaption(const LineSetting &setting) const
{
    return QStringLiteral("%1/%2").arg(m_setup.speedCaptions.value(setting.speedNumber),
                                       m_setup.parityNames.value(setting.parity));
}
