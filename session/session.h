#pragma once

#include "catalogue.h"
#include "exchangerecord.h"
#include "linkthread.h"
#include "parammap.h"
#include "transport.h"

#include <QObject>
#include <QString>
#include <QVariant>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class CAdapter;

// The message shown for a result code; empty for success and for codes without one.
QString ResultText(qint16 code);
// Why a port did not open, in the words a user on site needs.
QString OpenFailureText(OpenFailure failure, const QString &portName, const QString &systemText);
// Nothing came back, or nothing could be sent: a next exchange would only wait as long again.
bool LineFailed(qint16 code);

// The line settings of a connection: rows of the tables of LineSettings, and the device to open.
struct LineSetup
{
    quint8 portNumber = 0;
    quint8 speedNumber = 0;
    quint8 parity = 0;
    quint8 stopBits = 0;
    quint16 timeOut = 0;
    QString portName;
};

// One connection to one device: its adapter, the parameter selection and the one exchange
// buffer, and the common read and write procedures. Every exchange that these procedures make
// reports its outcome through outcome(); so does a caller that gathers outcomes of its own.
//
// The adapter lives on a link thread of its own. A procedure returns once its exchange is over,
// as before; while it waits, the caller's event loop goes on, user input excepted (LinkThread).
class Session : public QObject
{
    Q_OBJECT

public:
    explicit Session(QObject *parent = nullptr);
    ~Session() override;

    // Opens the port with these settings; on success the connection is up. A port that does
    // not open leaves the adapter unconnected, and openFailureText() says why.
    bool start(const LineSetup &line);
    // Closes and drops the adapter, if there is one.
    void stop();
    bool isConnected() const;
    // The settings of the last start.
    const LineSetup &line() const { return m_line; }
    // An exchange is under way: a timer that the waiting loop serves must not start another.
    bool isBusy() const { return m_link.busy(); }
    // Why the last start failed, in the words a user on site needs.
    QString openFailureText() const;
    // The message of the last failed start, for the port shown as caption (COM2, or a device
    // path given as it is) on device.
    QString openFailureMessage(const QString &caption, const QString &device) const;

    // The device's address, read afresh for every exchange.
    quint16 deviceNumber() const { return m_deviceNumber; }
    void setDeviceNumber(quint16 number) { m_deviceNumber = number; }

    // Hears of every exchange on the line, with this adapter and the ones after it.
    void setObserver(ExchangeObserver observer);

    // Puts the value to send into ExchangeBuffer; false refuses the input (nothing is sent).
    using Encode = std::function<bool()>;

    // The common procedures: one exchange for parameter id with the device of deviceNumber,
    // its outcome reported. While not connected nothing at all happens, and they return
    // nothing; otherwise the exchange's result code (lrBadParameters when put refused).
    std::optional<qint16> read(TParamId id);
    std::optional<qint16> write(TParamId id, const Encode &put);
    // Reports an outcome that the caller has put together from exchanges of its own.
    void report(qint16 code, const QString &text);

    // Typed access through the catalogue. A read gives the decoded value on success.
    struct Reading
    {
        qint16 code = 0;
        QVariant value;
    };
    // Gathered: the outcome is left to the caller, who reports those of several reads at once.
    enum class Reporting { Reported, Gathered };
    std::optional<Reading> readValue(const Catalogue::Parameter &parameter, Reporting reporting = Reporting::Reported);
    // A value that the catalogue refuses sends nothing: lrBadParameters, and refusal says why.
    std::optional<qint16> writeValue(const Catalogue::Parameter &parameter, const QVariant &value,
                                     QString *refusal = nullptr);

signals:
    // text: the message of a failure, empty on success.
    void outcome(qint16 code, const QString &text);
    // The port went away while connected. Once per connection, after the handler of the event
    // that found it has finished, so that it may stop the session.
    void portLost();

private:
    // Parameter selection and the buffer shared by every exchange.
    static constexpr int kExchangeRegisters = 100;
    std::array<quint16, kExchangeRegisters> ExchangeBuffer{}; // host order
    quint16 ParamRegister = 0;
    quint8 ParamBytes = 0;

    // Takes the parameter's register and length from the map and zeroes the buffer. An id
    // outside the map keeps the previous register and length.
    void SelectParameter(qint16 id);
    // The read alone, with no report: ExchangeBuffer holds the registers on success.
    std::optional<qint16> readIntoBuffer(TParamId id);

    // What an exchange on the link thread hands back.
    struct Done
    {
        qint16 code = 0;
        bool portLost = false;
    };

    quint8 slaveAddress() const;
    Done exchange(const std::function<qint16(CAdapter &)> &job);
    qint16 noticeLostPort(const Done &done);
    void announceLoss();
    void relayExchange(const ExchangeRecord &record);
    void dropAdapter();

    LinkThread m_link;
    std::unique_ptr<CAdapter> m_adapter; // none while stopped; used on m_link only
    LineSetup m_line;
    ExchangeObserver m_observer;
    quint16 m_deviceNumber = 0;
    bool m_lossReported = false;
};
