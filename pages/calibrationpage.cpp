// Calibration page: the device's display text, live, and the two buttons that make the value
// the device reports for calibration the bottom or the top of its input range.
#include "calibrationpage.h"

#include "handlers.h"
#include "livedisplay.h"
#include "resultcodes.h"
#include "ui_calibrationpage.h"

CalibrationPage::CalibrationPage(Session &session, QWidget *parent)
    : DevicePage(session, parent), ui(std::make_unique<Ui::CalibrationPage>())
{
    ui->setupUi(this);
    LiveDisplay::setUp(ui->edtClbrData);
    using Handlers::connect;
    connect(ui->btnClbrBottom, &QPushButton::clicked, this, &CalibrationPage::btnClbrBottomClick);
    connect(ui->btnClbrTop, &QPushButton::clicked, this, &CalibrationPage::btnClbrTopClick);
}

CalibrationPage::~CalibrationPage() = default;

void CalibrationPage::TimerClbrRd()
{
    readParameter(prmDataTxt, ui->edtClbrData, [this] { LiveDisplay::show(ui->edtClbrData, buffer().data()); });
}

void CalibrationPage::btnClbrBottomClick()
{
    ClbrPointWr(prmClbrBottom, ui->btnClbrBottom);
}

void CalibrationPage::btnClbrTopClick()
{
    ClbrPointWr(prmClbrTop, ui->btnClbrTop);
}

// The calibration value is copied as it comes, never shown or read back; the pressed button's
// caption colour is the only sign of the outcome. A value that could not be read is not written.
void CalibrationPage::ClbrPointWr(TParamId target, QPushButton *button)
{
    quint16 captured = 0;
    const std::optional<qint16> read =
        readParameter(prmClbrData, button, [this, &captured] { captured = buffer()[0]; });
    if (!read || *read < lrOk)
        return;
    const auto put = [this, captured] {
        buffer()[0] = captured;
        return true;
    };
    writeParameter(target, button, put, [] {});
}
