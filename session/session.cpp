#include "session.h"

#include "adapter.h"
#include "resultcodes.h"
#include "tcptransport.h"

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
    case lrBadParameters:
        return QStringLiteral("Ошибка! Неправильные параметры!");
    default:
        return {};
    }
}

bool LineFailed(qint16 code)
{
    return code == lrNoAnswer || code == lrWriteFailed || code == lrNotConnected;
}

Session::Session(QObject *parent) : QObject(parent) {}

Session::~Session()
{
    stop();
}

// An adapter whose port did not open stays until the next start or stop, unconnected.
bool Session::start(const LineSetup &line)
{
    stop();
    m_lossReported = false;
    m_adapter = std::make_unique<CAdapter>();
    m_adapter->PortNumber = line.portNumber;
    m_adapter->SpeedNumber = line.speedNumber;
    m_adapter->TimeOut = line.timeOut;
    m_adapter->Parity = line.parity;
    m_adapter->StopBits = line.stopBits;
    m_adapter->PortName = line.portName;
    m_adapter->setObserver(m_observer);
    if (m_adapter->Open() != 0)
        return false;
    m_adapter->Connected = true;
    return true;
}

void Session::stop()
{
    if (!m_adapter)
        return;
    m_adapter->Close();
    m_adapter.reset();
}

bool Session::isConnected() const
{
    return m_adapter && m_adapter->Connected;
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
        return QStringLiteral("адрес сервера должен быть tcp://УЗЕЛ:ПОРТ");
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
    if (!m_adapter)
        return {};
    return OpenFailureText(m_adapter->OpenError, m_adapter->PortName, m_adapter->OpenErrorText);
}

void Session::setObserver(ExchangeObserver observer)
{
    m_observer = std::move(observer);
    if (m_adapter)
        m_adapter->setObserver(m_observer);
}

void Session::SelectParameter(qint16 id)
{
    ExchangeBuffer.fill(0);
    if (id < 0 || id >= qint16(ParamMap.size()))
        return;
    ParamRegister = ParamMap[id].Register;
    ParamBytes = ParamMap[id].Bytes;
}

// Read afresh for every exchange, so that a new device number counts from the next one on.
quint8 Session::slaveAddress() const
{
    return quint8(m_deviceNumber & 0xFF);
}

std::optional<qint16> Session::readIntoBuffer(TParamId id)
{
    if (!isConnected())
        return std::nullopt;
    SelectParameter(id);
    return noticeLostPort(m_adapter->ReadRegisters(slaveAddress(), ParamRegister, ParamBytes / 2, ExchangeBuffer.data()));
}

std::optional<qint16> Session::read(TParamId id)
{
    const std::optional<qint16> code = readIntoBuffer(id);
    if (code)
        report(*code, ResultText(*code));
    return code;
}

std::optional<qint16> Session::write(TParamId id, const Encode &put)
{
    if (!isConnected())
        return std::nullopt;
    SelectParameter(id);
    const qint16 code = put() ? noticeLostPort(m_adapter->WriteRegisters(slaveAddress(), ParamRegister,
                                                                         ParamBytes / 2, ExchangeBuffer.data()))
                              : qint16(lrBadParameters);
    report(code, ResultText(code));
    return code;
}

qint16 Session::noticeLostPort(qint16 code)
{
    if (code < lrOk && !m_lossReported && m_adapter->PortLost()) {
        m_lossReported = true;
        QMetaObject::invokeMethod(this, &Session::portLost, Qt::QueuedConnection);
    }
    return code;
}

void Session::report(qint16 code, const QString &text)
{
    emit outcome(code, text);
}

std::optional<Session::Reading> Session::readValue(const Catalogue::Parameter &parameter)
{
    const std::optional<qint16> code = read(parameter.id);
    if (!code)
        return std::nullopt;
    Reading reading{*code, {}};
    if (*code >= lrOk)
        reading.value = Catalogue::decode(parameter, ExchangeBuffer.data());
    return reading;
}

std::optional<qint16> Session::writeValue(const Catalogue::Parameter &parameter, const QVariant &value,
                                          QString *refusal)
{
    const auto put = [&] {
        const QString why = Catalogue::refusal(parameter, value);
        if (refusal)
            *refusal = why;
        if (!why.isEmpty())
            return false;
        Catalogue::encode(parameter, value, ExchangeBuffer.data());
        return true;
    };
    return write(parameter.id, put);
}
