#pragma once

#include "devicepage.h"

#include <memory>

class QPushButton;

namespace Ui {
class CalibrationPage;
}

// Calibration page: the live display text, and the two ends of the input range taken from the
// device's own calibration value.
class CalibrationPage : public DevicePage
{
    Q_OBJECT

public:
    CalibrationPage(Session &session, QWidget *parent);
    ~CalibrationPage() override;

    void TimerClbrRd();
    void ClbrPointWr(TParamId target, QPushButton *button);

private:
    void btnClbrBottomClick();
    void btnClbrTopClick();

    std::unique_ptr<Ui::CalibrationPage> ui;
};
