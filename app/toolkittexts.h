#pragma once

class QTranslator;

// The toolkit's own texts (the buttons of its boxes, its file dialog, an edit's context menu).
namespace ToolkitTexts {

// Installs Qt's Russian translation of them into the application, whatever the desktop's
// language: the program's own texts are Russian everywhere. The translator belongs to the
// application; none when the translation is not installed on this system.
QTranslator *installRussian();

} // namespace ToolkitTexts
