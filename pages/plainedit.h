#pragma once

#include <QLineEdit>

// An edit that keeps its text unselected when it takes the focus, also by Tab: a name or a
// version is looked at or corrected far more often than replaced whole.
class PlainEdit : public QLineEdit
{
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent *event) override
    {
        QLineEdit::focusInEvent(event);
        deselect();
    }
};
