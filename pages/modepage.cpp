// Mode page: the eleven display settings of the indicator, each read and written on its own.
// The checks that run while the user types are in modeentry.cpp.
#include "mainform.h"

#include "handlers.h"
#include "registercodec.h"
#include "resultcodes.h"
#include "ui_mainform.h"

#include <QApplication>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kUnitBytes = 6;
// The dead-space field holds one digit on each side of the separator.
constexpr float kDeadSpaceFieldHighest = 9.9f;

std::array<QRadioButton *, 4> scaleTypeItems(const Ui::TfrmMain &ui)
{
    return {ui.rgModeScaleTypeItem0, ui.rgModeScaleTypeItem1, ui.rgModeScaleTypeItem2, ui.rgModeScaleTypeItem3};
}

// The index of the first checked button, or -1 when none is.
int checkedIndex(const std::array<QRadioButton *, 4> &buttons)
{
    const auto found = std::find_if(buttons.begin(), buttons.end(), [](QRadioButton *b) { return b->isChecked(); });
    return found == buttons.end() ? -1 : int(found - buttons.begin());
}

// Exclusive buttons refuse to be unchecked one by one while they are exclusive.
void uncheckAll(const std::array<QRadioButton *, 4> &buttons)
{
    for (QRadioButton *button : buttons) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
}

void setBackgroundColour(QWidget *control, const QColor &colour)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::Window, colour);
    control->setPalette(palette);
    control->setAutoFillBackground(true);
}

} // namespace

void TfrmMain::connectModePage()
{
    using Handlers::connect;
    const std::pair<QPushButton *, void (TfrmMain::*)()> operations[] = {
        {ui->btnModeDeadSpaceRd, &TfrmMain::ModeDeadSpaceRd},
        {ui->btnModeDeadSpaceWr, &TfrmMain::ModeDeadSpaceWr},
        {ui->btnModeBrightnessRd, &TfrmMain::ModeBrightnessRd},
        {ui->btnModeBrightnessWr, &TfrmMain::ModeBrightnessWr},
        {ui->btnModeRElSignalBottomRangeRd, &TfrmMain::ModeRElSignalBottomRangeRd},
        {ui->btnModeRElSignalBottomRangeWr, &TfrmMain::ModeRElSignalBottomRangeWr},
        {ui->btnModeRElSignalTopRangeRd, &TfrmMain::ModeRElSignalTopRangeRd},
        {ui->btnModeRElSignalTopRangeWr, &TfrmMain::ModeRElSignalTopRangeWr},
        {ui->btnModeDecimalPointPosRd, &TfrmMain::ModeDecimalPointPosRd},
        {ui->btnModeDecimalPointPosWr, &TfrmMain::ModeDecimalPointPosWr},
        {ui->btnModeRangeSetRd, &TfrmMain::ModeRangeSetRd},
        {ui->btnModeRangeSetWr, &TfrmMain::ModeRangeSetWr},
        {ui->btnModeBottomRangeRd, &TfrmMain::ModeBottomRangeRd},
        {ui->btnModeBottomRangeWr, &TfrmMain::ModeBottomRangeWr},
        {ui->btnModeTopRangeRd, &TfrmMain::ModeTopRangeRd},
        {ui->btnModeTopRangeWr, &TfrmMain::ModeTopRangeWr},
        {ui->btnModeUnitRd, &TfrmMain::ModeUnitRd},
        {ui->btnModeUnitWr, &TfrmMain::ModeUnitWr},
        {ui->btnModeScaleTypeRd, &TfrmMain::ModeScaleTypeRd},
        {ui->btnModeScaleTypeWr, &TfrmMain::ModeScaleTypeWr},
        {ui->btnModeBlinkRd, &TfrmMain::ModeBlinkRd},
        {ui->btnModeBlinkWr, &TfrmMain::ModeBlinkWr},
    };
    for (const auto &[button, operation] : operations)
        connect(button, &QPushButton::clicked, this, operation);
    ui->btnModeDecimalPointPosRd->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    ui->btnModeDecimalPointPosWr->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));

    for (QRadioButton *button : decimalPointButtons()) {
        connect(button, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                ActionDecPointChangeExecute();
        });
    }
    setUpModeFields();
}

void TfrmMain::ModeAllRd()
{
    ModeDeadSpaceRd();
    ModeBrightnessRd();
    ModeRElSignalBottomRangeRd();
    ModeRElSignalTopRangeRd();
    // Before the ordered range: the decimal point sets the limit the top range is shown against.
    ModeDecimalPointPosRd();
    ModeRangeSetRd();
    ModeBottomRangeRd();
    ModeTopRangeRd();
    ModeUnitRd();
    ModeScaleTypeRd();
    ModeBlinkRd();
}

// ---- Register floats ----

void TfrmMain::ModeDeadSpaceRd()
{
    readParameter(prmModeDeadSpace, ui->edtModeDeadSpace,
                  [this] { showModeDeadSpace(RegisterCodec::floatFrom(ExchangeBuffer.data())); });
}

