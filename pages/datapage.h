#pragma once

#include "devicepage.h"

#include <memory>

class TrendPanel;

namespace Ui {
class DataPage;
}

// Readings page: the device's display text and its self-diagnostic flags, polled.
class DataPage : public DevicePage
{
    Q_OBJECT

public:
    DataPage(Session &session, QWidget *parent);
    ~DataPage() override;

    void poll() override { TimerDataTxtRd(); }
    void TimerDataTxtRd();

    TrendPanel *trend() const { return m_trend; }

private:
    void setUpCells();

    std::unique_ptr<Ui::DataPage> ui;
    TrendPanel *m_trend;
};
