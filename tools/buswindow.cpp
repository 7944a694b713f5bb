#include "buswindow.h"

#include "addresslist.h"
#include "busbench.h"
#include "bustable.h"
#include "busunits.h"
#include "controls.h"
#include "handlers.h"
#include "modalbox.h"
#include "searchwindow.h"
#include "toolfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

using namespace DeviceSearch;

namespace {

constexpr QSize kWindowSize(1260, 620);
constexpr int kAgeRefreshMs = 1000;
constexpr int kRowPadding = 6;
constexpr int kLongestTestSeconds = 600;
constexpr int kMostMinReadings = 10000;
constexpr int kLargestAllowanceMs = 1000; // as the search's

} // namespace

BusWindow::BusWindow(const Setup &setup, Session &session, QWidget *parent)
    : QDialog(parent),
      m_session(session),
      m_setup(setup),
      m_units(new BusTable(palette().color(QPalette::WindowText), this)),
      m_bus(new BusUnits(session, setup.line, setup.setting, this)),
      m_bench(new BusBench(session, setup.lineCaption, this)),
      m_addresses(new QLineEdit(QStringLiteral("%1-%2").arg(kFirstAddress).arg(kLastAddress), this)),
      m_allowance(new QSpinBox(this)),
      m_find(new QPushButton(QStringLiteral("Найти"), this)),
      m_progress(new QProgressBar(this)),
      m_timeLeft(new QLabel(this)),
      m_table(new QTableView(this)),
      m_expected(new QLineEdit(this)),
      m_tolerance(new QLineEdit(this)),
      m_sigma(new QLineEdit(this)),
      m_seconds(new QSpinBox(this)),
      m_longest(new QSpinBox(this)),
      m_minReadings(new QSpinBox(this)),
      m_test(new QPushButton(QStringLiteral("Проверить все"), this)),
      m_profileTest(new QPushButton(QStringLiteral("Записать профиль во все и проверить…"), this)),
      m_saveReport(new QPushButton(QStringLiteral("Сохранить отчёт…"), this)),
      m_saveTable(new QPushButton(QStringLiteral("Сохранить CSV…"), this)),
      m_close(new QPushButton(QStringLiteral("Закрыть"), this)),
      m_status(new QLabel(this)),
      m_ageTimer(new QTimer(this))
{
    buildForm();
    layOutForm();
    connectControls();
    setState(State::Idle);
    const qint64 sweepMs = qint64(kLastAddress - kFirstAddress + 1) * probeBudgetMs(m_setup.setting.speedNumber, kDefaultAllowanceMs);
    showStatus(QStringLiteral("«Найти»: адреса при настройке линии левой панели, все 247 не более чем за %1 с.")
                   .arg((sweepMs + 999) / 1000));
}

BusWindow::~BusWindow() = default;