void TfrmMain::ModeDeadSpaceWr()
{
    QLineEdit *edit = ui->edtModeDeadSpace;
    writeModeFloat(prmModeDeadSpace, edit, [edit](float value) {
        if (value < kModeDeadSpaceLowest) {
            edit->setText(QStringLiteral("0"));
            return kModeDeadSpaceLowest;
        }
        if (value > kModeDeadSpaceHighest) {
            edit->setText(QStringLiteral("2"));
            return kModeDeadSpaceHighest;
        }
        return value;
    });
}

void TfrmMain::ModeRangeSetRd()
{
    readModeFloat(prmModeRangeSet, ui->edtModeRangeSet);
}

// The set point's limit holds while the user types only; the device takes what the field holds.
void TfrmMain::ModeRangeSetWr()
{
    writeModeFloat(prmModeRangeSet, ui->edtModeRangeSet, [](float value) { return value; });
}

void TfrmMain::ModeBottomRangeRd()
{
    readModeFloat(prmModeBottomRange, ui->edtModeBottomRange);
}

void TfrmMain::ModeBottomRangeWr()
{
    writeModeFloat(prmModeBottomRange, ui->edtModeBottomRange,
                   [this](float value) { return keepBelow(value, ui->edtModeBottomRange, ui->edtModeTopRange); });
}

void TfrmMain::ModeTopRangeRd()
{
    readModeFloat(prmModeTopRange, ui->edtModeTopRange);
}

// Kept above the bottom, but not cut to TopRangeLimit: that limit is for typing.
void TfrmMain::ModeTopRangeWr()
{
    writeModeFloat(prmModeTopRange, ui->edtModeTopRange,
                   [this](float value) { return keepAbove(value, ui->edtModeTopRange, ui->edtModeBottomRange); });
}

void TfrmMain::ModeRElSignalBottomRangeRd()
{
    readModeFloat(prmModeRElSignalBottomRange, ui->edtModeRElSignalBottomRange);
}

void TfrmMain::ModeRElSignalBottomRangeWr()
{
    writeModeFloat(prmModeRElSignalBottomRange, ui->edtModeRElSignalBottomRange, [this](float value) {
        return keepBelow(value, ui->edtModeRElSignalBottomRange, ui->edtModeRElSignalTopRange);
    });
}

void TfrmMain::ModeRElSignalTopRangeRd()
{
    readModeFloat(prmModeRElSignalTopRange, ui->edtModeRElSignalTopRange);
}

void TfrmMain::ModeRElSignalTopRangeWr()
{
    writeModeFloat(prmModeRElSignalTopRange, ui->edtModeRElSignalTopRange, [this](float value) {
        return keepAbove(value, ui->edtModeRElSignalTopRange, ui->edtModeRElSignalBottomRange);
    });
}

void TfrmMain::readModeFloat(TParamId id, QLineEdit *edit)
{
    readParameter(id, edit, [this, edit] { showModeFloat(edit); });
}

void TfrmMain::showModeFloat(QLineEdit *edit)
{
    const int decimals = edit == ui->edtModeDeadSpace ? kModeDeadSpaceDecimals : kModeRangeDecimals;
    edit->setText(RegionalNumber::text(RegisterCodec::floatFrom(ExchangeBuffer.data()), decimals));
}

// A value the field cannot hold is not shown as another number without a sign: the field shows
// the nearest it holds in red, and the device's own value in its tool tip.
void TfrmMain::showModeDeadSpace(float value)
{
    QLineEdit *edit = ui->edtModeDeadSpace;
    const QString exact = RegionalNumber::text(value, kModeDeadSpaceDecimals);
    const bool fits = value >= kModeDeadSpaceLowest && exact.size() == 3 && exact.front().isDigit();
    if (fits) {
        edit->setToolTip({});
        edit->setText(exact);
        return;
    }
    const float shown = std::isnan(value) ? kModeDeadSpaceLowest : std::clamp(value, kModeDeadSpaceLowest, kDeadSpaceFieldHighest);
    edit->setToolTip(RegionalNumber::text(value, kModeRangeDecimals));
    edit->setText(RegionalNumber::text(shown, kModeDeadSpaceDecimals));
    setTextColour(edit, kFailureColour);
}

// A field that holds no number, or none a single-precision value can carry, is refused rather
// than sent as 0. rule may correct the value and its field, or raise NumberConversionError for
// a partner field that holds no number; then nothing is sent.
void TfrmMain::writeModeFloat(TParamId id, QLineEdit *edit, const std::function<float(float)> &rule)
{
    const auto put = [this, edit, &rule] {
        const std::optional<float> typed = numberIn(edit);
        if (!typed || !std::isfinite(*typed))
            return false;
        RegisterCodec::putFloat(rule(*typed), ExchangeBuffer.data());
        return true;
    };
    writeParameter(id, edit, put, [this, edit] { showModeFloat(edit); });
}

