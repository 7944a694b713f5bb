// Mode page: the eleven display settings of the indicator, each read and written on its own.
// The checks that run while the user types are in modeentry.cpp.
#include "modepage.h"

#include "catalogue.h"
#include "controls.h"
#include "handlers.h"
#include "registercodec.h"
#include "resultcodes.h"
#include "ui_modepage.h"

#include <QApplication>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace {

// The dead-space field holds one digit on each side of the separator.
constexpr float kDeadSpaceFieldHighest = 9.9f;

const Catalogue::Parameter &deadSpace()
{
    return Catalogue::of(prmModeDeadSpace);
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

ModePage::ModePage(Session &session, QWidget *parent) : DevicePage(session, parent), ui(std::make_unique<Ui::ModePage>())
{
    ui->setupUi(this);
    setUpControls();
    connectControls();
    setUpModeFields();
}

ModePage::~ModePage() = default;

// The limits and captions that the catalogue gives the controls.
void ModePage::setUpControls()
{
    const Catalogue::Parameter &brightness = Catalogue::of(prmModeBrightness);
    ui->TrackBarBrightness->setRange(int(brightness.lowest), int(brightness.highest));
    const auto items = scaleTypeItems();
    const Catalogue::Parameter &scaleType = Catalogue::of(prmModeScaleType);
    for (size_t i = 0; i < items.size(); ++i)
        items[i]->setText(scaleType.codeCaption(qint64(i)));
}

// The style's icons come from the desktop's icon theme, whose look-up costs more than the rest of
// the page: they are fetched when the page is first shown, not while the window starts.
void ModePage::showEvent(QShowEvent *event)
{
    DevicePage::showEvent(event);
    if (!m_standardIconsSet) {
        ui->btnModeDecimalPointPosRd->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
        ui->btnModeDecimalPointPosWr->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
        m_standardIconsSet = true;
    }
}

void ModePage::connectControls()
{
    using Handlers::connect;
    const std::pair<QPushButton *, void (ModePage::*)()> operations[] = {
        {ui->btnModeDeadSpaceRd, &ModePage::ModeDeadSpaceRd},
        {ui->btnModeDeadSpaceWr, &ModePage::ModeDeadSpaceWr},
        {ui->btnModeBrightnessRd, &ModePage::ModeBrightnessRd},
        {ui->btnModeBrightnessWr, &ModePage::ModeBrightnessWr},
        {ui->btnModeRElSignalBottomRangeRd, &ModePage::ModeRElSignalBottomRangeRd},
        {ui->btnModeRElSignalBottomRangeWr, &ModePage::ModeRElSignalBottomRangeWr},
        {ui->btnModeRElSignalTopRangeRd, &ModePage::ModeRElSignalTopRangeRd},
        {ui->btnModeRElSignalTopRangeWr, &ModePage::ModeRElSignalTopRangeWr},
        {ui->btnModeDecimalPointPosRd, &ModePage::ModeDecimalPointPosRd},
        {ui->btnModeDecimalPointPosWr, &ModePage::ModeDecimalPointPosWr},
        {ui->btnModeRangeSetRd, &ModePage::ModeRangeSetRd},
        {ui->btnModeRangeSetWr, &ModePage::ModeRangeSetWr},
        {ui->btnModeBottomRangeRd, &ModePage::ModeBottomRangeRd},
        {ui->btnModeBottomRangeWr, &ModePage::ModeBottomRangeWr},
        {ui->btnModeTopRangeRd, &ModePage::ModeTopRangeRd},
        {ui->btnModeTopRangeWr, &ModePage::ModeTopRangeWr},
        {ui->btnModeUnitRd, &ModePage::ModeUnitRd},
        {ui->btnModeUnitWr, &ModePage::ModeUnitWr},
        {ui->btnModeScaleTypeRd, &ModePage::ModeScaleTypeRd},
        {ui->btnModeScaleTypeWr, &ModePage::ModeScaleTypeWr},
        {ui->btnModeBlinkRd, &ModePage::ModeBlinkRd},
        {ui->btnModeBlinkWr, &ModePage::ModeBlinkWr},
    };
    for (const auto &[button, operation] : operations)
        connect(button, &QPushButton::clicked, this, operation);

    for (QRadioButton *button : decimalPointButtons()) {
        connect(button, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                ActionDecPointChangeExecute();
        });
    }
}

void ModePage::ModeAllRd()
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

void ModePage::ModeDeadSpaceRd()
{
    readParameter(prmModeDeadSpace, ui->edtModeDeadSpace,
                  [this] { showModeDeadSpace(RegisterCodec::floatFrom(buffer().data())); });
}

