#include "trendpanel.h"

#include "csvwriter.h"
#include "modalbox.h"
#include "trendview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include <cmath>

namespace {

struct WindowChoice
{
    const char *caption;
    qint64 ms; // 0: all
};
constexpr WindowChoice kWindows[] = {
    {"1 мин", 60 * 1000}, {"10 мин", 10 * 60 * 1000}, {"1 ч", 60 * 60 * 1000}, {"всё", 0}};
constexpr int kDefaultWindow = 1;
// The figures' column beside the plot: wide enough for "σ 0,00123 (0,012 %)".
constexpr int kFiguresWidth = 140;
// The row of controls fits the page's 565 pixels: a range edit holds "-1234,567".
constexpr int kRangeEditWidth = 56;
constexpr int kControlSpacing = 4;
constexpr int kFiguresPoints = 7;
// Six significant digits: more than the device's display has.
constexpr int kDigits = 6;
constexpr double kLargestRange = 1e9;

// Polls further apart than this were not polled in between (the page was left, the connection
// stopped): the line breaks there rather than draw a straight run over the time nobody looked.
// A poll of three silent reads at 1200 baud takes about a second and a half.
constexpr qint64 kUnwatchedMs = 5000;

const QString kCsvFilter = QStringLiteral("CSV (*.csv)");
const QString kPngFilter = QStringLiteral("PNG (*.png)");

QString number(double value)
{
    return std::isnan(value) ? QStringLiteral("—") : QLocale().toString(value, 'g', kDigits);
}

QString timeOfDay(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

// The value the series holds nearest to ms, or NaN where there is none.
double valueAt(const TrendSeries &series, qint64 ms)
{
    double nearest = TrendSeries::kGap;
    qint64 distance = std::numeric_limits<qint64>::max();
    for (const TrendSeries::Point &point : series.points(ms, ms)) {
        if (!std::isnan(point.value) && qAbs(point.ms - ms) < distance) {
            distance = qAbs(point.ms - ms);
            nearest = point.value;
        }
    }
    return nearest;
}

// A file dialog for saving, through the one path of modal boxes; empty when cancelled.
QString askSavePath(QWidget *parent, const QString &title, const QString &filter, const QString &suggested)
{
    QFileDialog dialog(parent, title, QDir::homePath(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QFileInfo(suggested).suffix());
    dialog.selectFile(suggested);
    if (ModalBox::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString stamped(const char *stem, const char *suffix)
{
    return QStringLiteral("%1-%2.%3")
        .arg(QString::fromUtf8(stem), QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
             QLatin1String(suffix));
}

} // namespace

TrendPanel::TrendPanel(About about, QWidget *parent) : QWidget(parent), m_about(std::move(about))
{
    setObjectName(QStringLiteral("trendPanel"));
    m_view = TrendView::create(m_series, this);
    setUpControls();
    connect(&m_log, &PollLog::failed, this, [this](const QString &reason) {
        m_logButton->setChecked(false);
        ModalBox::warning(this, QStringLiteral("Запись в файл остановлена:\n%1").arg(reason));
    });
    showFigures();
}

TrendPanel::~TrendPanel() = default;

void TrendPanel::setUpControls()
{
    m_window = new QComboBox(this);
    m_window->setObjectName(QStringLiteral("cmbTrendWindow"));
    for (const WindowChoice &choice : kWindows)
        m_window->addItem(QString::fromUtf8(choice.caption), choice.ms);
    m_window->setCurrentIndex(kDefaultWindow);
    m_pause = new QCheckBox(QStringLiteral("Пауза"), this);
    m_pause->setObjectName(QStringLiteral("checkTrendPause"));
    m_scale = new QComboBox(this);
    m_scale->setObjectName(QStringLiteral("cmbTrendScale"));
    m_scale->addItems({QStringLiteral("Y: авто"), QStringLiteral("Y: диап.")});
    m_scale->setToolTip(QStringLiteral("Шкала Y: по показанным точкам или по диапазону справа"));
    const auto rangeEdit = [this](const char *name) {
        auto *edit = new QDoubleSpinBox(this);
        edit->setObjectName(QLatin1String(name));
        edit->setRange(-kLargestRange, kLargestRange);
        edit->setDecimals(3);
        edit->setButtonSymbols(QAbstractSpinBox::NoButtons);
        edit->setToolTip(QStringLiteral("Диапазон показаний: шкала Y и σ в % диапазона"));
        return edit;
    };
    m_bottom = rangeEdit("edtTrendBottom");
    m_top = rangeEdit("edtTrendTop");
    auto *save = new QPushButton(QStringLiteral("Сохранить"), this);
    save->setObjectName(QStringLiteral("btnTrendSave"));
    auto *menu = new QMenu(save);
    QAction *saveImage = menu->addAction(QStringLiteral("Сохранить изображение…"), this, &TrendPanel::saveImage);
    saveImage->setObjectName(QStringLiteral("ActionTrendSaveImage"));
    saveImage->setEnabled(m_view != nullptr);
    menu->addAction(QStringLiteral("Сохранить CSV…"), this, &TrendPanel::saveVisibleCsv)
        ->setObjectName(QStringLiteral("ActionTrendSaveCsv"));
    save->setMenu(menu);
    m_logButton = new QPushButton(QStringLiteral("Записывать в файл…"), this);
    m_logButton->setObjectName(QStringLiteral("btnTrendLog"));
    m_logButton->setCheckable(true);

    auto *controls = new QHBoxLayout;
    controls->setContentsMargins(0, 0, 0, 0);
    controls->setSpacing(kControlSpacing);
    m_bottom->setFixedWidth(kRangeEditWidth);
    m_top->setFixedWidth(kRangeEditWidth);
    controls->addWidget(m_window);
    controls->addWidget(m_pause);
    controls->addWidget(m_scale);
    controls->addWidget(m_bottom);
    controls->addWidget(m_top);
    controls->addStretch(1);
    controls->addWidget(save);
    controls->addWidget(m_logButton);

    m_figures = new QLabel(this);
    m_figures->setObjectName(QStringLiteral("lblTrendFigures"));
    m_figures->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_figures->setWordWrap(true);
    m_figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont small = m_figures->font();
    small.setPointSize(kFiguresPoints);
    m_figures->setFont(small);
    m_cursor = new QLabel(this);
    m_cursor->setFont(small);
    m_cursor->setObjectName(QStringLiteral("lblTrendCursor"));
    auto *column = new QVBoxLayout;
    column->addWidget(m_figures, 1);
    column->addWidget(m_cursor);
    auto *columnBox = new QWidget(this);
    columnBox->setLayout(column);
    columnBox->setFixedWidth(kFiguresWidth);
    column->setContentsMargins(4, 0, 0, 0);

    auto *body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    if (m_view)
        body->addWidget(m_view, 1);
    else
        body->addStretch(1);
    body->addWidget(columnBox);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(controls);
    layout->addLayout(body, 1);

    connect(m_window, &QComboBox::currentIndexChanged, this, [this] {
        if (m_view)
            m_view->setWindowMs(m_window->currentData().toLongLong());
        showFigures();
    });
    connect(m_scale, &QComboBox::currentIndexChanged, this, &TrendPanel::applyScale);
    for (QDoubleSpinBox *edit : {m_bottom, m_top})
        connect(edit, &QDoubleSpinBox::valueChanged, this, [this] {
            applyScale();
            showFigures();
        });
    connect(m_logButton, &QPushButton::toggled, this, &TrendPanel::toggleLog);
    if (!m_view) {
        m_pause->setEnabled(false);
        m_scale->setEnabled(false);
        return;
    }
    m_view->setWindowMs(m_window->currentData().toLongLong());
    connect(m_pause, &QCheckBox::toggled, this, [this](bool paused) { m_view->setFollowing(!paused); });
    connect(m_view, &TrendView::followingChanged, this, [this](bool following) { m_pause->setChecked(!following); });
    connect(m_view, &TrendView::spanChanged, this, &TrendPanel::showFigures);
    connect(m_view, &TrendView::markersChanged, this, &TrendPanel::showFigures);
    connect(m_view, &TrendView::cursorMoved, this, [this](std::optional<std::pair<qint64, double>> under) {
        m_cursor->setText(under ? QStringLiteral("%1\n%2").arg(timeOfDay(under->first), number(under->second))
                                : QString());
    });
}

QSize TrendPanel::sizeHint() const
{
    const QSize hint = QWidget::sizeHint();
    const int controls = layout()->itemAt(0)->sizeHint().height();
    return {hint.width(), std::max(hint.height(), controls + layout()->spacing() + kWantedPlotHeight)};
}

void TrendPanel::add(const PollLog::Poll &poll)
{
    // While an address is typed or the spinner runs, the pages poll each address on the way
    // (typing «12» polls unit 1 first); the trend waits for the one settled on.
    if (!m_unit)
        m_unit = poll.address;
    if (poll.address != *m_unit)
        return;
    const qint64 ms = poll.time.toMSecsSinceEpoch();
    if (!m_series.isEmpty() && ms - m_series.lastMs() > kUnwatchedMs)
        m_series.addGap(m_series.lastMs() + 1);
    if (poll.value)
        m_series.addValue(ms, *poll.value);
    else if (poll.result < 0 && poll.display.isEmpty())
        m_series.addFailure(ms);
    else
        m_series.addGap(ms);
    noteFlagChange(ms, "самодиагностика", m_selfDiag, poll.selfDiag);
    noteFlagChange(ms, "EEPROM", m_eepromErrors, poll.eepromErrors);
    m_log.append(poll);
    if (m_view)
        m_view->refresh();
    showFigures();
}

void TrendPanel::follow(quint16 address)
{
    if (m_unit == address)
        return;
    const bool another = m_unit.has_value();
    m_unit = address;
    if (!another)
        return;
    m_series.clear();
    m_selfDiag.reset();
    m_eepromErrors.reset();
    m_log.noteAddress(address);
    if (m_view)
        m_view->refresh();
    showFigures();
}

// A flag word's first reading is where it starts; each change after it is a mark.
void TrendPanel::noteFlagChange(qint64 ms, const char *word, std::optional<quint16> &known,
                                std::optional<quint16> now)
{
    if (!now)
        return;
    if (known && *known != *now)
        m_series.addMark(ms, QStringLiteral("%1: %2").arg(QString::fromUtf8(word)).arg(*now));
    known = now;
}

std::optional<double> TrendPanel::range() const
{
    const double span = m_top->value() - m_bottom->value();
    return span > 0 ? std::optional(span) : std::nullopt;
}

void TrendPanel::applyScale()
{
    if (!m_view)
        return;
    const bool fixed = m_scale->currentIndex() == 1 && range();
    m_view->setFixedY(fixed ? std::optional(std::pair(m_bottom->value(), m_top->value())) : std::nullopt);
}

std::pair<qint64, qint64> TrendPanel::savedSpan() const
{
    if (m_view) {
        const std::optional<qint64> first = m_view->marker(0);
        const std::optional<qint64> second = m_view->marker(1);
        if (first && second)
            return std::minmax(*first, *second);
        return m_view->shownSpan();
    }
    const qint64 windowMs = m_window->currentData().toLongLong();
    const qint64 last = m_series.lastMs();
    return {windowMs == 0 ? m_series.firstMs() : last - windowMs, last};
}

void TrendPanel::showFigures()
{
    if (m_series.isEmpty()) {
        m_figures->setText(QStringLiteral("Нет данных"));
        return;
    }
    std::pair<qint64, qint64> shown{m_series.firstMs(), m_series.lastMs()};
    if (m_view) {
        shown = m_view->shownSpan();
    } else if (const qint64 windowMs = m_window->currentData().toLongLong(); windowMs > 0) {
        shown.first = shown.second - windowMs;
    }
    QString text = QStringLiteral("Показано: ") + spanText(m_series.statistics(shown.first, shown.second), range());
    if (m_view) {
        const std::optional<qint64> first = m_view->marker(0);
        const std::optional<qint64> second = m_view->marker(1);
        if (first && second)
            text += QStringLiteral("\n") + markersText(m_series, *first, *second);
        else
            text += QStringLiteral("\nМаркеры: правая кнопка мыши");
    }
    m_figures->setText(text);
}

QString TrendPanel::spanText(const TrendSeries::Statistics &statistics, std::optional<double> range)
{
    if (statistics.count == 0)
        return QStringLiteral("0 точек");
    QString sigma = QStringLiteral("σ %1").arg(number(statistics.sigma));
    if (range)
        sigma += QStringLiteral(" (%1 %)").arg(QLocale().toString(100.0 * statistics.sigma / *range, 'f', 3));
    return QStringLiteral("%1 точек\nмин %2  макс %3\nсреднее %4\n%5")
        .arg(statistics.count)
        .arg(number(statistics.minimum), number(statistics.maximum), number(statistics.mean), sigma);
}

QString TrendPanel::markersText(const TrendSeries &series, qint64 first, qint64 second)
{
    const auto [from, to] = std::minmax(first, second);
    const double delta = valueAt(series, to) - valueAt(series, from);
    const TrendSeries::Statistics between = series.statistics(from, to);
    return QStringLiteral("Между маркерами: Δt %1 с, Δ %2\n%3")
        .arg(QLocale().toString(double(to - from) / 1000.0, 'f', 1), number(delta), spanText(between, std::nullopt));
}

bool TrendPanel::saveCsv(const TrendSeries &series, qint64 from, qint64 to, const QString &path, QString *reason)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *reason = file.errorString();
        return false;
    }
    QTextStream out(&file);
    CsvWriter csv(out, CsvWriter::Dialect::Spreadsheet);
    csv.startFile();
    csv.text(QStringLiteral("time")).text(QStringLiteral("value"));
    csv.endRow();
    for (const TrendSeries::Point &point : series.points(from, to)) {
        if (point.ms < from || point.ms > to)
            continue;
        csv.value(PollLog::timeText(QDateTime::fromMSecsSinceEpoch(point.ms)))
            .number(point.value);
        csv.endRow();
    }
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

void TrendPanel::saveImage()
{
    const QString path = askSavePath(this, QStringLiteral("Сохранить изображение"), kPngFilter, stamped("тренд", "png"));
    if (!path.isEmpty() && !m_view->savePng(path))
        ModalBox::warning(this, QStringLiteral("Не удалось сохранить изображение в файл %1.").arg(QDir::toNativeSeparators(path)));
}

void TrendPanel::saveVisibleCsv()
{
    const std::pair<qint64, qint64> span = savedSpan();
    const QString path = askSavePath(this, QStringLiteral("Сохранить CSV"), kCsvFilter, stamped("тренд", "csv"));
    QString reason;
    if (!path.isEmpty() && !saveCsv(m_series, span.first, span.second, path, &reason))
        ModalBox::warning(this, QStringLiteral("Не удалось сохранить файл %1:\n%2").arg(QDir::toNativeSeparators(path), reason));
}

void TrendPanel::toggleLog(bool on)
{
    if (!on) {
        m_log.close();
        m_logButton->setToolTip({});
        return;
    }
    const QString path = askSavePath(this, QStringLiteral("Записывать в файл"), kCsvFilter, stamped("показания", "csv"));
    if (path.isEmpty() || !m_log.open(path, m_about ? m_about() : QList<std::pair<QString, QString>>{})) {
        if (!path.isEmpty())
            ModalBox::warning(this, QStringLiteral("Не удалось открыть файл %1:\n%2")
                                        .arg(QDir::toNativeSeparators(path), m_log.errorString()));
        const QSignalBlocker blocker(m_logButton);
        m_logButton->setChecked(false);
        return;
    }
    m_logButton->setToolTip(QStringLiteral("Запись в %1").arg(QDir::toNativeSeparators(path)));
}
