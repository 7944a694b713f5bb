// How the outcome of an exchange shows: a message in the error area and the colour of the text
// of the control that shows the value.
#include "mainform.h"

#include "resultcodes.h"
#include "ui_mainform.h"

#include <QApplication>

namespace {
} // namespace

QString TfrmMain::ResultText(qint16 code)
{
    switch (code) {
    case lrNotConnected:
        return QStringLiteral("Ошибка! Соединение не установлено!");
    case lrWriteFailed:
        return QStringLiteral("Ошибка записи в ПОРТ");
    case lrBadCrc:
        return QStringLiteral("Ошибка! Неверная контрольная сумма!");
    case lrDeviceError:
        return QStringLiteral("Ошибка! Прибор отклонил запрос!");
    case lrIncomplete:
        return QStringLiteral("Ошибка! Сообщение принято не полностью!");
    case lrNoAnswer:
        return QStringLiteral("Ошибка! Нет овета!");
    case lrBadParameters:
        return QStringLiteral("Ошибка! Неправильные параметры!");
    default:
        return {};
    }
}

void TfrmMain::showOutcome(qint16 code, QWidget *valueControl)
{
    colourOutcome(code, valueControl);
    ui->lblErrors->setText(code < lrOk ? ResultText(code) : QString());
}

void TfrmMain::colourOutcome(qint16 code, QWidget *valueControl)
{
    if (valueControl)
        setTextColour(valueControl, code < lrOk ? kFailureColour : QApplication::palette().color(QPalette::WindowText));
}
