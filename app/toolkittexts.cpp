#include "toolkittexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstring>

namespace ToolkitTexts {

namespace {

// Qt 6 moved the file types of its file dialog («Папка» in the column «Тип») into a context of
// their own that Qt 6.4's Russian translation does not hold yet; these fill that gap.
class FileTypeTexts : public QTranslator
{
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (std::strcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const std::pair<const char *, const char *> kTexts[] = {
            {"Folder", "Папка"}, {"File Folder", "Папка"}, {"Drive", "Диск"},
            {"File", "Файл"},    {"%1 File", "Файл %1"},   {"Shortcut", "Ярлык"},
            {"Alias", "Псевдоним"},
        };
        for (const auto &[english, russian] : kTexts)
            if (std::strcmp(sourceText, english) == 0)
                return QString::fromUtf8(russian);
        return {};
    }
};

} // namespace

QTranslator *installRussian()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    // A child of the translation, so that removing the one removes both.
    QCoreApplication::installTranslator(new FileTypeTexts(translator));
    return translator;
}

} // namespace ToolkitTexts
