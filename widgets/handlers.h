#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <stdexcept>
#include <type_traits>

class QWidget;

// A text that the user meant as a number and that is none. Raised inside an event handler, it
// abandons the rest of that handler and shows in the standard error box; nothing else is
// ever thrown at the user.
class NumberConversionError : public std::runtime_error
{
public:
    explicit NumberConversionError(const QString &text);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Numbers as the user writes them: the regional decimal separator, no digit grouping. The
// region is the user's system locale, or the one a program sets with QLocale::setDefault.
namespace RegionalNumber {

// "," in a Russian locale, "." in an English one.
QString decimalSeparator();

// The text as a number; leading and trailing blanks are allowed. Throws NumberConversionError
// ("'<text>' is not a valid floating point value") when it is none.
double read(const QString &text);
// The number in fixed point with the given decimals: 1.5 shows as "1,500" in a Russian locale.
QString text(double value, int decimals);

} // namespace RegionalNumber

namespace Handlers {

// Runs one event handler: a NumberConversionError that leaves it is shown in the standard error
// box over boxParent, and the program goes on with the next event.
void run(QWidget *boxParent, const std::function<void()> &handler);

// Connects a signal to an event handler that runs through run(): a member function of receiver
// or a callable, taking the signal's arguments or none.
template <typename Sender, typename Signal, typename Receiver, typename Handler>
QMetaObject::Connection connect(Sender *sender, Signal signal, Receiver *receiver, Handler handler)
{
    return QObject::connect(sender, signal, receiver, [receiver, handler](const auto &...args) {
        run(receiver, [&] {
            if constexpr (std::is_invocable_v<Handler, Receiver *, decltype(args)...>)
                std::invoke(handler, receiver, args...);
            else if constexpr (std::is_invocable_v<Handler, Receiver *>)
                std::invoke(handler, receiver);
            else if constexpr (std::is_invocable_v<Handler, decltype(args)...>)
                std::invoke(handler, args...);
            else
                std::invoke(handler);
        });
    });
}

} // namespace Handlers
