#include "controls.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPalette>

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