void BusWindow::buildForm()
{
    setObjectName(QStringLiteral("frmBus"));
    setWindowTitle(QStringLiteral("Приборы на линии"));
    m_addresses->setObjectName(QStringLiteral("edtBusAddresses"));
    m_find->setObjectName(QStringLiteral("btnBusFind"));
    m_allowance->setObjectName(QStringLiteral("spinBusAllowance"));
    m_allowance->setRange(0, kLargestAllowanceMs);
    m_allowance->setSuffix(QStringLiteral(" мс"));
    m_allowance->setValue(kDefaultAllowanceMs);
    m_allowance->setToolTip(QStringLiteral("Сколько прибор может думать над ответом сверх времени передачи"));
    m_progress->setObjectName(QStringLiteral("pbBus"));
    m_timeLeft->setObjectName(QStringLiteral("lblBusTimeLeft"));
    m_table->setObjectName(QStringLiteral("tblBus"));
    m_expected->setObjectName(QStringLiteral("edtBusExpected"));
    m_tolerance->setObjectName(QStringLiteral("edtBusTolerance"));
    m_sigma->setObjectName(QStringLiteral("edtBusSigma"));
    m_seconds->setObjectName(QStringLiteral("spinBusSeconds"));
    m_longest->setObjectName(QStringLiteral("spinBusLongest"));
    m_minReadings->setObjectName(QStringLiteral("spinBusReadings"));
    m_test->setObjectName(QStringLiteral("btnBusTest"));
    m_profileTest->setObjectName(QStringLiteral("btnBusProfileTest"));
    m_saveReport->setObjectName(QStringLiteral("btnBusReport"));
    m_saveTable->setObjectName(QStringLiteral("btnBusSave"));
    m_close->setObjectName(QStringLiteral("btnBusClose"));
    m_status->setObjectName(QStringLiteral("lblBusStatus"));
    m_status->setWordWrap(true);

    m_table->setModel(m_units);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + kRowPadding);
    m_table->setWordWrap(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    const std::pair<BusTable::Column, int> widths[] = {
        {BusTable::AddressColumn, 50},   {BusTable::NameColumn, 140},   {BusTable::VersionColumn, 120},
        {BusTable::ValueColumn, 80},     {BusTable::UnitColumn, 35},    {BusTable::DisplayColumn, 75},
        {BusTable::SelfDiagColumn, 115}, {BusTable::EepromColumn, 115}, {BusTable::ResultColumn, 145},
        {BusTable::AgeColumn, 75}};
    for (const auto &[column, width] : widths)
        m_table->setColumnWidth(column, width);
    m_table->horizontalHeader()->setStretchLastSection(true);

    // Examples in the desktop's own way of writing numbers, which is the way they are read.
    m_expected->setPlaceholderText(RegionalNumber::text(12.0, 3));
    m_tolerance->setPlaceholderText(RegionalNumber::text(0.05, 3));
    m_sigma->setPlaceholderText(RegionalNumber::text(0.02, 3));
    m_seconds->setRange(1, kLongestTestSeconds);
    m_seconds->setValue(BenchTest::kDefaultDurationS);
    m_longest->setRange(1, kLongestTestSeconds);
    m_longest->setValue(BenchTest::kDefaultLongestS);
    m_longest->setToolTip(QStringLiteral("Проверка идёт дольше заданного времени, пока каждый отвечающий прибор не даст "
                                         "своих показаний, но не дольше этого"));
    // Two at least: σ needs two readings.
    m_minReadings->setRange(2, kMostMinReadings);
    m_minReadings->setValue(BenchTest::kDefaultMinReadings);
    m_minReadings->setToolTip(QStringLiteral("Прибор, давший меньше показаний за проверку, не годен"));
}

void BusWindow::layOutForm()
{
    auto *find = new QHBoxLayout;
    find->addWidget(new QLabel(QStringLiteral("Линия: %1.").arg(m_setup.lineCaption), this));
    find->addSpacing(12);
    find->addWidget(new QLabel(QStringLiteral("Адреса:"), this));
    find->addWidget(m_addresses);
    find->addWidget(new QLabel(QStringLiteral("Запас на ответ:"), this));
    find->addWidget(m_allowance);
    find->addWidget(m_find);
    find->addWidget(m_progress, 1);
    find->addWidget(m_timeLeft);

    auto *test = new QHBoxLayout;
    const std::pair<const char *, QWidget *> fields[] = {{"Эталон:", m_expected},
                                                         {"Допуск ±:", m_tolerance},
                                                         {"σ не более:", m_sigma},
                                                         {"Время, с:", m_seconds},
                                                         {"Не дольше, с:", m_longest},
                                                         {"Показаний не менее:", m_minReadings}};
    for (const auto &[caption, field] : fields) {
        test->addWidget(new QLabel(QString::fromUtf8(caption), this));
        test->addWidget(field);
    }
    test->addWidget(m_test);
    test->addWidget(m_profileTest);
    test->addWidget(m_saveReport);
    test->addStretch();

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_saveTable);
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_close);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(find);
    layout->addWidget(m_table, 1);
    layout->addLayout(test);
    layout->addLayout(buttons);
    resize(kWindowSize);
}

void BusWindow::connectControls()
{
    connect(&m_session, &Session::portLost, this, &BusWindow::portLost);
    connect(m_find, &QPushButton::clicked, this, &BusWindow::startFinding);
    connect(m_test, &QPushButton::clicked, this, [this] {
        m_bench->forgetProfile();
        startTest();
    });
    connect(m_profileTest, &QPushButton::clicked, this, &BusWindow::writeProfileAndTest);
    connect(m_saveReport, &QPushButton::clicked, this, &BusWindow::saveReport);
    connect(m_saveTable, &QPushButton::clicked, this, &BusWindow::saveTable);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex &index) { chooseRow(index.row()); });
    connect(m_ageTimer, &QTimer::timeout, this, &BusWindow::showAges);
    connect(m_bus, &BusUnits::sweepStarted, this, [this](qint64 probes) {
        m_progress->setRange(0, int(probes));
        m_progress->setValue(0);
    });
    connect(m_bus, &BusUnits::swept, this, &BusWindow::showSweep);
    connect(m_bus, &BusUnits::unitFound, m_units, &BusTable::addUnit);
    connect(m_bus, &BusUnits::findingEnded, this, &BusWindow::endFinding);
    connect(m_bus, &BusUnits::notOpened, this, [this] {
        showStatus(m_session.openFailureMessage(m_setup.line.portName, m_setup.line.portName), true);
    });
    connect(m_bus, &BusUnits::pollingStarted, this, &BusWindow::pollingBegan);
    connect(m_bus, &BusUnits::unitPolled, this, &BusWindow::showUnit);
    connect(m_bench, &BusBench::writingProfileInto, this, [this](quint8 address) {
        showStatus(QStringLiteral("Запись профиля в прибор по адресу %1…").arg(address));
    });
    connect(m_bench, &BusBench::profileWritten, m_units, &BusTable::showProfileWritten);
    connect(m_bench, &BusBench::profileWrittenIntoAll, this, &BusWindow::testAfterProfile);
    connect(m_bench, &BusBench::unitRecorded, this, &BusWindow::showProgress);
    connect(m_bench, &BusBench::testEnded, this, &BusWindow::showReport);
}

