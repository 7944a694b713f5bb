#include "buswindow.h"

#include "addresslist.h"
#include "catalogue.h"
#include "controls.h"
#include "glyphs.h"
#include "handlers.h"
#include "modalbox.h"
#include "profilereader.h"
#include "profilewriter.h"
#include "reportpdf.h"
#include "resultcodes.h"
#include "searchwindow.h"
#include "toolfiles.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

using namespace DeviceSearch;

namespace {

constexpr QSize kWindowSize(1260, 620);
constexpr int kAgeRefreshMs = 1000;
constexpr int kRowPadding = 6;
constexpr int kLongestTestSeconds = 600;
// How often a test under way asks whether it may end, besides after each poll: a line whose
// units have all gone silent brings no poll to ask.
constexpr int kTestCheckMs = 250;
constexpr int kMostMinReadings = 10000;
constexpr int kLargestAllowanceMs = 1000; // as the search's
// A silent unit's row, and its lamps' "not available".
const QColor kSilentColour(128, 128, 128);

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    item->setToolTip(text);
    return item;
}

// One lamp for a flag word: red when any fault of the word is set, grey when it was not read.
QPixmap lampOf(const std::optional<quint16> &word, const Catalogue::Parameter &parameter)
{
    if (!word)
        return Glyphs::lampPicture(Glyphs::Lamp::NotAvailable);
    quint16 known = 0;
    for (const Catalogue::Bit &bit : parameter.bits)
        known |= quint16(1u << bit.bit);
    return Glyphs::lampPicture((*word & known) ? Glyphs::Lamp::Error : Glyphs::Lamp::NoError);
}

// «норма», or the faults of the word that are set, by their captions.
QString flagsText(const std::optional<quint16> &word, const Catalogue::Parameter &parameter)
{
    if (!word)
        return QStringLiteral("—");
    QStringList faults;
    for (const Catalogue::Bit &bit : parameter.bits) {
        if (*word & (1u << bit.bit))
            faults << bit.caption;
    }
    return faults.isEmpty() ? QStringLiteral("норма") : faults.join(QStringLiteral(", "));
}

} // namespace

BusWindow::BusWindow(const Setup &setup, Session &session, QWidget *parent)
    : QDialog(parent),
      m_session(session),
      m_setup(setup),
      m_addresses(new QLineEdit(QStringLiteral("%1-%2").arg(kFirstAddress).arg(kLastAddress), this)),
      m_allowance(new QSpinBox(this)),
      m_find(new QPushButton(QStringLiteral("Найти"), this)),
      m_progress(new QProgressBar(this)),
      m_timeLeft(new QLabel(this)),
      m_table(new QTableWidget(0, ColumnCount, this)),
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
      m_ageTimer(new QTimer(this)),
      m_testTimer(new QTimer(this))
{
    buildForm();
    connectControls();
    updateButtons();
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

    m_table->setHorizontalHeaderLabels({QStringLiteral("Адрес"), QStringLiteral("Имя"), QStringLiteral("Версия"),
                                        QStringLiteral("Показания"), QStringLiteral("Ед."), QStringLiteral("Индикатор"),
                                        QStringLiteral("Самодиагностика"), QStringLiteral("EEPROM"),
                                        QStringLiteral("Опрос"), QStringLiteral("Возраст, с"), QStringLiteral("Итог")});
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + kRowPadding);
    m_table->setWordWrap(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    const std::pair<Column, int> widths[] = {{AddressColumn, 50},  {NameColumn, 140},    {VersionColumn, 120},
                                             {ValueColumn, 80},    {UnitColumn, 35},     {DisplayColumn, 75},
                                             {SelfDiagColumn, 115}, {EepromColumn, 115}, {ResultColumn, 145},
                                             {AgeColumn, 75}};
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
        m_profileName.clear();
        m_profileFailures.clear();
        startTest();
    });
    connect(m_profileTest, &QPushButton::clicked, this, &BusWindow::writeProfileAndTest);
    connect(m_saveReport, &QPushButton::clicked, this, &BusWindow::saveReport);
    connect(m_saveTable, &QPushButton::clicked, this, &BusWindow::saveTable);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &BusWindow::chooseRow);
    connect(m_ageTimer, &QTimer::timeout, this, &BusWindow::showAges);
    connect(m_testTimer, &QTimer::timeout, this, &BusWindow::endTestWhenOver);
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
    m_table->setRowCount(0);
    m_found.clear();
    Plan plan;
    plan.likely = m_setup.setting;
    // The sweep goes over a span; the units between the addresses listed are not shown.
    const auto [first, last] = std::minmax_element(addresses.begin(), addresses.end());
    plan.likelyAddress = *first;
    plan.firstAddress = *first;
    plan.lastAddress = *last;
    m_listed = addresses;
    plan.allowanceMs = m_allowance->value();
    m_sweep = std::make_unique<Sweep>(addressesOnly(plan), m_session.lineOwner(), m_setup.line);
    m_progress->setRange(0, int(m_sweep->total()));
    m_progress->setValue(0);
    showStatus(QStringLiteral("Поиск…"));
    updateButtons();
    probeNext();
}

