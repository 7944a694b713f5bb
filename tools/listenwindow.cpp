#include "listenwindow.h"

#include "adapter.h"
#include "controls.h"
#include "handlers.h"
#include "heardlog.h"
#include "linecapture.h"
#include "modalbox.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

using State = BackgroundListener::State;

// Fits a 1366×768 screen: the decoded column takes a write of the top range with its old and
// new value, or a read met by a broken reply; the hex columns a frame of a dozen bytes.
constexpr QSize kInitialSize(1180, 660);
constexpr int kRowPadding = 4; // above and below the text of a row, together
constexpr int kColumnWidths[HeardLog::ColumnCount] = {90, 50, 560, 180, 180, 50};
constexpr int kExchangesStretch = 3; // of the splitter, against the counts' 1

enum CountColumn { AddressColumn, Requests, Replies, Timeouts, CrcErrors, Fastest, Mean, Slowest, CountColumns };

const QString kPcapFilter = QStringLiteral("Wireshark, pcap (*.pcap)");
const QString kJsonFilter = QStringLiteral("Строки JSON (*.jsonl)");

void compactRows(QTableView *table)
{
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + kRowPadding);
}

QString milliseconds(qint64 microseconds)
{
    return RegionalNumber::text(double(microseconds) / 1000, 1);
}

} // namespace

ListenWindow::ListenWindow(const Setup &setup, QWidget *parent)
    : QDialog(parent),
      m_setup(setup),
      m_log(new HeardLog(this)),
      m_line(new QLabel(this)),
      m_status(new QLabel(this)),
      m_start(new QPushButton(QStringLiteral("Слушать"), this)),
      m_stop(new QPushButton(QStringLiteral("Остановить"), this)),
      m_save(new QPushButton(QStringLiteral("Сохранить…"), this)),
      m_close(new QPushButton(QStringLiteral("Закрыть"), this)),
      m_exchanges(new QTableView(this)),
      m_counts(new QTableWidget(0, CountColumns, this)),
      m_totals(new QLabel(this))
{
    setObjectName(QStringLiteral("frmListen"));
    setWindowTitle(QStringLiteral("Слушать линию"));
    setUpControls();
    connectControls();
    showCaptureSize(0);
    applyState();
    if (!passesLine()) {
        m_status->setText(QStringLiteral("Ошибка! Порт %1 ведёт к шлюзу Modbus TCP (%2): шлюз передаёт только "
                                         "ответы на свои запросы, а не обмен на линии. Слушать нечего.")
                              .arg(m_setup.portCaption, m_setup.line.portName));
        setTextColour(m_status, kFailureColour);
    }
}

bool ListenWindow::passesLine() const
{
    return CAdapter::abilitiesOf(m_setup.line.portName).passesLine;
}

ListenWindow::~ListenWindow() = default;

void ListenWindow::setUpControls()
{
    m_line->setObjectName(QStringLiteral("lblListenLine"));
    m_line->setText(QStringLiteral("Порт %1 (%2), %3. Прослушивание ничего не передаёт в линию.")
                        .arg(m_setup.portCaption, m_setup.line.portName, m_setup.lineCaption));
    m_line->setTextFormat(Qt::PlainText);
    m_status->setObjectName(QStringLiteral("lblListenState"));
    m_status->setTextFormat(Qt::PlainText);
    m_totals->setObjectName(QStringLiteral("lblListenTotals"));
    m_start->setObjectName(QStringLiteral("btnListenStart"));
    m_stop->setObjectName(QStringLiteral("btnListenStop"));
    m_save->setObjectName(QStringLiteral("btnListenSave"));
    m_close->setObjectName(QStringLiteral("btnListenClose"));
    m_start->setDefault(true);

    m_exchanges->setObjectName(QStringLiteral("tblListenExchanges"));
    m_exchanges->setModel(m_log);
    m_exchanges->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_exchanges->setWordWrap(false);
    compactRows(m_exchanges);
    for (int column = 0; column < HeardLog::ColumnCount; ++column)
        m_exchanges->setColumnWidth(column, kColumnWidths[column]);
    m_exchanges->horizontalHeader()->setStretchLastSection(true);

    m_counts->setObjectName(QStringLiteral("tblListenCounts"));
    m_counts->setHorizontalHeaderLabels({QStringLiteral("Адрес"), QStringLiteral("Запросов"), QStringLiteral("Ответов"),
                                         QStringLiteral("Тайм-аутов"), QStringLiteral("Ошибок CRC"),
                                         QStringLiteral("Ответ, мс: мин."), QStringLiteral("сред."),
                                         QStringLiteral("макс.")});
    m_counts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    compactRows(m_counts);
    m_counts->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {m_start, m_stop, m_save})
        buttons->addWidget(button);
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_close);
    auto *tables = new QSplitter(Qt::Vertical, this);
    tables->addWidget(m_exchanges);
    tables->addWidget(m_counts);
    tables->setStretchFactor(0, kExchangesStretch);
    tables->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_line);
    layout->addLayout(buttons);
    layout->addWidget(tables, 1);
    layout->addWidget(m_totals);
    resize(kInitialSize);
}

