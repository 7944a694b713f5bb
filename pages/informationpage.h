#pragma once

#include "devicepage.h"

#include <memory>

namespace Ui {
class InformationPage;
}

// Information page: the firmware version and the device's name.
class InformationPage : public DevicePage
{
    Q_OBJECT

public:
    InformationPage(Session &session, QWidget *parent);
    ~InformationPage() override;

    void enter() override { InformationAllRd(); }
    void InformationAllRd();

private:
    std::unique_ptr<Ui::InformationPage> ui;
};
