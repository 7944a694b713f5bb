#include "platformclick.h"

#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

void platformClick(QWidget *widget)
{
    QWidget *top = widget->window();
    QWindow *window = top->windowHandle();
    if (!window)
        qFatal("%s is in no window that the platform shows", qPrintable(widget->objectName()));
    const QPoint middle = widget->rect().center();
    const QPointF local = widget->mapTo(top, middle);
    const QPointF global = widget->mapToGlobal(middle);
    using Delivery = QWindowSystemInterface::AsynchronousDelivery;
    QWindowSystemInterface::handleMouseEvent<Delivery>(window, local, global, Qt::LeftButton, Qt::LeftButton,
                                                       QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Delivery>(window, local, global, Qt::NoButton, Qt::LeftButton,
                                                       QEvent::MouseButtonRelease);
}