void BusWindow::probeNext()
{
    if (!m_sweep->next([this](const std::optional<Sweep::Step> &step) { probed(step); }))
        endFinding({});
}

void BusWindow::probed(const std::optional<Sweep::Step> &step)
{
    if (step && step->found && step->found->indicator && m_listed.contains(step->found->address))
        addUnit(*step->found);
    if (!m_sweep->finished()) {
        m_progress->setValue(int(m_sweep->sent()));
        m_timeLeft->setText(timeLeftText(m_sweep->remainingMs()));
        probeNext();
        return;
    }
    const Sweep::Failure failure = m_sweep->failure();
    if (failure == Sweep::Failure::PortNotOpened)
        endFinding(QStringLiteral("Ошибка! Порт %1 не открыт").arg(m_setup.line.portName));
    else if (failure == Sweep::Failure::PortLost)
        endFinding(QStringLiteral("Ошибка! Порт %1 не отвечает").arg(m_setup.line.portName));
    else
        endFinding({});
}

// The sweep lets go of the port, and goes once the reply that may have ended it is over.
void BusWindow::endFinding(const QString &failure)
{
    if (m_sweep) {
        m_progress->setValue(int(m_sweep->sent()));
        m_sweep->stop();
        m_sweep.release()->deleteLater();
    }
    m_timeLeft->clear();
    if (!failure.isEmpty()) {
        showStatus(failure, true);
        updateButtons();
        return;
    }
    showStatus(QStringLiteral("Найдено приборов: %1; опрос по кругу.").arg(m_found.size()));
    if (!m_found.isEmpty())
        startPolling();
    updateButtons();
}

void BusWindow::addUnit(const Found &found)
{
    Bus::Unit unit;
    unit.address = found.address;
    unit.name = found.name;
    unit.version = found.version;
    m_found.append(unit);
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    for (int column = 0; column < ColumnCount; ++column)
        m_table->setItem(row, column, cell({}));
    m_table->item(row, AddressColumn)->setText(QString::number(found.address));
    m_table->item(row, NameColumn)->setText(found.name);
    m_table->item(row, VersionColumn)->setText(found.version);
}

void BusWindow::startPolling()
{
    m_holdsLine = true;
    m_session.start(m_setup.line, this, [this](bool opened) {
        if (!opened) {
            showStatus(m_session.openFailureMessage(m_setup.line.portName, m_setup.line.portName), true);
            return;
        }
        readUnitsOfMeasure();
    });
}

