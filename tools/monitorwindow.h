#pragma once

#include "exchangerecord.h"

#include <QWidget>

class ExchangeLog;
class QCheckBox;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

// The exchange monitor: every exchange the configurator makes, decoded, in a window of its own
// beside the main one. It records while it is open and not paused; closing it ends it.
class MonitorWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MonitorWindow(QWidget *parent = nullptr);

    // Takes one finished exchange, unless paused.
    void record(const ExchangeRecord &exchange);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setUpControls();
    void connectControls();
    void placeBesideParent();
    void showOnlyErrors(bool only);
    void followNewRows();
    void copySelectedRows();
    void saveAll();
    bool writeAll(const QString &path, QString *error) const;

    ExchangeLog *m_log;
    QSortFilterProxyModel *m_shown;
    QTableView *m_table;
    QPushButton *m_pause;
    QPushButton *m_clear;
    QCheckBox *m_onlyErrors;
    QPushButton *m_copy;
    QPushButton *m_save;
};
