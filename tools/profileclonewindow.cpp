#include "profilewindows.h"

#include "addresslist.h"
#include "modalbox.h"
#include "toolfiles.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr QSize kCloneSize(700, 480);

} // namespace

ProfileCloneWindow::ProfileCloneWindow(Session &session, const Profiles::Origin &origin, QWidget *parent)
    : ProfileWindow(session, origin, parent),
      m_addresses(new QLineEdit(this)),
      m_lineSettings(new QCheckBox(QStringLiteral("и параметры линии: вступят в силу после перезапуска прибора"), this)),
      m_all(new QPushButton(QStringLiteral("Записать во все"), this)),
      m_next(new QPushButton(QStringLiteral("Следующий"), this)),
      m_saveTable(new QPushButton(QStringLiteral("Сохранить CSV…"), this)),
      m_table(newTable("tblClone", {QStringLiteral("Адрес"), QStringLiteral("Имя"), QStringLiteral("Версия"),
                                    QStringLiteral("Итог"), QStringLiteral("Время, мс")}))
{
    setObjectName(QStringLiteral("frmProfileClone"));
    setWindowTitle(QStringLiteral("Тиражирование"));
    m_addresses->setObjectName(QStringLiteral("edtCloneAddresses"));
    m_addresses->setPlaceholderText(QStringLiteral("1-5, 7"));
    m_lineSettings->setObjectName(QStringLiteral("checkCloneLineSettings"));
    m_all->setObjectName(QStringLiteral("btnCloneAll"));
    m_next->setObjectName(QStringLiteral("btnCloneNext"));
    m_saveTable->setObjectName(QStringLiteral("btnCloneSave"));
    m_table->setColumnWidth(AddressColumn, 60);
    m_table->setColumnWidth(NameColumn, 170);
    m_table->setColumnWidth(VersionColumn, 120);
    // The result takes the width left, and a result too long for it shows whole in its tool tip.
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->horizontalHeader()->setSectionResizeMode(ResultColumn, QHeaderView::Stretch);
    m_table->setColumnWidth(TimeColumn, 90);

    auto *list = new QHBoxLayout;
    list->addWidget(new QLabel(QStringLiteral("Адреса:"), this));
    list->addWidget(m_addresses, 1);
    list->addWidget(m_all);
    auto *bench = new QHBoxLayout;
    bench->addWidget(new QLabel(QStringLiteral("Или по одному на стенде, по адресу профиля:"), this));
    bench->addWidget(m_next);
    bench->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_saveTable);
    buttons->addStretch();
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(list);
    layout->addLayout(bench);
    layout->addWidget(m_lineSettings);
    layout->addWidget(m_table);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(kCloneSize);
    connect(m_all, &QPushButton::clicked, this, &ProfileCloneWindow::cloneAll);
    connect(m_next, &QPushButton::clicked, this, &ProfileCloneWindow::cloneNext);
    connect(m_saveTable, &QPushButton::clicked, this, &ProfileCloneWindow::saveTable);
    setState(State::Ready);
}

bool ProfileCloneWindow::start()
{
    QString path;
    std::optional<Profiles::DeviceProfile> file = chooseProfile(&path);
    if (!file)
        return false;
    m_file = *file;
    m_cloning = new ProfileCloning(
        m_session, m_file, [this](const QString &question) { return ModalBox::question(this, question); }, this);
    connect(m_cloning, &ProfileCloning::reading, this, &ProfileCloneWindow::followReading);
    connect(m_cloning, &ProfileCloning::writing, this, [this](ProfileWriter *writer) {
        showStatus(QStringLiteral("Запись в прибор по адресу %1…").arg(m_unitAddress));
        followWriting(writer);
    });
    connect(m_cloning, &ProfileCloning::ended, this, &ProfileCloneWindow::showUnit);
    const QList<ProfileWriter::Refusal> refused = ProfileWriter::refusals(m_file);
    if (!refused.isEmpty()) {
        showStatus(QStringLiteral("Профиль нельзя записать: %1: %2").arg(refused.first().key, refused.first().reason), true);
        setState(State::Refused);
    }
    setWindowTitle(QStringLiteral("Тиражирование %1").arg(QFileInfo(path).fileName()));
    m_next->setText(QStringLiteral("Следующий (адрес %1)").arg(m_file.origin.address));
    return true;
}

