#include "session.h"

#include "adapter.h"
#include "resultcodes.h"
#include "tcptransport.h"

#include <QTimer>

QString ResultText(qint16 code)
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
    case lrWrongReply:
        return QStringLiteral("Ошибка! Ответ не на запрос");
    case lrGatewayNoPath:
        return QStringLiteral("шлюз: нет пути к прибору");
    case lrGatewayNoAnswer:
        return QStringLiteral("шлюз: прибор не ответил");
    case lrBadParameters:
        return QStringLiteral("Ошибка! Неправильные параметры!");
    default:
        return {};
    }
}

// Behind a gateway, a unit that did not answer it, or one it has no path to, fails the same way
// at the next exchange.
bool LineFailed(qint16 code)
{
    return code == lrNoAnswer || code == lrWriteFailed || code == lrNotConnected || code == lrGatewayNoAnswer
        || code == lrGatewayNoPath;
}

Session::Session(QObject *parent) : QObject(parent)
{
    connect(&m_line, &Line::portLost, this, &Session::portLost);
}

Session::~Session() = default;

void Session::start(const LineSetup &line, QObject *receiver, std::function<void(bool opened)> opened)
{
    m_line.open(line, receiver, [this, opened = std::move(opened)](const LineOpened &outcome) {
        m_opened = outcome;
        opened(outcome.opened);
    });
}

void Session::stop()
{
    m_line.close();
}

QString Session::openFailureMessage(const QString &caption, const QString &device) const
{
    if (caption == device)
        return QStringLiteral("Ошибка! Порт %1 не открыт: %2").arg(caption, openFailureText());
    return QStringLiteral("Ошибка! Порт %1 не открыт (%2): %3").arg(caption, device, openFailureText());
}

// On a fresh Linux system a serial port is open only to the group dialout, unless the package's
// udev rule hands a USB adapter to the user at the desktop; over ssh the group is the way.
QString OpenFailureText(OpenFailure failure, const QString &portName, const QString &systemText)
{
    const std::optional<TcpTransport::Endpoint> server = TcpTransport::endpoint(portName);
    switch (failure) {
    case OpenFailure::NoDevice:
        return QStringLiteral("нет такого устройства");
    case OpenFailure::Busy:
        return QStringLiteral("порт занят другой программой");
    case OpenFailure::NoPermission:
        return QStringLiteral("нет доступа к порту; выполните sudo adduser $USER dialout и войдите в систему заново");
    case OpenFailure::LineSettings:
        return QStringLiteral("не выбраны параметры линии");
    case OpenFailure::BadAddress:
        return TcpTransport::isModbusTcpName(portName) ? QStringLiteral("адрес шлюза должен быть modbus-tcp://УЗЕЛ[:ПОРТ]")
                                                       : QStringLiteral("адрес сервера должен быть tcp://УЗЕЛ:ПОРТ");
    case OpenFailure::HostNotFound:
        return QStringLiteral("сервер %1 не найден").arg(server ? server->host : portName);
    case OpenFailure::NoAnswer:
        return QStringLiteral("сервер %1 не отвечает").arg(server ? server->text() : portName);
    case OpenFailure::Refused:
        return QStringLiteral("отказ в соединении");
    case OpenFailure::None:
    case OpenFailure::SystemError:
        break;
    }
    return systemText;
}

QString Session::openFailureText() const
{
    return OpenFailureText(m_opened.failure, m_opened.portName, m_opened.systemText);
}

namespace {

// The register and length of the parameter of an exchange, and the registers it carries,
// zeroed: what the exchange's request is made of, and nothing that outlives it.
struct Selection
{
    quint16 ParamRegister = 0;
    quint8 ParamBytes = 0;
    QList<quint16> ExchangeBuffer; // host order, ParamBytes / 2 registers
};

Selection SelectParameter(TParamId id)
{
    const TParamInfo &info = ParamMap[id];
    return {info.Register, info.Bytes, QList<quint16>(info.Bytes / 2, 0)};
}

} // namespace

bool Session::readValue(const Catalogue::Parameter &parameter, QObject *receiver, ReadDone done, Reporting reporting)
{
    return readValueAt(quint8(m_deviceNumber & 0xFF), parameter, receiver, std::move(done), reporting);
}

bool Session::readValueAt(quint8 address, const Catalogue::Parameter &parameter, QObject *receiver, ReadDone done,
                          Reporting reporting)
{
    if (!isConnected())
        return false;
    const Selection selected = SelectParameter(parameter.id);
    const LineRequest request = LineRequest::read(address, selected.ParamRegister, selected.ParamBytes / 2);
    m_line.request(request, receiver, [this, &parameter, reporting, done = std::move(done)](const LineReply &reply) {
        if (reporting == Reporting::Reported)
            report(reply.code, ResultText(reply.code));
        Reading reading{reply.code, {}};
        if (reply.code >= lrOk)
            reading.value = Catalogue::decode(parameter, reply.registers.data());
        done(reading);
    });
    return true;
}

bool Session::writeValue(const Catalogue::Parameter &parameter, const QVariant &value, QObject *receiver,
                         WriteDone done, QString *refusal)
{
    return writeValueAt(quint8(m_deviceNumber & 0xFF), parameter, value, receiver, std::move(done), refusal);
}

bool Session::writeValueAt(quint8 address, const Catalogue::Parameter &parameter, const QVariant &value,
                           QObject *receiver, WriteDone done, QString *refusal)
{
    if (!isConnected())
        return false;
    Selection selected = SelectParameter(parameter.id);
    const QString why = Catalogue::refusal(parameter, value);
    if (refusal)
        *refusal = why;
    if (!why.isEmpty()) {
        report(lrBadParameters, ResultText(lrBadParameters));
        done(lrBadParameters);
        return true;
    }
    Catalogue::encode(parameter, value, selected.ExchangeBuffer.data());
    const LineRequest request = LineRequest::write(address, selected.ParamRegister, selected.ExchangeBuffer);
    m_line.request(request, receiver, [this, done = std::move(done)](const LineReply &reply) {
        report(reply.code, ResultText(reply.code));
        done(reply.code);
    });
    return true;
}

void Session::report(qint16 code, const QString &text)
{
    emit outcome(code, text);
}