// The unit of measure, once: it changes only when someone writes it. The polling starts once
// the last unit has answered.
void BusWindow::readUnitsOfMeasure()
{
    const Catalogue::Parameter &unitOfMeasure = Catalogue::of(prmModeUnit);
    for (int row = 0; row < m_found.size(); ++row) {
        const bool last = row == m_found.size() - 1;
        m_session.readValueAt(
            m_found[row].address, unitOfMeasure, this,
            [this, row, last](const Session::Reading &reading) {
                if (reading.code >= lrOk)
                    m_found[row].unit = reading.value.toString();
                if (!last)
                    return;
                m_poller = std::make_unique<Bus::Poller>(m_session);
                m_poller->setUnits(m_found);
                connect(m_poller.get(), &Bus::Poller::unitPolled, this, &BusWindow::showUnit);
                connect(m_poller.get(), &Bus::Poller::unitPolled, this, &BusWindow::recordForTest);
                m_poller->start();
                m_ageTimer->start(kAgeRefreshMs);
                updateButtons();
            },
            Session::Reporting::Gathered);
    }
}

// Every request of the window forgotten, and the port let go of.
void BusWindow::stopPolling()
{
    m_ageTimer->stop();
    m_testTimer->stop();
    if (m_poller) {
        m_poller->stop();
        m_found = m_poller->units();
    }
    m_poller.reset();
    for (QObject *profileStep : std::initializer_list<QObject *>{m_profileReader, m_profileWriter}) {
        if (profileStep)
            m_session.cancel(profileStep);
    }
    m_profileUnits.clear();
    m_session.cancel(this);
    if (m_holdsLine)
        m_session.stop();
    m_holdsLine = false;
}

void BusWindow::showUnit(int row)
{
    if (!m_poller || row < 0 || row >= m_poller->units().size() || row >= m_table->rowCount())
        return;
    const Bus::Unit &unit = m_poller->units()[row];
    const Catalogue::Parameter &selfDiag = Catalogue::of(prmSelfDiag);
    const Catalogue::Parameter &eeprom = Catalogue::of(prmEEPROMErr);
    const auto set = [&](Column column, const QString &text) {
        QTableWidgetItem *item = m_table->item(row, column);
        item->setText(text);
        item->setToolTip(text);
    };
    set(ValueColumn, unit.value && std::isfinite(*unit.value) ? RegionalNumber::text(*unit.value, 3) : QStringLiteral("—"));
    set(UnitColumn, unit.unit);
    set(DisplayColumn, unit.text);
    set(SelfDiagColumn, flagsText(unit.selfDiag, selfDiag));
    set(EepromColumn, flagsText(unit.eepromErrors, eeprom));
    m_table->item(row, SelfDiagColumn)->setIcon(lampOf(unit.selfDiag, selfDiag));
    m_table->item(row, EepromColumn)->setIcon(lampOf(unit.eepromErrors, eeprom));
    set(ResultColumn, unit.lastCode == lrOk ? QStringLiteral("ответ") : ResultText(unit.lastCode));
    const QColor text = unit.silent ? kSilentColour : palette().color(QPalette::WindowText);
    for (int column = 0; column < ColumnCount; ++column) {
        if (column != VerdictColumn)
            m_table->item(row, column)->setForeground(text);
    }
    m_table->item(row, ResultColumn)->setForeground(unit.lastCode == lrOk ? text : kFailureColour);
    showAges();
}

