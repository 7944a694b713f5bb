#include "glyphs.h"
#include "mainform.h"
#include "modalbox.h"

#include <QApplication>

#include <exception>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
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
