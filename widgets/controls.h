#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>

class QAbstractItemModel;
class QAbstractItemView;
class QComboBox;
class QLineEdit;
class QWidget;

// The colours of outcomes and the small helpers that several windows apply to their controls.

// Pure red: a value whose last exchange failed, a fault the device reports.
inline constexpr QColor kFailureColour(255, 0, 0);

// Colours a control's text: the one place where outcome colours are applied.
void setTextColour(QWidget *control, const QColor &colour);

// Selects the row of a list, or no row when there is no such row.
void selectRow(QComboBox *list, qint64 row);

// The text of an edit read as a whole decimal number, or fallback when it is none.
int wholeNumberOr(const QString &text, int fallback);
// Puts a number into an edit, touching it only when its text differs, so that a change
// handler that calls this does not run again for nothing.
void showNumber(QLineEdit *edit, int number);

// New rows of model scroll into view while the user watches the end of the view; a user who has
// scrolled back to read older rows keeps his place.
void followNewRows(QAbstractItemView *view, QAbstractItemModel *model);