// A reply that comes after the window closed finds nobody, as for the other profile windows.
void ProfileCloneWindow::done(int result)
{
    if (m_cloning)
        m_cloning->cancel();
    ProfileWindow::done(result);
}

void ProfileCloneWindow::setState(State state)
{
    m_all->setEnabled(state == State::Ready);
    m_next->setEnabled(state == State::Ready);
    for (QWidget *control : std::initializer_list<QWidget *>{m_addresses, m_lineSettings, m_saveTable})
        control->setEnabled(state != State::Writing);
}

void ProfileCloneWindow::cloneAll()
{
    QString why;
    const QList<quint8> addresses = AddressList::parse(m_addresses->text(), &why);
    if (addresses.isEmpty()) {
        showStatus(QStringLiteral("Адреса: %1.").arg(why), true);
        return;
    }
    cloneInto({addresses.begin(), addresses.end()});
}

void ProfileCloneWindow::cloneNext()
{
    cloneInto({m_file.origin.address});
}

void ProfileCloneWindow::cloneInto(const QList<int> &addresses)
{
    m_waiting = addresses;
    writeNextUnit();
}

void ProfileCloneWindow::writeNextUnit()
{
    if (m_waiting.isEmpty()) {
        setState(State::Ready);
        showStatus(QStringLiteral("Готово: приборов %1.").arg(m_table->rowCount()));
        return;
    }
    setState(State::Writing);
    m_unitAddress = m_waiting.takeFirst();
    m_unitClock.start();
    Profiles::Origin unit = m_origin;
    unit.address = quint16(m_unitAddress);
    ProfileWriter::Options options;
    options.withLineSettings = m_lineSettings->isChecked();
    m_cloning->writeInto(unit, options);
}

// The unit's row, and on to the next. A unit that took the profile shows the profile's name.
void ProfileCloneWindow::showUnit()
{
    const Profiles::Identity read = m_cloning->reader()->profile().identity;
    switch (m_cloning->outcome()) {
    case ProfileCloning::Outcome::NotRead:
        addRow(m_unitAddress, read, failedReading(*m_cloning->reader()), true);
        break;
    case ProfileCloning::Outcome::OtherVersion:
        addRow(m_unitAddress, read, QStringLiteral("другая версия программы: не записано"), true);
        break;
    case ProfileCloning::Outcome::Written: {
        const ProfileWriter &writer = *m_cloning->writer();
        const bool failed = !writer.backupError().isEmpty() || !writer.allConfirmed();
        Profiles::Identity identity = read;
        if (!failed)
            identity.name = m_file.values.value(QStringLiteral("info.name"), identity.name).toString();
        addRow(m_unitAddress, identity, writer.summary(), failed);
        break;
    }
    }
    writeNextUnit();
}

void ProfileCloneWindow::addRow(int address, const Profiles::Identity &identity, const QString &result, bool failed)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setItem(row, AddressColumn, cell(QString::number(address)));
    m_table->setItem(row, NameColumn, cell(identity.name));
    m_table->setItem(row, VersionColumn, cell(identity.version));
    m_table->setItem(row, ResultColumn, cell(result, failed));
    m_table->setItem(row, TimeColumn, cell(QString::number(m_unitClock.elapsed())));
    m_table->scrollToBottom();
}

// The address and the time are numbers; the rest is text, the device's name among it.
void ProfileCloneWindow::saveTable()
{
    ToolFiles::saveTable(this, *m_table->model(), QStringLiteral("тиражирование.csv"), {AddressColumn, TimeColumn});
}
