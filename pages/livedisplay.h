#pragma once

#include <QString>

#include "trendpanel.h"

#include <optional>

class QGroupBox;
class QLineEdit;

// The device's own display as the Readings and Calibration pages show it, live.
namespace LiveDisplay {

// Large type on the button face, as the device's own display stands out on its panel.
void setUp(QLineEdit *display);
// The display text as the device sent it. Set only when it changed: an unchanged reading
// redraws nothing.
void show(QLineEdit *display, const QString &text);

// The display text as a reading for the trend: "-12.34", "12,5"; none for a text that is no
// number ("----", "Err").
std::optional<double> number(const QString &text);

// The page's controls, as its form places them, go into the top of a splitter and the trend below
// them: dragging the handle up gives the trend the page and clips the controls, never covers them.
TrendPanel *addTrend(QGroupBox *page, TrendPanel::About about);

} // namespace LiveDisplay
