#pragma once

#include "exchangerecord.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <optional>

class ExchangeLog;
class QCheckBox;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class Session;

// The exchange monitor: every exchange the configurator makes, decoded, in a window of its own
// beside the main one. It records the session's exchanges while it is open and not paused;
// closing it ends it.
class MonitorWindow : public QWidget
{
    Q_OBJECT

public:
    MonitorWindow(Session &session, QWidget *parent);
    ~MonitorWindow() override;

    // Takes one finished exchange, unless paused.
    void record(const ExchangeRecord &exchange);

    // Puts the shown window where it was last (kept on the screen), or else beside the main
    // window of frame mainFrame without hiding its tool bar, which ends at toolBarBottom.
    // Frames are in screen coordinates, window decorations included.
    void place(const QRect &mainFrame, int toolBarBottom, const std::optional<QRect> &lastFrame);

signals:
    // The window's frame as it closes, for the next opening.
    void closing(const QRect &frame);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void stopWatching();
    void setUpControls();
    void connectControls();
    void setFrame(const QRect &frame);
    void showOnlyErrors(bool only);
    void copySelectedRows();
    void saveAll();
    bool writeAll(const QString &path, QString *error) const;

    QPointer<Session> m_session; // none once the monitor has stopped watching
    ExchangeLog *m_log;
    QSortFilterProxyModel *m_shown;
    QTableView *m_table;
    QPushButton *m_pause;
    QPushButton *m_clear;
    QCheckBox *m_onlyErrors;
    QPushButton *m_copy;
    QPushButton *m_save;
};
