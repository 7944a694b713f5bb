// Calibration page: the device's display text, live, and the two buttons that make the value
// the device reports for calibration the bottom or the top of its input range.
#include "calibrationpage.h"

#include "catalogue.h"
#include "handlers.h"
#include "livedisplay.h"
#include "resultcodes.h"
#include "ui_calibrationpage.h"

#include <QDateTime>

CalibrationPage::CalibrationPage(Session &session, QWidget *parent)
    : DevicePage(session, parent), ui(std::make_unique<Ui::CalibrationPage>())
{
    ui->setupUi(this);
    QLineEdit *display = ui->edtClbrData;
    LiveDisplay::setUp(display);
    bind({{prmDataTxt, nullptr, nullptr, display, [display](const QVariant &v) { LiveDisplay::show(display, v.toString()); }}});
    using Handlers::connect;
    connect(ui->btnClbrBottom, &QPushButton::clicked, this, &CalibrationPage::btnClbrBottomClick);
    connect(ui->btnClbrTop, &QPushButton::clicked, this, &CalibrationPage::btnClbrTopClick);
    m_trend = LiveDisplay::addTrend(this, [this] { return logAbout(); });
}

CalibrationPage::~CalibrationPage() = default;

// The one read of a tick, the display text, is also the trend's reading: a second read per tick
// would halve the rate the engineer watches the display at.
void CalibrationPage::TimerClbrRd()
{
    PollLog::Poll poll;
    poll.time = QDateTime::currentDateTime();
    poll.address = m_session.deviceNumber();
    read(binding(prmDataTxt), [this, poll](qint16 code) mutable {
        poll.result = code;
        if (code >= lrOk) {
            poll.display = ui->edtClbrData->text();
            poll.value = LiveDisplay::number(poll.display);
        }
        m_trend->add(poll);
        emit polled();
    });
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
    m_session.readValue(Catalogue::of(prmClbrData), this, [this, target, button](const Session::Reading &captured) {
        colourOutcome(captured.code, button);
        if (captured.code < lrOk)
            return;
        m_session.writeValue(Catalogue::of(target), captured.value, this,
                             [button](qint16 written) { colourOutcome(written, button); });
    });
}
