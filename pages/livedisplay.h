#pragma once

#include <QtGlobal>

class QLineEdit;

// The device's own display as the Readings and Calibration pages show it, live.
namespace LiveDisplay {

// Large type on the button face, as the device's own display stands out on its panel.
void setUp(QLineEdit *display);
// The display text held in registers (host order). Set only when it changed: an unchanged
// reading redraws nothing.
void show(QLineEdit *display, const quint16 *registers);

} // namespace LiveDisplay
