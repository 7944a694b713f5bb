#pragma once

#include "devicepage.h"

#include <memory>

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

    void TimerDataTxtRd();

private:
    void setUpCells();

    std::unique_ptr<Ui::DataPage> ui;
};
