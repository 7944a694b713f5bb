// Mode page: the eleven display settings of the indicator, each read and written on its own.
// The checks that run while the user types are in modeentry.cpp.
#include "modepage.h"

#include "catalogue.h"
#include "controls.h"
#include "handlers.h"
#include "moderules.h"
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

// The other end of the range whose end id is, if it is one.
std::optional<TParamId> otherEnd(TParamId id)
{
    if (const std::optional<TParamId> top = Catalogue::of(id).rangeTop)
        return top;
    for (const Catalogue::Parameter &parameter : Catalogue::parameters()) {
        if (parameter.rangeTop == id)
            return parameter.id;
    }
    return std::nullopt;
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
    bindControls();
    connectDecimalPoints();
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

// The table in the order of the read-all. The decimal point comes before the ordered range: it
// sets the limit that the top range is shown against.
void ModePage::bindControls()
{
    bind({
        floatBinding(prmModeDeadSpace, ui->btnModeDeadSpaceRd, ui->btnModeDeadSpaceWr, ui->edtModeDeadSpace),
        // The track bar holds its position within 0..2, so a larger code shows as 2.
        {prmModeBrightness, ui->btnModeBrightnessRd, ui->btnModeBrightnessWr, nullptr,
         [this](const QVariant &v) { ui->TrackBarBrightness->setValue(v.toInt()); },
         [this] { return QVariant(ui->TrackBarBrightness->value()); }},
        floatBinding(prmModeRElSignalBottomRange, ui->btnModeRElSignalBottomRangeRd,
                     ui->btnModeRElSignalBottomRangeWr, ui->edtModeRElSignalBottomRange),
        floatBinding(prmModeRElSignalTopRange, ui->btnModeRElSignalTopRangeRd, ui->btnModeRElSignalTopRangeWr,
                     ui->edtModeRElSignalTopRange),
        decimalPointBinding(),
        // The set point's limit holds while the user types only; the device takes what the field holds.
        floatBinding(prmModeRangeSet, ui->btnModeRangeSetRd, ui->btnModeRangeSetWr, ui->edtModeRangeSet),
        floatBinding(prmModeBottomRange, ui->btnModeBottomRangeRd, ui->btnModeBottomRangeWr, ui->edtModeBottomRange),
        // Kept above the bottom, but not cut to TopRangeLimit: that limit is for typing.
        floatBinding(prmModeTopRange, ui->btnModeTopRangeRd, ui->btnModeTopRangeWr, ui->edtModeTopRange),
        // The field's blank positions go out as spaces, a shorter text ends with zeros.
        {prmModeUnit, ui->btnModeUnitRd, ui->btnModeUnitWr, ui->edtModeUnit,
         [this](const QVariant &v) { ui->edtModeUnit->setText(v.toString()); },
         [this] { return QVariant(ui->edtModeUnit->displayText()); }},
        scaleTypeBinding(),
        blinkBinding(),
    });
}

void ModePage::connectDecimalPoints()
{
    for (QRadioButton *button : decimalPointButtons()) {
        Handlers::connect(button, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                ActionDecPointChangeExecute();
        });
    }
}

void ModePage::ModeAllRd()
{
    readAll();
}

// ---- Register floats ----

DevicePage::Binding ModePage::floatBinding(TParamId id, QAbstractButton *readButton, QAbstractButton *writeButton,
                                           QLineEdit *edit)
{
    const auto show = [this, id, edit](const QVariant &v) {
        const float value = float(v.toDouble());
        if (id == prmModeDeadSpace)
            showModeDeadSpace(value);
        else
            edit->setText(RegionalNumber::text(value, Catalogue::of(id).decimals));
    };
    return {id, readButton, writeButton, edit, show, [this, id, edit] { return floatToWrite(id, edit); }};
}