// The one place that says what may be done while the window does what it does. The addresses
// and the allowance stay open while the profile goes in: they act on the next «Найти» alone.
void BusWindow::setState(State state)
{
    m_state = state;
    const bool finding = state == State::Finding;
    const bool testing = state == State::Testing;
    const bool polling = state == State::Polling;
    m_find->setEnabled(state == State::Idle || polling);
    m_addresses->setEnabled(!finding && !testing);
    m_allowance->setEnabled(!finding && !testing);
    for (QSpinBox *field : {m_seconds, m_longest, m_minReadings})
        field->setEnabled(!testing);
    m_test->setEnabled(polling);
    m_profileTest->setEnabled(polling);
    m_saveReport->setEnabled(m_report.has_value() && !testing);
    m_saveTable->setEnabled(!finding);
}

// The sweep at the one setting of the left panel; the port goes from the poller to the sweep
// and back.
void BusWindow::startFinding()
{
    QString why;
    const QList<quint8> addresses = AddressList::parse(m_addresses->text(), &why);
    if (addresses.isEmpty()) {
        showStatus(QStringLiteral("Адреса: %1.").arg(why), true);
        return;
    }
    stopPolling();
    m_report.reset();
    m_units->clear();
    showStatus(QStringLiteral("Поиск…"));
    setState(State::Finding);
    m_bus->find(addresses, m_allowance->value());
}

void BusWindow::showSweep(qint64 sent, qint64 remainingMs)
{
    m_progress->setValue(int(sent));
    m_timeLeft->setText(timeLeftText(remainingMs));
}

void BusWindow::endFinding(Sweep::Failure failure, qint64 sent)
{
    m_progress->setValue(int(sent));
    m_timeLeft->clear();
    setState(State::Idle);
    if (failure != Sweep::Failure::None) {
        showStatus((failure == Sweep::Failure::PortNotOpened ? QStringLiteral("Ошибка! Порт %1 не открыт")
                                                             : QStringLiteral("Ошибка! Порт %1 не отвечает"))
                       .arg(m_setup.line.portName),
                   true);
        return;
    }
    showStatus(QStringLiteral("Найдено приборов: %1; опрос по кругу.").arg(m_bus->found().size()));
    if (!m_bus->found().isEmpty())
        m_bus->startPolling();
}

void BusWindow::pollingBegan()
{
    m_ageTimer->start(kAgeRefreshMs);
    setState(State::Polling);
}

// Every request of the window forgotten, and the port let go of.
void BusWindow::stopPolling()
{
    m_ageTimer->stop();
    m_bench->stop();
    m_bus->stop();
    setState(State::Idle);
}

void BusWindow::showUnit(int row)
{
    if (row < 0 || row >= m_bus->poller()->units().size())
        return;
    m_units->showPoll(row, m_bus->poller()->units()[row]);
    showAges();
}

void BusWindow::showAges()
{
    if (m_bus->poller())
        m_units->showAges(m_bus->poller()->now());
}

std::optional<double> BusWindow::number(QLineEdit *edit) const
{
    // Never with a group separator: on a German desktop "0.050" would be 50, and pass every unit.
    try {
        const double value = RegionalNumber::read(edit->text());
        return std::isfinite(value) ? std::optional(value) : std::nullopt;
    } catch (const NumberConversionError &) {
        return std::nullopt;
    }
}

std::optional<BenchTest::Limits> BusWindow::limitsFromForm()
{
    const std::optional<double> expected = number(m_expected);
    const std::optional<double> tolerance = number(m_tolerance);
    const std::optional<double> sigma = number(m_sigma);
    if (!expected || !tolerance || !sigma || *tolerance < 0 || *sigma < 0) {
        showStatus(QStringLiteral("Эталон, допуск и σ: числа с разделителем «%1», допуск и σ не меньше нуля.")
                       .arg(RegionalNumber::decimalSeparator()),
                   true);
        return std::nullopt;
    }
    return BenchTest::Limits{*expected, *tolerance, *sigma, m_minReadings->value(), m_seconds->value() * 1000LL,
                             m_longest->value() * 1000LL};
}

