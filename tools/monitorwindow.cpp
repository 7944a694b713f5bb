#include "monitorwindow.h"

#include "controls.h"
#include "exchangelog.h"
#include "handlers.h"
#include "modalbox.h"
#include "session.h"
#include "windowplacement.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr QSize kInitialSize(1120, 420);
// Time, slave, function and most of what was asked for, and a dozen rows.
constexpr QSize kSmallestUsefulSize(480, 200);
constexpr int kRowPadding = 4; // above and below the text of a row, together

// Widths that fit each column's usual text, so that no column is sized by measuring 10 000 rows.
constexpr int kColumnWidths[ExchangeLog::ColumnCount] = {90, 45, 60, 290, 185, 185, 40, 180};

} // namespace

MonitorWindow::MonitorWindow(Session &session, QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_session(&session),
      m_log(new ExchangeLog(this)),
      m_shown(new QSortFilterProxyModel(this)),
      m_table(new QTableView(this)),
      m_pause(new QPushButton(QStringLiteral("Пауза"), this)),
      m_clear(new QPushButton(QStringLiteral("Очистить"), this)),
      m_onlyErrors(new QCheckBox(QStringLiteral("только ошибки"), this)),
      m_copy(new QPushButton(QStringLiteral("Копировать"), this)),
      m_save(new QPushButton(QStringLiteral("Сохранить..."), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmMonitor"));
    setWindowTitle(QStringLiteral("Монитор обмена"));
    setUpControls();
    connectControls();
    session.setObserver([this](const ExchangeRecord &exchange) { record(exchange); });
}

MonitorWindow::~MonitorWindow()
{
    stopWatching();
}

void MonitorWindow::stopWatching()
{
    if (m_session)
        m_session->setObserver({});
    m_session = nullptr;
}

void MonitorWindow::record(const ExchangeRecord &exchange)
{
    if (!m_pause->isChecked())
        m_log->add(exchange);
}

void MonitorWindow::closeEvent(QCloseEvent *event)
{
    emit closing(frameGeometry());
    stopWatching();
    QWidget::closeEvent(event);
}

void MonitorWindow::setUpControls()
{
    m_pause->setObjectName(QStringLiteral("btnMonitorPause"));
    m_pause->setCheckable(true);
    m_clear->setObjectName(QStringLiteral("btnMonitorClear"));
    m_onlyErrors->setObjectName(QStringLiteral("checkMonitorOnlyErrors"));
    m_copy->setObjectName(QStringLiteral("btnMonitorCopy"));
    m_save->setObjectName(QStringLiteral("btnMonitorSave"));

    m_shown->setSourceModel(m_log);
    m_shown->setFilterRole(ExchangeLog::AnomalyRole);
    m_table->setObjectName(QStringLiteral("tblMonitor"));
    m_table->setModel(m_shown);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + kRowPadding);
    for (int column = 0; column < ExchangeLog::ColumnCount; ++column)
        m_table->setColumnWidth(column, kColumnWidths[column]);
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto *buttons = new QHBoxLayout;
    for (QWidget *control : std::initializer_list<QWidget *>{m_pause, m_clear, m_onlyErrors, m_copy, m_save})
        buttons->addWidget(control);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_table);
    resize(kInitialSize);
}

void MonitorWindow::connectControls()
{
    using Handlers::connect;
    connect(m_clear, &QPushButton::clicked, this, [this] { m_log->clear(); });
    connect(m_onlyErrors, &QCheckBox::toggled, this, &MonitorWindow::showOnlyErrors);
    connect(m_copy, &QPushButton::clicked, this, &MonitorWindow::copySelectedRows);
    connect(m_save, &QPushButton::clicked, this, &MonitorWindow::saveAll);
    connect(new QShortcut(QKeySequence::Copy, m_table), &QShortcut::activated, this,
            &MonitorWindow::copySelectedRows);
    followNewRows(m_table, m_shown);
}

void MonitorWindow::place(const QRect &mainFrame, int toolBarBottom, const std::optional<QRect> &lastFrame)
{
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    const QRect free = screen->availableGeometry();
    setFrame(lastFrame ? keptOnScreen(*lastFrame, free)
                       : toolWindowPlacement(free, mainFrame, toolBarBottom, kInitialSize, kSmallestUsefulSize));
}

// The decorations are the window manager's: what they add to the size is known once shown.
void MonitorWindow::setFrame(const QRect &frame)
{
    const QSize decorations = frameGeometry().size() - size();
    resize(frame.size() - decorations);
    move(frame.topLeft());
}

// Only the failed exchanges, the discarded input and other units' frames, whose AnomalyRole
// reads "true".
void MonitorWindow::showOnlyErrors(bool only)
{
    m_shown->setFilterFixedString(only ? QStringLiteral("true") : QString());
}

void MonitorWindow::copySelectedRows()
{
    QList<int> rows;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        rows << m_shown->mapToSource(index).row();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (int row : rows)
        lines << m_log->line(row);
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void MonitorWindow::saveAll()
{
    m_log->flush();
    QFileDialog dialog(this, QStringLiteral("Сохранить журнал обмена"), QDir::homePath(),
                       QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QStringLiteral("обмен.txt"));
    if (ModalBox::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    QString reason;
    if (!writeAll(path, &reason))
        ModalBox::warning(this, QStringLiteral("Не удалось сохранить журнал в файл %1:\n%2")
                                    .arg(QDir::toNativeSeparators(path), reason));
}

// All the rows held, shown or filtered out, one line each.
bool MonitorWindow::writeAll(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    for (int row = 0; row < m_log->rowCount(); ++row)
        file.write(m_log->line(row).toUtf8() + '\n');
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
