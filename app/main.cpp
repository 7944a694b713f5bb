#include "glyphs.h"
#include "mainform.h"
#include "modalbox.h"
#include "toolkittexts.h"

#include <QApplication>

#include <exception>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // The program's own texts are Russian on every desktop, so the toolkit's too: a window half
    // in one language would be worse than either.
    ToolkitTexts::installRussian();
    try {
        QApplication::setApplicationName(QStringLiteral("Конфигуратор индикатора"));
        QApplication::setWindowIcon(Glyphs::applicationIcon());
        TfrmMain window;
        window.show();
        QApplication::exec();
    } catch (const std::exception &failure) {
        ModalBox::error(nullptr, QString::fromLocal8Bit(failure.what()));
    } catch (...) {
        ModalBox::error(nullptr, QString());
    }
    return 0;
}
