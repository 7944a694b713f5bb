#pragma once

#include <QString>

// The system's own words for a Windows error code, as GetLastError gives it.
namespace WinSystemText {

QString message(unsigned long error);

} // namespace WinSystemText
