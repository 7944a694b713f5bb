#include "modalbox.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace ModalBox {

namespace {

Interceptor &interceptor()
{
    static Interceptor instance;
    return instance;
}

void showMessage(QWidget *parent, QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
    exec(box);
}

} // namespace

void setInterceptor(Interceptor replacement)
{
    interceptor() = std::move(replacement);
}

int exec(QDialog &box)
{
    if (interceptor())
        return interceptor()(box);
    return box.exec();
}

void warning(QWidget *parent, const QString &text)
{
    showMessage(parent, QMessageBox::Warning, text);
}

bool question(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return exec(box) == QMessageBox::Yes;
}

void error(QWidget *parent, const QString &message)
{
    showMessage(parent, QMessageBox::Critical, message.endsWith(u'.') ? message : message + u'.');
}

} // namespace ModalBox