// Seconds since each unit's last poll, whatever its result.
void BusWindow::showAges()
{
    if (!m_poller)
        return;
    const QList<Bus::Unit> &units = m_poller->units();
    for (int row = 0; row < units.size() && row < m_table->rowCount(); ++row) {
        const std::optional<qint64> at = units[row].polledAtMs;
        m_table->item(row, AgeColumn)->setText(at ? RegionalNumber::text((m_poller->now() - *at) / 1000.0, 1) : QString());
    }
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
    if (!m_poller) {
        showStatus(QStringLiteral("Нет приборов для проверки: нажмите «Найти»."), true);
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
    m_run.emplace(m_poller->units(), *limits, m_poller->now());
    m_testTimer->start(kTestCheckMs);
    for (int row = 0; row < m_table->rowCount(); ++row)
        showProgress(row);
    showStatus(QStringLiteral("Проверка: %1 с, до %2 с, пока каждый отвечающий прибор не даст %3 показаний…")
                   .arg(m_seconds->value())
                   .arg(std::max(m_seconds->value(), m_longest->value()))
                   .arg(limits->minReadings));
    updateButtons();
}

// A unit's poll into the test under way, and how far it is.
void BusWindow::recordForTest(int row)
{
    if (!m_run || !m_testTimer->isActive() || row < 0 || row >= m_poller->units().size())
        return;
    m_run->record(m_poller->units()[row]);
    showProgress(row);
    endTestWhenOver();
}

// «12/20»: the readings a unit has given the test so far, of those it needs.
void BusWindow::showProgress(int row)
{
    if (!m_run || row >= m_table->rowCount() || row >= m_poller->units().size())
        return;
    QTableWidgetItem *verdict = m_table->item(row, VerdictColumn);
    verdict->setText(QStringLiteral("%1/%2").arg(m_run->readings(m_poller->units()[row].address)).arg(m_run->limits().minReadings));
    verdict->setForeground(palette().color(QPalette::WindowText));
}

void BusWindow::endTestWhenOver()
{
    if (m_poller && m_run && m_run->isOver(m_poller->now(), m_poller->units()))
        endTest();
}

// The clone window's way with each unit: its settings read as they are, then the profile
// written where it differs and read back; then the test of them all, and one report.
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
    m_poller->stop();
    m_ageTimer->stop();
    m_profileName = QFileInfo(path).fileName();
    m_profileFailures.clear();
    m_profileTest->setEnabled(false);
    m_test->setEnabled(false);
    m_find->setEnabled(false);
    m_profile = *profile;
    m_profileUnits = m_poller->units();
    m_profileRow = 0;
    m_otherVersionsAllowed = false;
    writeProfileIntoNext();
}

// Unit after unit: its settings read as they are, then the profile written where it differs
// and read back; once the last is done, the test of them all.
void BusWindow::writeProfileIntoNext()
{
    if (m_profileRow >= m_profileUnits.size()) {
        m_poller->start();
        m_ageTimer->start(kAgeRefreshMs);
        startTest();
        return;
    }
    const Bus::Unit &unit = m_profileUnits[m_profileRow];
    showStatus(QStringLiteral("Запись профиля в прибор по адресу %1…").arg(unit.address));
    const Profiles::Origin origin{m_setup.portCaption, m_setup.line.speedNumber, m_setup.line.parity,
                                  m_setup.line.stopBits, unit.address};
    m_profileReader = new ProfileReader(m_session, origin, this);
    connect(m_profileReader, &ProfileReader::ended, this, [this, reader = m_profileReader.data()] {
        reader->deleteLater();
        profileRead(*reader);
    });
    m_profileReader->start();
}

void BusWindow::profileRead(const ProfileReader &reader)
{
    if (!reader.complete()) {
        profileWritten(QStringLiteral("не прочитан: %1")
                           .arg(reader.failures().isEmpty() ? QString() : reader.failures().constFirst().text));
        return;
    }
    const Profiles::DeviceProfile current = reader.profile();
    if (current.identity.version != m_profile.identity.version && !m_otherVersionsAllowed) {
        m_otherVersionsAllowed = ModalBox::question(
            this, QStringLiteral("Прибор по адресу %1 с версией программы «%2», профиль снят с версии «%3».\n\n"
                                 "Записывать профиль в приборы другой версии?")
                      .arg(m_profileUnits[m_profileRow].address)
                      .arg(current.identity.version, m_profile.identity.version));
        if (!m_otherVersionsAllowed) {
            profileWritten(QStringLiteral("другая версия программы: не записано"));
            return;
        }
    }
    m_profileWriter = new ProfileWriter(m_session, m_profile, current, ProfileWriter::Options(), this);
    m_profileWriter->confirmIdentity(); // the name is written with the rest
    connect(m_profileWriter, &ProfileWriter::ended, this, [this, writer = m_profileWriter.data()] {
        writer->deleteLater();
        profileWritten(writer->allConfirmed() ? QString() : writer->summary());
    });
    m_profileWriter->start();
}