void ListenWindow::connectControls()
{
    using Handlers::connect;
    connect(m_start, &QPushButton::clicked, this, &ListenWindow::startListening);
    connect(m_stop, &QPushButton::clicked, this, &ListenWindow::stopListening);
    connect(m_save, &QPushButton::clicked, this, &ListenWindow::saveCapture);
    connect(m_close, &QPushButton::clicked, this, &ListenWindow::reject);
    connect(&m_listener, &BackgroundListener::arrived, this, &ListenWindow::takeHeard);
    followNewRows(m_exchanges, m_log);
}

// Each hearing starts afresh: its table, counts and capture are of one stretch of the line.
void ListenWindow::startListening()
{
    m_log->clear();
    m_counts->setRowCount(0);
    showCaptureSize(0);
    m_listener.start(m_setup.line);
    m_state = State::Opening;
    m_status->setText(QStringLiteral("Открывается порт %1…").arg(m_setup.portCaption));
    setTextColour(m_status, palette().color(QPalette::WindowText));
    applyState();
}

void ListenWindow::stopListening()
{
    m_listener.stop();
    takeHeard();
}

void ListenWindow::takeHeard()
{
    const BackgroundListener::Heard heard = m_listener.take();
    m_log->add(heard.events, heard.records);
    showCounts(heard);
    showCaptureSize(heard.unframedBytes);
    showState(heard);
    applyState();
}

void ListenWindow::showState(const BackgroundListener::Heard &heard)
{
    if (heard.state == m_state)
        return;
    m_state = heard.state;
    bool failed = false;
    switch (m_state) {
    case State::Idle:
    case State::Opening:
        return;
    case State::Listening:
        m_status->setText(QStringLiteral("Слушает линию"));
        break;
    case State::NotOpened:
        m_status->setText(QStringLiteral("Ошибка! Порт %1 не открыт: %2").arg(m_setup.portCaption, heard.failure));
        failed = true;
        break;
    case State::Lost:
        m_status->setText(QStringLiteral("Ошибка! Адаптер %1 отключён (%2)").arg(m_setup.portCaption, m_setup.line.portName));
        failed = true;
        break;
    case State::Stopped:
        m_status->setText(QStringLiteral("Остановлено"));
        break;
    }
    setTextColour(m_status, failed ? kFailureColour : palette().color(QPalette::WindowText));
    // A hearing that ended by itself leaves its thread finished: it is let go here.
    if (m_state != State::Listening)
        m_listener.stop();
}

void ListenWindow::showCounts(const BackgroundListener::Heard &heard)
{
    m_counts->setRowCount(int(heard.counts.size()));
    int row = 0;
    for (const auto &[address, counts] : heard.counts) {
        const bool timed = counts.timed > 0;
        const QString cells[CountColumns] = {
            QString::number(address),
            QString::number(counts.requests),
            QString::number(counts.replies),
            QString::number(counts.timeouts),
            QString::number(counts.crcErrors),
            timed ? milliseconds(counts.fastestUs) : QString(),
            timed ? milliseconds(counts.meanUs()) : QString(),
            timed ? milliseconds(counts.slowestUs) : QString(),
        };
        for (int column = 0; column < CountColumns; ++column) {
            QTableWidgetItem *item = m_counts->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                m_counts->setItem(row, column, item);
            }
            item->setText(cells[column]);
        }
        ++row;
    }
}

void ListenWindow::showCaptureSize(qint64 unframedBytes)
{
    const int frames = m_log->captureSize();
    QString text = QStringLiteral("Байт вне кадров: %1. Кадров в записи: %2").arg(unframedBytes).arg(frames);
    if (m_log->captureCut())
        text += QStringLiteral(" (последние %1)").arg(m_log->frameCapacity());
    m_totals->setText(text);
}

void ListenWindow::applyState()
{
    const bool hearing = m_state == State::Opening || m_state == State::Listening;
    m_start->setEnabled(!hearing && passesLine());
    m_stop->setEnabled(hearing);
    m_save->setEnabled(m_log->captureSize() > 0);
}

// The format is the filter's: a name typed without its suffix gets the filter's.
void ListenWindow::saveCapture()
{
    QFileDialog dialog(this, QStringLiteral("Сохранить запись линии"), QDir::homePath(),
                       kPcapFilter + QStringLiteral(";;") + kJsonFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pcap"));
    dialog.selectFile(QStringLiteral("линия.pcap"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString &filter) {
        dialog.setDefaultSuffix(filter == kPcapFilter ? QStringLiteral("pcap") : QStringLiteral("jsonl"));
    });
    if (ModalBox::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    const LineCapture::Format format =
        dialog.selectedNameFilter() == kJsonFilter ? LineCapture::Format::JsonLines : LineCapture::Format::Pcap;
    QString reason;
    if (!LineCapture::save(path, format, m_log->capture(), &reason))
        ModalBox::warning(this, QStringLiteral("Не удалось сохранить запись линии в файл %1:\n%2")
                                    .arg(QDir::toNativeSeparators(path), reason));
}

// Closing lets go of the port at once.
void ListenWindow::done(int result)
{
    m_listener.stop();
    QDialog::done(result);
}
