#include "toolkittexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace ToolkitTexts {

QTranslator *installRussian()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

} // namespace ToolkitTexts