// Empty when the unit holds the profile now; otherwise what went wrong.
void BusWindow::profileWritten(const QString &failure)
{
    const int row = m_profileRow++;
    m_profileFailures.insert(m_profileUnits[row].address, failure);
    if (row < m_table->rowCount()) {
        QTableWidgetItem *verdict = m_table->item(row, VerdictColumn);
        verdict->setText(failure.isEmpty() ? QStringLiteral("профиль записан") : QStringLiteral("профиль: %1").arg(failure));
        verdict->setForeground(failure.isEmpty() ? palette().color(QPalette::WindowText) : kFailureColour);
    }
    writeProfileIntoNext();
}

void BusWindow::endTest()
{
    if (!m_poller || !m_run)
        return;
    m_testTimer->stop();
    m_run->finish(m_poller->now());
    BenchTest::Report report;
    report.when = QDateTime::currentDateTime();
    report.line = m_setup.lineCaption;
    report.limits = m_run->limits();
    report.profile = m_profileName;
    const QList<Bus::Unit> &units = m_poller->units();
    for (int row = 0; row < units.size(); ++row) {
        const Bus::Unit &unit = units[row];
        BenchTest::Judgement judgement = m_run->judge(unit.address);
        if (const QString failure = m_profileFailures.value(unit.address); !failure.isEmpty()) {
            if (judgement.verdict == BenchTest::Verdict::Passed)
                judgement.verdict = BenchTest::Verdict::Failed;
            judgement.reason = QStringLiteral("профиль: %1").arg(failure)
                               + (judgement.reason.isEmpty() ? QString() : QStringLiteral("; ") + judgement.reason);
        }
        report.rows.append({unit.address, unit.name, unit.version, judgement});
        if (report.unitOfMeasure.isEmpty())
            report.unitOfMeasure = unit.unit;
        if (row >= m_table->rowCount())
            continue;
        QTableWidgetItem *verdict = m_table->item(row, VerdictColumn);
        const BenchTest::Figures &f = judgement.figures;
        const QString verdictText = BenchTest::verdictText(judgement.verdict);
        verdict->setText(judgement.passed()
                             ? QStringLiteral("%1: %2, σ %3").arg(verdictText).arg(f.mean, 0, 'f', 4).arg(f.sigma, 0, 'f', 4)
                             : QStringLiteral("%1: %2").arg(verdictText, judgement.reason));
        verdict->setToolTip(verdict->text());
        verdict->setForeground(judgement.passed() ? palette().color(QPalette::WindowText) : kFailureColour);
    }
    showStatus(QStringLiteral("Проверено: %1, годных %2, не годных %3.")
                   .arg(report.rows.size())
                   .arg(report.passes())
                   .arg(report.failures()),
               report.failures() > 0);
    m_report = report;
    updateButtons();
}

// The adapter went: a test under way has no verdict to give, each unit «не проверен», and the
// polling ends, since every exchange on a port that is gone fails at once.
void BusWindow::portLost()
{
    if (!m_holdsLine)
        return;
    const bool testing = m_run && m_testTimer->isActive();
    if (testing) {
        m_run->abort(m_poller->now());
        endTest();
    }
    stopPolling();
    showStatus(QStringLiteral("Ошибка! Адаптер %1 отключён (%2).%3")
                   .arg(m_setup.portCaption, m_setup.line.portName,
                        testing ? QStringLiteral(" Проверка прервана: приборы не проверены.") : QString()),
               true);
    updateButtons();
}

