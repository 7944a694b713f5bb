#include "winsystemtext.h"

#include <windows.h>

namespace WinSystemText {

QString message(unsigned long error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString words = QString::fromWCharArray(text, int(length)).trimmed();
    LocalFree(text);
    return words.isEmpty() ? QStringLiteral("error %1").arg(error) : words;
}

} // namespace WinSystemText
