#include "handlers.h"

#include "modalbox.h"

#include <QLocale>

NumberConversionError::NumberConversionError(const QString &text)
    : std::runtime_error("number conversion"),
      m_message(QStringLiteral("'%1' is not a valid floating point value").arg(text))
{
}

namespace RegionalNumber {

namespace {
QLocale regional()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}
} // namespace

QString decimalSeparator()
{
    return regional().decimalPoint();
}

double read(const QString &text)
{
    bool isNumber = false;
    const double value = regional().toDouble(text.trimmed(), &isNumber);
    if (!isNumber)
        throw NumberConversionError(text);
    return value;
}

QString text(double value, int decimals)
{
    return regional().toString(value, 'f', decimals);
}

} // namespace RegionalNumber

namespace Handlers {

void run(QWidget *boxParent, const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const NumberConversionError &failure) {
        ModalBox::error(boxParent, failure.message());
    }
}

} // namespace Handlers
