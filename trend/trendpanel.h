#pragma once

#include "polllog.h"
#include "trendseries.h"

#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class TrendView;

// The trend of a live page: the plot of its polls (where the build has one), the statistics of
// the shown span and of the span between the markers beside it, the cursor's reading, and the
// log. The page hands it every poll; the panel keeps the series, bounded for a long run.
class TrendPanel : public QWidget
{
    Q_OBJECT

public:
    // A plot this tall shows the time axis with its labels, a reading's run that can be read,
    // and the figures beside it whole.
    static constexpr int kWantedPlotHeight = 200;

    // What the log's first lines say, asked for when a log starts: the device, its line, the
    // poll interval.
    using About = std::function<QList<std::pair<QString, QString>>()>;

    TrendPanel(About about, QWidget *parent);
    ~TrendPanel() override;

    // One poll of the page: plotted, counted and logged, when it is of the unit followed.
    void add(const PollLog::Poll &poll);
    // The unit the trend is of, once the address is settled: another one than before starts a
    // new trace, and a row of the log says from where on it is that unit's. Until the first
    // call, the unit of the first poll.
    void follow(quint16 address);

    // Its row of controls over a plot of kWantedPlotHeight, where the window has the room.
    QSize sizeHint() const override;

    const TrendSeries &series() const { return m_series; }
    TrendView *view() const { return m_view; }
    PollLog &log() { return m_log; }

    // The figures beside the plot, from the series alone. range: the reading's range, for σ in
    // per cent of it; none when not known.
    static QString spanText(const TrendSeries::Statistics &statistics, std::optional<double> range);
    static QString markersText(const TrendSeries &series, qint64 first, qint64 second);
    // The part of the series from..to as CSV: time, value (empty for a gap).
    static bool saveCsv(const TrendSeries &series, qint64 from, qint64 to, const QString &path, QString *reason);

private:
    void setUpControls();
    void showFigures();
    void applyScale();
    std::optional<double> range() const;
    // The span the CSV and the figures are about: between the markers when both are set.
    std::pair<qint64, qint64> savedSpan() const;
    void saveImage();
    void saveVisibleCsv();
    void toggleLog(bool on);
    void noteFlagChange(qint64 ms, const char *word, std::optional<quint16> &known, std::optional<quint16> now);

    About m_about;
    TrendSeries m_series;
    PollLog m_log;
    TrendView *m_view = nullptr;
    QComboBox *m_window = nullptr;
    QCheckBox *m_pause = nullptr;
    QComboBox *m_scale = nullptr;
    QDoubleSpinBox *m_bottom = nullptr;
    QDoubleSpinBox *m_top = nullptr;
    QPushButton *m_logButton = nullptr;
    QLabel *m_figures = nullptr;
    QLabel *m_cursor = nullptr;
    std::optional<quint16> m_selfDiag;
    std::optional<quint16> m_eepromErrors;
    std::optional<quint16> m_unit;
};