// A field that holds no number, or none a single-precision value can carry, is refused rather
// than sent as 0. A value beyond the parameter's limits is brought to the nearer one, and the
// end of a range kept in order with the other end; the field shows the value that goes.
QVariant ModePage::floatToWrite(TParamId id, QLineEdit *edit)
{
    const std::optional<float> typed = numberIn(edit);
    if (!typed || !std::isfinite(*typed))
        return {};
    const Catalogue::Parameter &parameter = Catalogue::of(id);
    float value = *typed;
    if (value < float(parameter.lowest) || value > float(parameter.highest)) {
        value = float(value < float(parameter.lowest) ? parameter.lowest : parameter.highest);
        edit->setText(QString::number(value));
    }
    return double(keptInOrder(id, value, edit));
}

// The other end of the range is read without a guard: a field that holds no number raises
// NumberConversionError, and nothing is sent.
float ModePage::keptInOrder(TParamId id, float value, QLineEdit *edit)
{
    const std::optional<TParamId> other = otherEnd(id);
    if (!other)
        return value;
    const auto *otherEdit = qobject_cast<const QLineEdit *>(binding(*other).control);
    const float otherValue = float(RegionalNumber::read(otherEdit->displayText()));
    const QString key = Catalogue::of(id).key;
    const QMap<QString, QVariant> values{{key, double(value)}, {Catalogue::of(*other).key, double(otherValue)}};
    if (ModeRules::breaches(values, {key}).isEmpty())
        return value;
    edit->setText(RegionalNumber::text(otherValue, Catalogue::of(prmModeTopRange).decimals));
    return otherValue;
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

// ---- Codes ----

// A code the four buttons do not know leaves them as they are; a failed read leaves none
// checked, so that a write cannot send a decimal point the device never had. Neither the read
// nor the write colours anything.
DevicePage::Binding ModePage::decimalPointBinding()
{
    const auto buttons = decimalPointButtons();
    const auto show = [buttons](const QVariant &v) {
        if (v.toUInt() < buttons.size())
            buttons[v.toUInt()]->setChecked(true);
    };
    const auto value = [buttons]() -> std::optional<QVariant> {
        const int checked = checkedIndex(buttons);
        return checked < 0 ? QVariant() : QVariant(checked);
    };
    const auto after = [buttons](Exchange exchange, qint16 code) {
        if (exchange == Exchange::Read && code < lrOk)
            uncheckAll(buttons);
    };
    return {prmModeDecimalPointPos, ui->btnModeDecimalPointPosRd, ui->btnModeDecimalPointPosWr, nullptr, show, value,
            after};
}

// The group keeps its index within its items: a code above the last selects the last. Without
// a chosen item a write has nothing to send, and nothing to say about it; a failed exchange
// clears the choice.
DevicePage::Binding ModePage::scaleTypeBinding()
{
    const auto items = scaleTypeItems();
    const auto show = [items](const QVariant &v) { items[std::min<size_t>(v.toUInt(), items.size() - 1)]->setChecked(true); };
    const auto value = [items]() -> std::optional<QVariant> {
        const int selected = checkedIndex(items);
        return selected < 0 ? std::nullopt : std::optional<QVariant>(selected);
    };
    const auto after = [items](Exchange, qint16 code) {
        if (code < lrOk)
            uncheckAll(items);
    };
    return {prmModeScaleType, ui->btnModeScaleTypeRd, ui->btnModeScaleTypeWr, ui->rgModeScaleType, show, value, after};
}

// The read colours the box's text; the write its background, which stays red through later
// reads until a write succeeds.
DevicePage::Binding ModePage::blinkBinding()
{
    QCheckBox *box = ui->checkModeBlink;
    const auto after = [box](Exchange exchange, qint16 code) {
        if (exchange == Exchange::Write)
            setBackgroundColour(box, code < lrOk ? kFailureColour : QApplication::palette().color(QPalette::Button));
    };
    return {prmModeBlink,
            ui->btnModeBlinkRd,
            ui->btnModeBlinkWr,
            box,
            [box](const QVariant &v) { box->setChecked(v.toInt() != 0); },
            [box] { return QVariant(box->isChecked() ? 1 : 0); },
            after,
            false};
}

std::array<QRadioButton *, 4> ModePage::scaleTypeItems() const
{
    return {ui->rgModeScaleTypeItem0, ui->rgModeScaleTypeItem1, ui->rgModeScaleTypeItem2, ui->rgModeScaleTypeItem3};
}