void BusWindow::startTest()
{
    const std::optional<BenchTest::Limits> limits = limitsFromForm();
    if (!limits)
        return;
    m_report.reset();
    m_bench->startTest(*m_bus->poller(), *limits);
    setState(State::Testing);
    for (int row = 0; row < m_units->rowCount(); ++row)
        showProgress(row);
    showStatus(QStringLiteral("Проверка: %1 с, до %2 с, пока каждый отвечающий прибор не даст %3 показаний…")
                   .arg(m_seconds->value())
                   .arg(std::max(m_seconds->value(), m_longest->value()))
                   .arg(limits->minReadings));
}

void BusWindow::showProgress(int row)
{
    const QList<Bus::Unit> &units = m_bus->poller()->units();
    if (row < units.size())
        m_units->showProgress(row, m_bench->readings(units[row].address), m_bench->limits().minReadings);
}

// The clone window's way with each unit: its settings read as they are, then the profile
// written where it differs and read back; then the test of them all, and one report. The test
// buttons are there only while the units are polled.
void BusWindow::writeProfileAndTest()
{
    if (!limitsFromForm())
        return;
    QString path;
    const std::optional<Profiles::DeviceProfile> profile = ToolFiles::chooseProfile(this, &path);
    if (!profile)
        return;
    if (const QList<ProfileWriter::Refusal> refused = ProfileWriter::refusals(*profile); !refused.isEmpty()) {
        showStatus(QStringLiteral("Профиль нельзя записать: %1: %2").arg(refused.first().key, refused.first().reason), true);
        return;
    }
    m_bus->poller()->stop();
    m_ageTimer->stop();
    setState(State::WritingProfile);
    m_bench->writeProfile(m_bus->poller()->units(), *profile, QFileInfo(path).fileName(),
                          {m_setup.portCaption, m_setup.line, 0},
                          [this](const QString &question) { return ModalBox::question(this, question); });
}

void BusWindow::testAfterProfile()
{
    m_bus->poller()->start();
    m_ageTimer->start(kAgeRefreshMs);
    setState(State::Polling);
    startTest();
}

void BusWindow::showReport(const BenchTest::Report &report)
{
    for (int row = 0; row < report.rows.size(); ++row)
        m_units->showJudgement(row, report.rows[row].judgement);
    showStatus(QStringLiteral("Проверено: %1, годных %2, не годных %3.")
                   .arg(report.rows.size())
                   .arg(report.passes())
                   .arg(report.failures()),
               report.failures() > 0);
    m_report = report;
    setState(State::Polling);
}

// The adapter went: a test under way has no verdict to give, each unit «не проверен», and the
// polling ends, since every exchange on a port that is gone fails at once.
void BusWindow::portLost()
{
    if (!m_bus->holdsLine())
        return;
    const bool testing = m_state == State::Testing;
    m_bench->abortTest();
    stopPolling();
    showStatus(QStringLiteral("Ошибка! Адаптер %1 отключён (%2).%3")
                   .arg(m_setup.portCaption, m_setup.line.portName,
                        testing ? QStringLiteral(" Проверка прервана: приборы не проверены.") : QString()),
               true);
}

void BusWindow::saveTable()
{
    ToolFiles::saveTable(this, *m_units, QStringLiteral("приборы.csv"),
                         {BusTable::AddressColumn, BusTable::ValueColumn, BusTable::AgeColumn});
}

void BusWindow::saveReport()
{
    if (!m_report)
        return;
    if (const std::optional<QString> saved = ToolFiles::saveReport(this, *m_report))
        showStatus(QStringLiteral("Отчёт сохранён: %1 и %2")
                       .arg(QDir::toNativeSeparators(*saved), QDir::toNativeSeparators(BenchTest::csvPathBeside(*saved))));
}

// The port is freed first, so that the main window may open it for the unit chosen.
void BusWindow::chooseRow(int row)
{
    if (row < 0 || row >= m_units->rowCount())
        return;
    const int address = m_units->address(row);
    stopPolling();
    emit unitChosen(address);
    accept();
}

void BusWindow::showStatus(const QString &text, bool failure)
{
    m_status->setText(text);
    setTextColour(m_status, failure ? kFailureColour : palette().color(QPalette::WindowText));
}

void BusWindow::done(int result)
{
    stopPolling();
    QDialog::done(result);
}