void BusWindow::saveTable()
{
    ToolFiles::saveTable(this, *m_table, QStringLiteral("приборы.csv"), {AddressColumn, ValueColumn, AgeColumn});
}

// The page to print, as HTML or as PDF by the name's suffix, and the same rows as CSV beside it
// under the same name.
void BusWindow::saveReport()
{
    if (!m_report)
        return;
    QFileDialog dialog(this, QStringLiteral("Сохранить отчёт"), ToolFiles::folderForFiles(),
                       QStringLiteral("Страницы HTML (*.html);;Документы PDF (*.pdf);;Все файлы (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("html"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString &filter) {
        dialog.setDefaultSuffix(filter.contains(QLatin1String("*.pdf")) ? QStringLiteral("pdf") : QStringLiteral("html"));
    });
    dialog.selectFile(QStringLiteral("проверка-%1.html").arg(m_report->when.toString(QStringLiteral("yyyyMMdd-HHmm"))));
    if (ModalBox::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString pagePath = dialog.selectedFiles().constFirst();
    const QFileInfo info(pagePath);
    const QString csvPath = info.dir().filePath(info.completeBaseName() + QStringLiteral(".csv"));
    const bool pdf = info.suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    const auto refuse = [this](const QString &path, const QString &reason) {
        ModalBox::warning(this, QStringLiteral("Отчёт не сохранён в файл %1:\n%2").arg(QDir::toNativeSeparators(path), reason));
    };
    if (pdf) {
        if (const QString failure = ReportPdf::write(BenchTest::html(*m_report), pagePath); !failure.isEmpty())
            return refuse(pagePath, failure);
    }
    QSaveFile page(pagePath);
    if (!pdf && page.open(QIODevice::WriteOnly)) {
        page.write(BenchTest::html(*m_report).toUtf8());
    }
    QSaveFile table(csvPath);
    if (table.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream out(&table);
        BenchTest::writeCsv(out, *m_report);
    }
    const QList<QSaveFile *> files = pdf ? QList<QSaveFile *>{&table} : QList<QSaveFile *>{&page, &table};
    for (QSaveFile *file : files) {
        if (!file->commit())
            return refuse(file->fileName(), file->errorString());
    }
    showStatus(QStringLiteral("Отчёт сохранён: %1 и %2").arg(QDir::toNativeSeparators(pagePath), QDir::toNativeSeparators(csvPath)));
}

// The port is freed first, so that the main window may open it for the unit chosen.
void BusWindow::chooseRow(int row)
{
    if (row < 0 || row >= m_table->rowCount())
        return;
    const int address = m_table->item(row, AddressColumn)->text().toInt();
    stopPolling();
    emit unitChosen(address);
    accept();
}

void BusWindow::updateButtons()
{
    const bool finding = bool(m_sweep);
    const bool testing = m_testTimer->isActive();
    m_find->setEnabled(!finding && !testing);
    m_addresses->setEnabled(!finding && !testing);
    for (QSpinBox *field : {m_seconds, m_longest, m_minReadings})
        field->setEnabled(!testing);
    m_allowance->setEnabled(!finding && !testing);
    m_test->setEnabled(!finding && !testing && m_poller);
    m_profileTest->setEnabled(!finding && !testing && m_poller);
    m_saveReport->setEnabled(m_report.has_value() && !testing);
    m_saveTable->setEnabled(!finding);
}

void BusWindow::showStatus(const QString &text, bool failure)
{
    m_status->setText(text);
    setTextColour(m_status, failure ? kFailureColour : palette().color(QPalette::WindowText));
}

void BusWindow::done(int result)
{
    if (m_sweep)
        m_sweep->stop();
    m_sweep.reset();
    stopPolling();
    QDialog::done(result);
}
