#include "framewords.h"

#include "catalogue.h"
#include "rtuframe.h"

namespace FrameWords {

namespace {

// Both requests start with address, function, first register and count: 6 bytes.
constexpr int kRequestHeaderSize = 6;

QString registersInWords(const QString &verb, quint16 first, quint16 count)
{
    const QString run = QStringLiteral("%1, %2 рег.").arg(hexNumber(first, 4)).arg(count);
    const Catalogue::Parameter *parameter = Catalogue::at(first, count);
    if (!parameter)
        return verb + u' ' + run;
    const QString &caption = parameter->caption;
    return QStringLiteral("%1: %2%3 (%4)").arg(verb, caption.first(1).toLower(), caption.sliced(1), run);
}

} // namespace

QString hexBytes(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString hexNumber(uint value, int digits)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString requestInWords(QByteArrayView request)
{
    if (request.size() < kRequestHeaderSize)
        return {};
    const quint8 function = quint8(request[1]);
    const quint16 first = Rtu::wordAt(request, 2);
    const quint16 count = Rtu::wordAt(request, 4);
    switch (function) {
    case Rtu::fnReadHoldingRegisters:
        return registersInWords(QStringLiteral("чтение"), first, count);
    case Rtu::fnWriteMultipleRegisters:
        return registersInWords(QStringLiteral("запись"), first, count);
    default:
        return QStringLiteral("функция ") + hexNumber(function, 2);
    }
}

QString escapedControls(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString exceptionName(quint8 code)
{
    switch (code) {
    case 0x01:
        return QStringLiteral("неверная функция");
    case 0x02:
        return QStringLiteral("неверный адрес");
    case 0x03:
        return QStringLiteral("неверное значение");
    case 0x04:
        return QStringLiteral("отказ прибора");
    case 0x05:
        return QStringLiteral("запрос принят, выполняется");
    case 0x06:
        return QStringLiteral("прибор занят");
    case 0x08:
        return QStringLiteral("ошибка чётности памяти");
    case 0x0A:
        return QStringLiteral("шлюз: нет пути");
    case 0x0B:
        return QStringLiteral("шлюз: прибор не ответил");
    default:
        return QStringLiteral("исключение");
    }
}

} // namespace FrameWords
