#pragma once

#include "devicepage.h"

#include <array>
#include <memory>
#include <optional>

class QLineEdit;
class QRadioButton;

namespace Ui {
class ModePage;
}

// Mode page: what the indicator shows and how. Each value has its read and its write; the
// value fields check what the user types, and the top of the ordered range and the decimal
// point limit each other.
class ModePage : public DevicePage
{
    Q_OBJECT

public:
    ModePage(Session &session, QWidget *parent);
    ~ModePage() override;

    void enter() override { ModeAllRd(); }
    void ModeAllRd();

    // The highest top range the user may type, set by the chosen decimal point. Until one is
    // chosen it is the most that the four digits show, so that nothing is cut before then.
    double TopRangeLimit = 9999;

protected:
    void showEvent(QShowEvent *event) override;

private:
    using ModeCheck = void (ModePage::*)();
    // A value field with the check that runs while it has the input focus.
    struct ModeField
    {
        QLineEdit *edit;
        ModeCheck focusedCheck;
        bool checkOnEntry;      // the check also runs once when the field gets the focus
        ModeCheck blurredCheck; // attached and run once when the field loses it; none: detached
        ModeCheck attached;     // the check that its text changes run now
    };

    void setUpControls();
    void bindControls();
    void connectDecimalPoints();

    // Value entry (modeentry.cpp)
    // A field's text as a single-precision number; none when the text is no number.
    static std::optional<float> numberIn(const QLineEdit *edit);
    void setUpModeFields();
    void modeFieldFocus(ModeField &field, bool focusIn);
    void runAttachedCheck(const ModeField &field);
    void edtModeDeadSpaceChange();
    void edtModeRangeSetChange();
    void edtModeBottomRangeChange();
    void edtModeTopRangeChange();
    void edtModeTopRangeChange1();
    void edtModeRElSignalBottomRangeChange();
    void edtModeRElSignalTopRangeChange();
    // radioModeDecimalPointPos1..4: no decimals to three.
    std::array<QRadioButton *, 4> decimalPointButtons() const;
    void applyDecimalPointRule(float topRange);
    void ActionDecPointChangeExecute();

    // Reads and writes (modepage.cpp)
    Binding floatBinding(TParamId id, QAbstractButton *readButton, QAbstractButton *writeButton, QLineEdit *edit);
    Binding decimalPointBinding();
    Binding scaleTypeBinding();
    Binding blinkBinding();
    QVariant floatToWrite(TParamId id, QLineEdit *edit);
    float keptInOrder(TParamId id, float value, QLineEdit *edit);
    void showModeDeadSpace(float value);
    std::array<QRadioButton *, 4> scaleTypeItems() const;

    std::unique_ptr<Ui::ModePage> ui;
    std::array<ModeField, 6> m_modeFields{};
    bool m_standardIconsSet = false;
};
