#include "profilewindows.h"

#include "controls.h"
#include "heldsteps.h"
#include "modalbox.h"
#include "session.h"
#include "toolfiles.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>


namespace {

constexpr QSize kCompareSize(840, 600);
constexpr int kRowPadding = 6; // above and below the text of a row, together
constexpr char kProfileFilter[] = "Профили прибора (*.json);;Все файлы (*)";

QString valueOrNothing(const Catalogue::Parameter &parameter, const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("—");
    const QString text = Catalogue::valueText(parameter, value);
    const QString caption = parameter.kind == Catalogue::Kind::Code ? parameter.codeCaption(value.toLongLong()) : QString();
    return caption.isEmpty() || caption == text ? text : QStringLiteral("%1 (%2)").arg(text, caption);
}

QString refusalLines(const QList<ProfileWriter::Refusal> &refused)
{
    QStringList lines;
    for (const ProfileWriter::Refusal &refusal : refused)
        lines << QStringLiteral("%1: %2").arg(refusal.key, refusal.reason);
    return lines.join(u'\n');
}

} // namespace

// ---- The common part ----

QTableWidgetItem *ProfileWindow::cell(const QString &text, bool marked)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    item->setToolTip(text); // the whole text of a cell cut short
    if (marked) {
        item->setForeground(kFailureColour);
        QFont font = item->font();
        font.setBold(true);
        item->setFont(font);
    }
    return item;
}

QString ProfileWindow::failedReading(const ProfileReader &reader)
{
    QStringList captions;
    for (const ProfileReader::Failure &failure : reader.failures())
        captions << failure.parameter->caption;
    return QStringLiteral("Не прочитано (%1): %2.").arg(reader.failures().constFirst().text, captions.join(QStringLiteral(", ")));
}

