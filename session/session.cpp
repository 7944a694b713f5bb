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

bool LineFailed(qint16 code)
{
    return code == lrNoAnswer || code == lrWriteFailed || code == lrNotConnected;
}

Session::Session(QObject *parent) : QObject(parent) {}

Session::~Session()
{
    // Not stop(): a destructor must not serve events.
    m_link.runBlocking([this] { dropAdapter(); });
}

// An adapter whose port did not open stays until the next start or stop, unconnected.
bool Session::start(const LineSetup &line)
{
    stop();
    m_lossReported = false;
    m_line = line;
    auto adapter = std::make_unique<CAdapter>();
    adapter->PortNumber = line.portNumber;
    adapter->SpeedNumber = line.speedNumber;
    adapter->TimeOut = line.timeOut;
    adapter->Parity = line.parity;
    adapter->StopBits = line.stopBits;
    adapter->PortName = line.portName;
    adapter->setObserver([this](const ExchangeRecord &record) { relayExchange(record); });
    int opened = -1;
    m_link.run([&] { opened = adapter->Open(); });
    m_adapter = std::move(adapter);
    if (opened != 0)
        return false;
    m_adapter->Connected = true;
    return true;
}

void Session::stop()
{
    if (m_adapter)
        m_link.run([this] { dropAdapter(); });
}

// On the link thread, where the port was opened.
void Session::dropAdapter()
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
}

// The adapter tells of an exchange on the link thread; the observer hears of it on this one,
// before the procedure that made the exchange returns.
void Session::relayExchange(const ExchangeRecord &record)
{
    QMetaObject::invokeMethod(
        this,
        [this, record] {
            if (m_observer)
                m_observer(record);
        },
        Qt::QueuedConnection);
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
    const quint8 slave = slaveAddress();
    const quint16 first = ParamRegister;
    const quint16 count = ParamBytes / 2;
    std::array<quint16, kExchangeRegisters> registers{};
    const Done done = exchange([&](CAdapter &adapter) {
        return adapter.ReadRegisters(slave, first, count, registers.data());
    });
    ExchangeBuffer = registers;
    return noticeLostPort(done);
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
    qint16 code = lrBadParameters;
    if (put()) {
        const quint8 slave = slaveAddress();
        const quint16 first = ParamRegister;
        const quint16 count = ParamBytes / 2;
        const std::array<quint16, kExchangeRegisters> registers = ExchangeBuffer;
        code = noticeLostPort(exchange([&](CAdapter &adapter) {
            return adapter.WriteRegisters(slave, first, count, registers.data());
        }));
    }
    report(code, ResultText(code));
    return code;
}

// The adapter is taken now: a stop while the exchange is waited for comes after it on the link.
Session::Done Session::exchange(const std::function<qint16(CAdapter &)> &job)
{
    CAdapter *adapter = m_adapter.get();
    Done done;
    m_link.run([&] {
        done.code = job(*adapter);
        done.portLost = done.code < lrOk && adapter->PortLost();
    });
    return done;
}

qint16 Session::noticeLostPort(const Done &done)
{
    if (done.portLost && !m_lossReported) {
        m_lossReported = true;
        QMetaObject::invokeMethod(this, &Session::announceLoss, Qt::QueuedConnection);
    }
    return done.code;
}

// After the handler that found the loss: a handler's next exchange serves the events meanwhile,
// and the loss waits until no exchange is waited for.
void Session::announceLoss()
{
    constexpr int kRetryMs = 10;
    if (m_link.busy())
        QTimer::singleShot(kRetryMs, this, &Session::announceLoss);
    else
        emit portLost();
}

void Session::report(qint16 code, const QString &text)
{
    emit outcome(code, text);
}

std::optional<Session::Reading> Session::readValue(const Catalogue::Parameter &parameter, Reporting reporting)
{
    const std::optional<qint16> code = reporting == Reporting::Reported ? read(parameter.id) : readIntoBuffer(parameter.id);
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
