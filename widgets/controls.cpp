#include "controls.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPalette>
#include <QScrollBar>

#include <memory>

void setTextColour(QWidget *control, const QColor &colour)
{
    QPalette palette = control->palette();
    // Edits draw their text in Text, labels in WindowText, closed lists in ButtonText.
    for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        palette.setColor(role, colour);
    control->setPalette(palette);
}

void selectRow(QComboBox *list, qint64 row)
{
    list->setCurrentIndex(row >= 0 && row < list->count() ? int(row) : -1);
}

int wholeNumberOr(const QString &text, int fallback)
{
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    return isNumber ? number : fallback;
}

void showNumber(QLineEdit *edit, int number)
{
    const QString text = QString::number(number);
    if (edit->text() != text)
        edit->setText(text);
}

void followNewRows(QAbstractItemView *view, QAbstractItemModel *model)
{
    auto atEnd = std::make_shared<bool>(true);
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted, view, [view, atEnd] {
        const QScrollBar *bar = view->verticalScrollBar();
        *atEnd = bar->value() == bar->maximum();
    });
    QObject::connect(model, &QAbstractItemModel::rowsInserted, view, [view, atEnd] {
        if (*atEnd)
            view->scrollToBottom();
    });
}
