#pragma once

#include "devicepage.h"

#include <array>
#include <functional>
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

    void ModeAllRd();
    void ModeDeadSpaceRd();
    void ModeDeadSpaceWr();
    void ModeBrightnessRd();
    void ModeBrightnessWr();
    void ModeRElSignalBottomRangeRd();
    void ModeRElSignalBottomRangeWr();
    void ModeRElSignalTopRangeRd();
    void ModeRElSignalTopRangeWr();
    void ModeDecimalPointPosRd();
    void ModeDecimalPointPosWr();
    void ModeRangeSetRd();
    void ModeRangeSetWr();
    void ModeBottomRangeRd();
    void ModeBottomRangeWr();
    void ModeTopRangeRd();
    void ModeTopRangeWr();
    void ModeUnitRd();
    void ModeUnitWr();
    void ModeScaleTypeRd();
    void ModeScaleTypeWr();
    void ModeBlinkRd();
    void ModeBlinkWr();

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
    void connectControls();

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
    void readModeFloat(TParamId id, QLineEdit *edit);
    void writeModeFloat(TParamId id, QLineEdit *edit, const std::function<float(float)> &rule);
    float keepBelow(float value, QLineEdit *edit, QLineEdit *top);
    float keepAbove(float value, QLineEdit *edit, QLineEdit *bottom);
    void showModeDeadSpace(float value);
    void showModeFloat(TParamId id, QLineEdit *edit);
    std::array<QRadioButton *, 4> scaleTypeItems() const;

    std::unique_ptr<Ui::ModePage> ui;
    std::array<ModeField, 6> m_modeFields{};
    bool m_standardIconsSet = false;
};
