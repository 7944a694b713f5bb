// Mode page, value entry: the checks that correct the value fields while the user types, tied
// to the input focus, and the two-way tie between the top of the ordered range and the decimal
// point.
//
// A check corrects only its own field and only what the user sees; nothing goes to the device
// until a write button is pressed. A check that finds a field it reads holding no number yet (an
// empty partner, a lone minus on the way to -5) lets that keystroke pass: a box at every
// keystroke would keep a negative value from ever being typed.
#include "modepage.h"

#include "catalogue.h"
#include "handlers.h"
#include "moderules.h"
#include "ui_modepage.h"

#include <QFocusEvent>

namespace {

// Watches the focus of the value fields. Focus lost to another window or to a menu is no
// change of field: the user comes back to the same field with the same check.
class FocusWatcher : public QObject
{
public:
    using Handler = std::function<void(QObject *watched, bool focusIn)>;

    FocusWatcher(QObject *parent, Handler handler) : QObject(parent), m_handler(std::move(handler)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                m_handler(watched, event->type() == QEvent::FocusIn);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    Handler m_handler;
};

QString rangeText(double value)
{
    return RegionalNumber::text(value, Catalogue::of(prmModeTopRange).decimals);
}

// Setting a field to the text it holds is no change: a correction that runs its check again
// ends there, one level deep.
void correct(QLineEdit *edit, const QString &text)
{
    if (edit->text() != text)
        edit->setText(text);
}

} // namespace

std::optional<float> ModePage::numberIn(const QLineEdit *edit)
{
    try {
        return float(RegionalNumber::read(edit->displayText()));
    } catch (const NumberConversionError &) {
        return std::nullopt;
    }
}

// The dead-space field checks from the start, also what a read puts there, until it first loses
// the focus; the top field runs the decimal-point rule whenever it is not focused.
void ModePage::setUpModeFields()
{
    const QString separator = RegionalNumber::decimalSeparator();
    ui->edtModeDeadSpace->setInputMask(QStringLiteral("0") + separator + QStringLiteral("0;0"));

    m_modeFields = {{
        {ui->edtModeDeadSpace, &ModePage::edtModeDeadSpaceChange, false, nullptr, &ModePage::edtModeDeadSpaceChange},
        {ui->edtModeRangeSet, &ModePage::edtModeRangeSetChange, true, nullptr, nullptr},
        {ui->edtModeBottomRange, &ModePage::edtModeBottomRangeChange, false, nullptr, nullptr},
        {ui->edtModeTopRange, &ModePage::edtModeTopRangeChange, true, &ModePage::edtModeTopRangeChange1,
         &ModePage::edtModeTopRangeChange1},
        {ui->edtModeRElSignalBottomRange, &ModePage::edtModeRElSignalBottomRangeChange, false, nullptr, nullptr},
        {ui->edtModeRElSignalTopRange, &ModePage::edtModeRElSignalTopRangeChange, false, nullptr, nullptr},
    }};

    auto *watcher = new FocusWatcher(this, [this](QObject *watched, bool focusIn) {
        for (ModeField &field : m_modeFields) {
            if (field.edit == watched)
                Handlers::run(this, [&] { modeFieldFocus(field, focusIn); });
        }
    });
    for (const ModeField &field : m_modeFields) {
        field.edit->installEventFilter(watcher);
        Handlers::connect(field.edit, &QLineEdit::textChanged, this, [this, &field] { runAttachedCheck(field); });
    }
}

void ModePage::modeFieldFocus(ModeField &field, bool focusIn)
{
    if (focusIn) {
        if (field.checkOnEntry)
            (this->*field.focusedCheck)();
        field.attached = field.focusedCheck;
        return;
    }
    field.attached = field.blurredCheck;
    if (field.blurredCheck)
        (this->*field.blurredCheck)();
}

void ModePage::runAttachedCheck(const ModeField &field)
{
    if (field.attached)
        (this->*field.attached)();
}

void ModePage::edtModeDeadSpaceChange()
{
    const Catalogue::Parameter &deadSpace = Catalogue::of(prmModeDeadSpace);
    const float value = numberIn(ui->edtModeDeadSpace).value_or(0);
    if (value < float(deadSpace.lowest))
        correct(ui->edtModeDeadSpace, QString::number(deadSpace.lowest));
    else if (value > float(deadSpace.highest))
        correct(ui->edtModeDeadSpace, QString::number(deadSpace.highest));
}

void ModePage::edtModeRangeSetChange()
{
    const std::optional<float> top = numberIn(ui->edtModeTopRange);
    const std::optional<float> setPoint = numberIn(ui->edtModeRangeSet);
    if (!top || !setPoint)
        return;
    const double limit = ModeRules::setPointLimit(*top);
    if (*setPoint > limit)
        correct(ui->edtModeRangeSet, rangeText(limit));
}

void ModePage::edtModeBottomRangeChange()
{
    const float bottom = numberIn(ui->edtModeBottomRange).value_or(0);
    const std::optional<float> top = numberIn(ui->edtModeTopRange);
    if (top && bottom > *top)
        correct(ui->edtModeBottomRange, rangeText(*top));
}

void ModePage::edtModeRElSignalBottomRangeChange()
{
    const float bottom = numberIn(ui->edtModeRElSignalBottomRange).value_or(0);
    const std::optional<float> top = numberIn(ui->edtModeRElSignalTopRange);
    if (top && bottom > *top)
        correct(ui->edtModeRElSignalBottomRange, rangeText(*top));
}

void ModePage::edtModeRElSignalTopRangeChange()
{
    const float top = numberIn(ui->edtModeRElSignalTopRange).value_or(0);
    const std::optional<float> bottom = numberIn(ui->edtModeRElSignalBottomRange);
    if (bottom && top < *bottom)
        correct(ui->edtModeRElSignalTopRange, rangeText(*bottom));
}

// The limit comes after the bottom: a bottom above the limit leaves the top at the limit, below
// the bottom, since the digits cannot show more.
void ModePage::edtModeTopRangeChange()
{
    const float typed = numberIn(ui->edtModeTopRange).value_or(0);
    const std::optional<float> bottom = numberIn(ui->edtModeBottomRange);
    if (!bottom)
        return;
    float top = std::max(typed, *bottom);
    if (double(top) > TopRangeLimit)
        top = float(TopRangeLimit);
    if (top != typed)
        correct(ui->edtModeTopRange, rangeText(top));
    applyDecimalPointRule(top);
}

void ModePage::edtModeTopRangeChange1()
{
    applyDecimalPointRule(numberIn(ui->edtModeTopRange).value_or(0));
}

// Positions with more decimals than the top range leaves room for cannot be chosen, and a
// choice among them moves to the most decimals still possible. Checking a button sets
// TopRangeLimit at once, before the next button is enabled or disabled.
void ModePage::applyDecimalPointRule(float topRange)
{
    const std::array<QRadioButton *, 4> buttons = decimalPointButtons();
    const int mostDecimals = ModeRules::mostDecimals(topRange);
    for (int i = 0; i < int(buttons.size()); ++i) {
        const bool choosable = i <= mostDecimals;
        if (!choosable && buttons[i]->isChecked())
            buttons[mostDecimals]->setChecked(true);
        if (i == 0 && mostDecimals == 0)
            buttons[0]->setChecked(true);
        buttons[i]->setEnabled(choosable);
    }
}

std::array<QRadioButton *, 4> ModePage::decimalPointButtons() const
{
    return {ui->radioModeDecimalPointPos1, ui->radioModeDecimalPointPos2, ui->radioModeDecimalPointPos3,
            ui->radioModeDecimalPointPos4};
}

void ModePage::ActionDecPointChangeExecute()
{
    const std::array<QRadioButton *, 4> buttons = decimalPointButtons();
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i]->isChecked()) {
            TopRangeLimit = ModeRules::topRangeLimit(int(i));
            return;
        }
    }
}
