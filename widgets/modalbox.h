#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

// Every modal box of the program goes through exec(), so that a test can take the box instead
// of waiting on it.
namespace ModalBox {

// Gets the box in place of its own event loop; its return value is the box's result.
using Interceptor = std::function<int(QDialog &box)>;

// Tests only: an empty interceptor gives the boxes back to the user.
void setInterceptor(Interceptor interceptor);

int exec(QDialog &box);

// A warning with an OK button, titled with the application title.
void warning(QWidget *parent, const QString &text);

// A question with Yes and No, No the default; true for Yes.
bool question(QWidget *parent, const QString &text);

// The standard error message box: error icon, OK, the application title as caption, and the
// message with a full stop appended unless it already ends in one.
void error(QWidget *parent, const QString &message);

} // namespace ModalBox
