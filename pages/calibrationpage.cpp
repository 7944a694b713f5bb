// Calibration page: the device's display text, live, and the two buttons that make the value
// the device reports for calibration the bottom or the top of its input range.
#include "mainform.h"

#include "handlers.h"
#include "resultcodes.h"
#include "ui_mainform.h"

void TfrmMain::connectCalibrationPage()
{
    setUpLiveDisplay(ui->edtClbrData);
    using Handlers::connect;
    connect(ui->btnClbrBottom, &QPushButton::clicked, this, &TfrmMain::btnClbrBottomClick);
    connect(ui->btnClbrTop, &QPushButton::clicked, this, &TfrmMain::btnClbrTopClick);
}

void TfrmMain::TimerClbrRd()
{
    readParameter(prmDataTxt, ui->edtClbrData, [this] { showDisplayText(ui->edtClbrData); });
}

void TfrmMain::btnClbrBottomClick()
{
    ClbrPointWr(prmClbrBottom, ui->btnClbrBottom);
}

void TfrmMain::btnClbrTopClick()
{
    ClbrPointWr(prmClbrTop, ui->btnClbrTop);
}

// The calibration value is copied as it comes, never shown or read back; the pressed button's
// caption colour is the only sign of the outcome. A value that could not be read is not written.
void TfrmMain::ClbrPointWr(TParamId target, QPushButton *button)
{
    quint16 captured = 0;
    const std::optional<qint16> read =
        readParameter(prmClbrData, button, [this, &captured] { captured = ExchangeBuffer[0]; });
    if (!read || *read < lrOk)
        return;
    const auto put = [this, captured] {
        ExchangeBuffer[0] = captured;
        return true;
    };
    writeParameter(target, button, put, [] {});
}