void ModePage::ModeDeadSpaceWr()
{
    QLineEdit *edit = ui->edtModeDeadSpace;
    writeModeFloat(prmModeDeadSpace, edit, [edit](float value) {
        const float lowest = float(deadSpace().lowest);
        const float highest = float(deadSpace().highest);
        if (value < lowest) {
            edit->setText(QString::number(lowest));
            return lowest;
        }
        if (value > highest) {
            edit->setText(QString::number(highest));
            return highest;
        }
        return value;
    });
}

void ModePage::ModeRangeSetRd()
{
    readModeFloat(prmModeRangeSet, ui->edtModeRangeSet);
}

// The set point's limit holds while the user types only; the device takes what the field holds.
void ModePage::ModeRangeSetWr()
{
    writeModeFloat(prmModeRangeSet, ui->edtModeRangeSet, [](float value) { return value; });
}

void ModePage::ModeBottomRangeRd()
{
    readModeFloat(prmModeBottomRange, ui->edtModeBottomRange);
}

void ModePage::ModeBottomRangeWr()
{
    writeModeFloat(prmModeBottomRange, ui->edtModeBottomRange,
                   [this](float value) { return keepBelow(value, ui->edtModeBottomRange, ui->edtModeTopRange); });
}

void ModePage::ModeTopRangeRd()
{
    readModeFloat(prmModeTopRange, ui->edtModeTopRange);
}

// Kept above the bottom, but not cut to TopRangeLimit: that limit is for typing.
void ModePage::ModeTopRangeWr()
{
    writeModeFloat(prmModeTopRange, ui->edtModeTopRange,
                   [this](float value) { return keepAbove(value, ui->edtModeTopRange, ui->edtModeBottomRange); });
}

void ModePage::ModeRElSignalBottomRangeRd()
{
    readModeFloat(prmModeRElSignalBottomRange, ui->edtModeRElSignalBottomRange);
}

void ModePage::ModeRElSignalBottomRangeWr()
{
    writeModeFloat(prmModeRElSignalBottomRange, ui->edtModeRElSignalBottomRange, [this](float value) {
        return keepBelow(value, ui->edtModeRElSignalBottomRange, ui->edtModeRElSignalTopRange);
    });
}

void ModePage::ModeRElSignalTopRangeRd()
{
    readModeFloat(prmModeRElSignalTopRange, ui->edtModeRElSignalTopRange);
}

void ModePage::ModeRElSignalTopRangeWr()
{
    writeModeFloat(prmModeRElSignalTopRange, ui->edtModeRElSignalTopRange, [this](float value) {
        return keepAbove(value, ui->edtModeRElSignalTopRange, ui->edtModeRElSignalBottomRange);
    });
}

void ModePage::readModeFloat(TParamId id, QLineEdit *edit)
{
    readParameter(id, edit, [this, id, edit] { showModeFloat(id, edit); });
}

void ModePage::showModeFloat(TParamId id, QLineEdit *edit)
{
    edit->setText(RegionalNumber::text(RegisterCodec::floatFrom(buffer().data()), Catalogue::of(id).decimals));
}

// A value the field cannot hold is not shown as another number without a sign: the field shows
// the nearest it holds in red, and the device's own value in its tool tip.
void ModePage::showModeDeadSpace(float value)
{
    QLineEdit *edit = ui->edtModeDeadSpace;
    const int decimals = deadSpace().decimals;
    const float lowest = float(deadSpace().lowest);
    const QString exact = RegionalNumber::text(value, decimals);
    const bool fits = value >= lowest && exact.size() == 3 && exact.front().isDigit();
    if (fits) {
        edit->setToolTip({});
        edit->setText(exact);
        return;
    }
    const float shown = std::isnan(value) ? lowest : std::clamp(value, lowest, kDeadSpaceFieldHighest);
    edit->setToolTip(RegionalNumber::text(value, Catalogue::of(prmModeTopRange).decimals));
    edit->setText(RegionalNumber::text(shown, decimals));
    setTextColour(edit, kFailureColour);
}

// A field that holds no number, or none a single-precision value can carry, is refused rather
// than sent as 0. rule may correct the value and its field, or raise NumberConversionError for
// a partner field that holds no number; then nothing is sent.
void ModePage::writeModeFloat(TParamId id, QLineEdit *edit, const std::function<float(float)> &rule)
{
    const auto put = [this, edit, &rule] {
        const std::optional<float> typed = numberIn(edit);
        if (!typed || !std::isfinite(*typed))
            return false;
        RegisterCodec::putFloat(rule(*typed), buffer().data());
        return true;
    };
    writeParameter(id, edit, put, [this, id, edit] { showModeFloat(id, edit); });
}

float ModePage::keepBelow(float value, QLineEdit *edit, QLineEdit *top)
{
    const float limit = float(RegionalNumber::read(top->displayText()));
    if (value <= limit)
        return value;
    edit->setText(RegionalNumber::text(limit, Catalogue::of(prmModeTopRange).decimals));
    return limit;
}

