#pragma once

#include "devicepage.h"

#include <memory>

class QPushButton;
class TrendPanel;

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

    void poll() override { TimerClbrRd(); }
    void TimerClbrRd();
    void ClbrPointWr(TParamId target, QPushButton *button);

    TrendPanel *trend() const { return m_trend; }

private:
    void btnClbrBottomClick();
    void btnClbrTopClick();

    std::unique_ptr<Ui::CalibrationPage> ui;
    TrendPanel *m_trend;
};