float TfrmMain::keepBelow(float value, QLineEdit *edit, QLineEdit *top)
{
    const float limit = float(RegionalNumber::read(top->displayText()));
    if (value <= limit)
        return value;
    edit->setText(RegionalNumber::text(limit, kModeRangeDecimals));
    return limit;
}

float TfrmMain::keepAbove(float value, QLineEdit *edit, QLineEdit *bottom)
{
    const float limit = float(RegionalNumber::read(bottom->displayText()));
    if (value >= limit)
        return value;
    edit->setText(RegionalNumber::text(limit, kModeRangeDecimals));
    return limit;
}

// ---- Codes ----

// The track bar holds its position within 0..2, so a larger code shows as 2.
void TfrmMain::ModeBrightnessRd()
{
    readParameter(prmModeBrightness, nullptr, [this] { ui->TrackBarBrightness->setValue(ExchangeBuffer[0]); });
}

void TfrmMain::ModeBrightnessWr()
{
    const auto put = [this] {
        ExchangeBuffer[0] = quint16(ui->TrackBarBrightness->value());
        return true;
    };
    writeParameter(prmModeBrightness, nullptr, put, [this] { ui->TrackBarBrightness->setValue(ExchangeBuffer[0]); });
}

// A code the four buttons do not know leaves them as they are; a failed read leaves none
// checked, so that a write cannot send a decimal point the device never had.
void TfrmMain::ModeDecimalPointPosRd()
{
    const auto buttons = decimalPointButtons();
    const auto show = [this, buttons] {
        if (ExchangeBuffer[0] < buttons.size())
            buttons[ExchangeBuffer[0]]->setChecked(true);
    };
    const std::optional<qint16> code = readParameter(prmModeDecimalPointPos, nullptr, show);
    if (code && *code < lrOk)
        uncheckAll(buttons);
}

void TfrmMain::ModeDecimalPointPosWr()
{
    const auto put = [this] {
        const int checked = checkedIndex(decimalPointButtons());
        if (checked < 0)
            return false;
        ExchangeBuffer[0] = quint16(checked);
        return true;
    };
    writeParameter(prmModeDecimalPointPos, nullptr, put, [] {});
}

// The group keeps its index within its items: a code above the last selects the last.
void TfrmMain::ModeScaleTypeRd()
{
    const auto items = scaleTypeItems(*ui);
    const auto show = [this, items] { items[std::min<size_t>(ExchangeBuffer[0], items.size() - 1)]->setChecked(true); };
    const std::optional<qint16> code = readParameter(prmModeScaleType, ui->rgModeScaleType, show);
    if (code && *code < lrOk)
        uncheckAll(items);
}

// Without a chosen item there is nothing to send, and nothing to say about it. A failed write
// clears the choice.
void TfrmMain::ModeScaleTypeWr()
{
    const auto items = scaleTypeItems(*ui);
    const int selected = checkedIndex(items);
    if (selected < 0)
        return;
    const auto put = [this, selected] {
        ExchangeBuffer[0] = quint16(selected);
        return true;
    };
    const std::optional<qint16> code = writeParameter(prmModeScaleType, ui->rgModeScaleType, put, [] {});
    if (code && *code < lrOk)
        uncheckAll(items);
}

void TfrmMain::ModeBlinkRd()
{
    readParameter(prmModeBlink, ui->checkModeBlink, [this] { ui->checkModeBlink->setChecked(ExchangeBuffer[0] != 0); });
}

// The write shows its outcome in the box's background, which stays red through later reads
// until a write succeeds.
void TfrmMain::ModeBlinkWr()
{
    QCheckBox *box = ui->checkModeBlink;
    const auto put = [this, box] {
        ExchangeBuffer[0] = box->isChecked() ? 1 : 0;
        return true;
    };
    const std::optional<qint16> code =
        writeParameter(prmModeBlink, nullptr, put, [this, box] { box->setChecked(ExchangeBuffer[0] != 0); });
    if (code)
        setBackgroundColour(box, *code < lrOk ? kFailureColour : QApplication::palette().color(QPalette::Button));
}

// ---- Register text ----

void TfrmMain::ModeUnitRd()
{
    readParameter(prmModeUnit, ui->edtModeUnit,
                  [this] { ui->edtModeUnit->setText(RegisterCodec::textFrom(ExchangeBuffer.data(), kUnitBytes)); });
}

// The field's blank positions go out as spaces; the cleared buffer ends a shorter text with zeros.
void TfrmMain::ModeUnitWr()
{
    QLineEdit *edit = ui->edtModeUnit;
    const auto put = [this, edit] {
        RegisterCodec::putText(edit->displayText(), ExchangeBuffer.data(), kUnitBytes);
        return true;
    };
    writeParameter(prmModeUnit, edit, put,
                   [this, edit] { edit->setText(RegisterCodec::textFrom(ExchangeBuffer.data(), kUnitBytes)); });
}