float ModePage::keepAbove(float value, QLineEdit *edit, QLineEdit *bottom)
{
    const float limit = float(RegionalNumber::read(bottom->displayText()));
    if (value >= limit)
        return value;
    edit->setText(RegionalNumber::text(limit, Catalogue::of(prmModeTopRange).decimals));
    return limit;
}

// ---- Codes ----

// The track bar holds its position within 0..2, so a larger code shows as 2.
void ModePage::ModeBrightnessRd()
{
    readParameter(prmModeBrightness, nullptr, [this] { ui->TrackBarBrightness->setValue(buffer()[0]); });
}

void ModePage::ModeBrightnessWr()
{
    const auto put = [this] {
        buffer()[0] = quint16(ui->TrackBarBrightness->value());
        return true;
    };
    writeParameter(prmModeBrightness, nullptr, put, [this] { ui->TrackBarBrightness->setValue(buffer()[0]); });
}

// A code the four buttons do not know leaves them as they are; a failed read leaves none
// checked, so that a write cannot send a decimal point the device never had.
void ModePage::ModeDecimalPointPosRd()
{
    const auto buttons = decimalPointButtons();
    const auto show = [this, buttons] {
        if (buffer()[0] < buttons.size())
            buttons[buffer()[0]]->setChecked(true);
    };
    const std::optional<qint16> code = readParameter(prmModeDecimalPointPos, nullptr, show);
    if (code && *code < lrOk)
        uncheckAll(buttons);
}

void ModePage::ModeDecimalPointPosWr()
{
    const auto put = [this] {
        const int checked = checkedIndex(decimalPointButtons());
        if (checked < 0)
            return false;
        buffer()[0] = quint16(checked);
        return true;
    };
    writeParameter(prmModeDecimalPointPos, nullptr, put, [] {});
}

// The group keeps its index within its items: a code above the last selects the last.
void ModePage::ModeScaleTypeRd()
{
    const auto items = scaleTypeItems();
    const auto show = [this, items] { items[std::min<size_t>(buffer()[0], items.size() - 1)]->setChecked(true); };
    const std::optional<qint16> code = readParameter(prmModeScaleType, ui->rgModeScaleType, show);
    if (code && *code < lrOk)
        uncheckAll(items);
}

// Without a chosen item there is nothing to send, and nothing to say about it. A failed write
// clears the choice.
void ModePage::ModeScaleTypeWr()
{
    const auto items = scaleTypeItems();
    const int selected = checkedIndex(items);
    if (selected < 0)
        return;
    const auto put = [this, selected] {
        buffer()[0] = quint16(selected);
        return true;
    };
    const std::optional<qint16> code = writeParameter(prmModeScaleType, ui->rgModeScaleType, put, [] {});
    if (code && *code < lrOk)
        uncheckAll(items);
}

void ModePage::ModeBlinkRd()
{
    readParameter(prmModeBlink, ui->checkModeBlink, [this] { ui->checkModeBlink->setChecked(buffer()[0] != 0); });
}

// The write shows its outcome in the box's background, which stays red through later reads
// until a write succeeds.
void ModePage::ModeBlinkWr()
{
    QCheckBox *box = ui->checkModeBlink;
    const auto put = [this, box] {
        buffer()[0] = box->isChecked() ? 1 : 0;
        return true;
    };
    const std::optional<qint16> code =
        writeParameter(prmModeBlink, nullptr, put, [this, box] { box->setChecked(buffer()[0] != 0); });
    if (code)
        setBackgroundColour(box, *code < lrOk ? kFailureColour : QApplication::palette().color(QPalette::Button));
}

// ---- Register text ----

void ModePage::ModeUnitRd()
{
    readParameter(prmModeUnit, ui->edtModeUnit,
                  [this] { ui->edtModeUnit->setText(RegisterCodec::textFrom(buffer().data(), m_session.ParamBytes)); });
}

// The field's blank positions go out as spaces; the cleared buffer ends a shorter text with zeros.
void ModePage::ModeUnitWr()
{
    QLineEdit *edit = ui->edtModeUnit;
    const auto put = [this, edit] {
        RegisterCodec::putText(edit->displayText(), buffer().data(), m_session.ParamBytes);
        return true;
    };
    writeParameter(prmModeUnit, edit, put,
                   [this, edit] { edit->setText(RegisterCodec::textFrom(buffer().data(), m_session.ParamBytes)); });
}

std::array<QRadioButton *, 4> ModePage::scaleTypeItems() const
{
    return {ui->rgModeScaleTypeItem0, ui->rgModeScaleTypeItem1, ui->rgModeScaleTypeItem2, ui->rgModeScaleTypeItem3};
}
