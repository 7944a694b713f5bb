#pragma once

#include "devicepage.h"

#include <memory>

class QLineEdit;

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

    void InformationAllRd();
    void InformationProgVerRd();
    void InformationDevNameRd();
    void InformationDevNameWr();

private:
    void readText(TParamId id, QLineEdit *edit);

    std::unique_ptr<Ui::InformationPage> ui;
};