QTableWidget *ProfileWindow::newTable(const char *name, const QStringList &headers)
{
    auto *table = new QTableWidget(0, int(headers.size()), this);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + kRowPadding);
    table->setWordWrap(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

ProfileWindow::ProfileWindow(Session &session, const Profiles::Origin &origin, QWidget *parent)
    : QDialog(parent),
      m_session(session),
      m_origin(origin),
      m_status(new QLabel(this)),
      m_progress(new QProgressBar(this)),
      m_close(new QPushButton(QStringLiteral("Закрыть"), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    m_status->setObjectName(QStringLiteral("lblProfileStatus"));
    m_status->setWordWrap(true);
    m_progress->setObjectName(QStringLiteral("pbProfile"));
    m_close->setObjectName(QStringLiteral("btnProfileClose"));
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
}

// A reply that comes after the window closed finds nobody: the window is going, and what it
// asked of the line is forgotten now rather than when it is deleted.
void ProfileWindow::done(int result)
{
    if (m_reader)
        m_reader->cancel();
    if (m_writer)
        m_writer->cancel();
    QDialog::done(result);
}

std::optional<Profiles::DeviceProfile> ProfileWindow::chooseProfile(QString *path)
{
    return ToolFiles::chooseProfile(this, path);
}

void ProfileWindow::readDevice(const std::function<void(const ProfileReader &)> &done)
{
    Profiles::replaceHeld(m_reader, new ProfileReader(m_session, m_origin, this));
    ProfileReader *reader = m_reader;
    followReading(reader);
    connect(reader, &ProfileReader::ended, this, [reader, done] { done(*reader); });
    reader->start();
}

void ProfileWindow::writeDevice(ProfileWriter *writer, const std::function<void(const ProfileWriter::Result &)> &stepDone,
                                const std::function<void()> &ended)
{
    connect(writer, &ProfileWriter::stepDone, this, stepDone); // before the progress moves on
    followWriting(writer);
    connect(writer, &ProfileWriter::ended, this, ended);
    writer->start();
}

void ProfileWindow::followReading(ProfileReader *reader)
{
    m_progress->setRange(0, int(reader->total()));
    m_progress->setValue(0);
    showStatus(QStringLiteral("Чтение прибора…"));
    connect(reader, &ProfileReader::stepDone, this, [this, reader] { m_progress->setValue(int(reader->done())); });
}

void ProfileWindow::followWriting(ProfileWriter *writer)
{
    m_progress->setRange(0, int(writer->total()));
    m_progress->setValue(0);
    connect(writer, &ProfileWriter::stepDone, this, [this, writer] { m_progress->setValue(int(writer->done())); });
}

void ProfileWindow::showStatus(const QString &text, bool failure)
{
    m_status->setText(text);
    setTextColour(m_status, failure ? kFailureColour : palette().color(QPalette::WindowText));
}

// ---- Save ----

ProfileSaveWindow::ProfileSaveWindow(Session &session, const Profiles::Origin &origin, QWidget *parent)
    : ProfileWindow(session, origin, parent)
{
    setObjectName(QStringLiteral("frmProfileSave"));
    setWindowTitle(QStringLiteral("Сохранить настройки прибора"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addWidget(m_close, 0, Qt::AlignRight);
    resize(440, sizeHint().height());
}

bool ProfileSaveWindow::start()
{
    readDevice([this](const ProfileReader &reader) { save(reader); });
    return true;
}

void ProfileSaveWindow::save(const ProfileReader &reader)
{
    if (!reader.complete()) {
        showStatus(failedReading(reader) + QStringLiteral(" Файл не сохранён."), true);
        return;
    }
    const Profiles::DeviceProfile profile = reader.profile();
    QFileDialog dialog(this, QStringLiteral("Сохранить настройки прибора"), ToolFiles::folderForFiles(),
                       QString::fromUtf8(kProfileFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("json"));
    dialog.selectFile(Profiles::suggestedFileName(profile));
    if (ModalBox::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        showStatus(QStringLiteral("Прибор прочитан; файл не сохранён."));
        return;
    }
    const QString path = dialog.selectedFiles().constFirst();
    QString error;
    if (!Profiles::save(profile, path, &error)) {
        showStatus(QStringLiteral("Файл %1 не сохранён: %2").arg(QDir::toNativeSeparators(path), error), true);
        return;
    }
    showStatus(QStringLiteral("Сохранено: %1").arg(QDir::toNativeSeparators(path)));
}

// ---- Compare and write ----

ProfileCompareWindow::ProfileCompareWindow(Session &session, const Profiles::Origin &origin, QWidget *parent)
    : ProfileWindow(session, origin, parent),
      m_identity(new QLabel(this)),
      m_table(newTable("tblProfile", {QStringLiteral("Параметр"), QStringLiteral("В приборе"), QStringLiteral("В файле"),
                                      QStringLiteral("Итог")})),
      m_lineSettings(new QCheckBox(
          QStringLiteral("и параметры линии (адрес, скорость, стоп-биты, паритет): вступят в силу после перезапуска прибора"),
          this)),
      m_write(new QPushButton(QStringLiteral("Записать отличия"), this))
{
    setObjectName(QStringLiteral("frmProfileCompare"));
    setWindowTitle(QStringLiteral("Сравнить с файлом"));
    m_identity->setObjectName(QStringLiteral("lblProfileIdentity"));
    m_identity->setWordWrap(true);
    m_lineSettings->setObjectName(QStringLiteral("checkProfileLineSettings"));
    m_write->setObjectName(QStringLiteral("btnProfileWrite"));
    setState(State::Reading);
    m_table->setColumnWidth(ParameterColumn, 250);
    m_table->setColumnWidth(DeviceColumn, 215);
    m_table->setColumnWidth(FileColumn, 215);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_write);
    buttons->addStretch();
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_identity);
    layout->addWidget(m_table);
    layout->addWidget(m_lineSettings);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(kCompareSize);
    connect(m_write, &QPushButton::clicked, this, &ProfileCompareWindow::writeDifferences);
    connect(m_lineSettings, &QCheckBox::toggled, this, [this] {
        if (m_state != State::Reading)
            showComparison(*m_reader);
    });
}

bool ProfileCompareWindow::start()
{
    QString path;
    std::optional<Profiles::DeviceProfile> file = chooseProfile(&path);
    if (!file)
        return false;
    m_file = *file;
    m_filePath = path;
    setWindowTitle(QStringLiteral("Сравнить с файлом %1").arg(QFileInfo(path).fileName()));
    readDevice([this](const ProfileReader &reader) { showComparison(reader); });
    return true;
}

// A row per parameter the profile keeps; the device's values that could not be read show as «—».
void ProfileCompareWindow::showComparison(const ProfileReader &reader)
{
    m_device = reader.profile();
    const Profiles::Comparison comparison = Profiles::compare(*m_device, m_file);
    m_table->setRowCount(int(comparison.rows.size()));
    for (int row = 0; row < comparison.rows.size(); ++row) {
        const Profiles::ComparisonRow &line = comparison.rows[row];
        m_table->setItem(row, ParameterColumn, cell(line.parameter->caption, line.differs));
        m_table->setItem(row, DeviceColumn, cell(valueOrNothing(*line.parameter, line.device), line.differs));
        m_table->setItem(row, FileColumn, cell(valueOrNothing(*line.parameter, line.file), line.differs));
        m_table->setItem(row, ResultColumn, cell(line.differs ? QStringLiteral("отличается") : QString(), line.differs));
    }
    const QString identity = comparison.identity.isEmpty()
                                 ? QStringLiteral("Прибор: %1, %2, как в файле.").arg(m_device->identity.name,
                                                                                      m_device->identity.version)
                                 : QStringLiteral("Другой прибор: %1.").arg(comparison.identity.join(QStringLiteral("; ")));
    m_identity->setText(identity);
    setTextColour(m_identity, comparison.identity.isEmpty() ? palette().color(QPalette::WindowText) : kFailureColour);
    if (!reader.complete()) {
        showStatus(failedReading(reader), true);
        setState(State::NotRead);
        return;
    }
    showStatus(QStringLiteral("Отличий: %1").arg(comparison.differing()), comparison.differing() > 0);
    setState(comparison.differing() > 0 ? State::Differs : State::Same);
}

// The line settings' box changes what is written, so it stays as it is from the writing on.
void ProfileCompareWindow::setState(State state)
{
    m_state = state;
    m_write->setEnabled(state == State::Differs);
    m_lineSettings->setEnabled(state != State::Writing && state != State::Written);
}

// Judged whole before anything is sent: a file the window would refuse writes nothing.
void ProfileCompareWindow::writeDifferences()
{
    ProfileWriter::Options options;
    options.withLineSettings = m_lineSettings->isChecked();
    // A backup goes back as the device held it. Another file that only the rules of what the
    // digits show refuse (a device may hold such values, written by another tool) is the
    // user's to decide, as a file of another device is.
    options.waiveDisplayRules = ProfileWriter::isBackup(m_filePath, options);
    const QList<ProfileWriter::Refusal> refused = ProfileWriter::refusals(m_file);
    if (!options.waiveDisplayRules && !refused.isEmpty() && ProfileWriter::refusals(m_file, true).isEmpty()) {
        const QString text = QStringLiteral("Окно не дало бы ввести эти значения файла:\n%1\n\nЗаписать их в прибор как есть?")
                                 .arg(refusalLines(refused));
        if (!ModalBox::question(this, text))
            return;
        options.waiveDisplayRules = true;
    }
    Profiles::replaceHeld(m_writer, new ProfileWriter(m_session, m_file, *m_device, options, this));
    if (!m_writer->refused().isEmpty()) {
        ModalBox::warning(this, QStringLiteral("Ничего не записано: файл содержит значения, которые прибору не передать.\n")
                                    + refusalLines(m_writer->refused()));
        return;
    }
    if (!m_writer->identityDifferences().isEmpty()) {
        const QString text = QStringLiteral("Файл прочитан с другого прибора:\n%1\n\nЗаписать его значения в этот прибор?")
                                 .arg(m_writer->identityDifferences().join(u'\n'));
        if (!ModalBox::question(this, text))
            return;
        m_writer->confirmIdentity();
    }
    setState(State::Writing);
    showStatus(QStringLiteral("Запись…"));
    writeDevice(m_writer, [this](const ProfileWriter::Result &result) { showResult(result); },
                [this] { finishWriting(); });
}

void ProfileCompareWindow::showResult(const ProfileWriter::Result &result)
{
    const int row = rowOf(result.parameter);
    if (row < 0)
        return;
    const bool confirmed = result.outcome == ProfileWriter::Outcome::Confirmed;
    m_table->setItem(row, ResultColumn, cell(result.text, !confirmed));
    if (confirmed)
        m_table->setItem(row, DeviceColumn, cell(valueOrNothing(*result.parameter, result.readBack)));
}

void ProfileCompareWindow::finishWriting()
{
    int confirmed = 0;
    for (const ProfileWriter::Result &result : m_writer->results())
        confirmed += result.outcome == ProfileWriter::Outcome::Confirmed;
    QString text = QStringLiteral("Записано и подтверждено: %1 из %2.").arg(confirmed).arg(m_writer->total());
    if (!m_writer->backupPath().isEmpty())
        text += QStringLiteral(" Прежние настройки прибора: %1").arg(QDir::toNativeSeparators(m_writer->backupPath()));
    if (!m_writer->backupError().isEmpty())
        text = QStringLiteral("Ничего не записано: прежние настройки не сохранены (%1).").arg(m_writer->backupError());
    showStatus(text, !m_writer->allConfirmed());
    setState(State::Written);
}

int ProfileCompareWindow::rowOf(const Catalogue::Parameter *parameter) const
{
    const QList<const Catalogue::Parameter *> &kept = Profiles::keptParameters();
    return int(kept.indexOf(parameter));
}
