#pragma once

#include "catalogue.h"
#include "exchangerecord.h"
#include "linesetup.h"
#include "line.h"
#include "parammap.h"
#include "transport.h"

#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

// The message shown for a result code; empty for success and for codes without one.
QString ResultText(qint16 code);
// Why a port did not open, in the words a user on site needs.
QString OpenFailureText(OpenFailure failure, const QString &portName, const QString &systemText);
// Nothing came back, or nothing could be sent: a next exchange would only wait as long again.
bool LineFailed(qint16 code);

// One connection to one device, without widgets: the one owner of its line, and the common
// read and write procedures by catalogue parameter. A procedure hands its request to the line
// and returns at once; the outcome is reported through outcome() when the reply comes, and then
// handed to the asker's callback, bound to a receiver that may cancel or go away meanwhile.
class Session : public QObject
{
    Q_OBJECT

public:
    explicit Session(QObject *parent = nullptr);
    ~Session() override;

    // Opens the port with these settings; opened hears whether the connection is up. A port
    // that does not open leaves the session unconnected, and openFailureText() says why.
    void start(const LineSetup &line, QObject *receiver, std::function<void(bool opened)> opened);
    // Drops every request, gives up the exchange under way and closes the port, at once.
    void stop();
    bool isConnected() const { return m_line.isOpen(); }
    // The settings of the last start.
    const LineSetup &line() const { return m_line.setup(); }
    // The owner of the line, for whoever makes exchanges of its own on it.
    Line &lineOwner() { return m_line; }
    // Why the last start failed, in the words a user on site needs.
    QString openFailureText() const;
    // The message of the last failed start, for the port shown as caption (COM2, or a device
    // path given as it is) on device.
    QString openFailureMessage(const QString &caption, const QString &device) const;

    // The address the window's pages talk to; each request takes it as it is when it is made.
    quint16 deviceNumber() const { return m_deviceNumber; }
    void setDeviceNumber(quint16 number) { m_deviceNumber = number; }

    // Hears of every exchange on the line.
    void setObserver(ExchangeObserver observer) { m_line.setObserver(std::move(observer)); }

    struct Reading
    {
        qint16 code = 0;
        QVariant value; // decoded, on success
    };
    // Gathered: the outcome is left to the caller, who reports those of several reads at once.
    enum class Reporting { Reported, Gathered };
    using ReadDone = std::function<void(const Reading &)>;
    using WriteDone = std::function<void(qint16 code)>;

    // The common procedures, typed through the catalogue, with the device of deviceNumber() or
    // of address. While not connected nothing at all happens, done is never called, and they
    // return false. A value that the catalogue refuses is not sent: lrBadParameters is reported
    // and handed to done at once, and refusal says why.
    bool readValue(const Catalogue::Parameter &parameter, QObject *receiver, ReadDone done,
                   Reporting reporting = Reporting::Reported);
    bool readValueAt(quint8 address, const Catalogue::Parameter &parameter, QObject *receiver, ReadDone done,
                     Reporting reporting = Reporting::Reported);
    bool writeValue(const Catalogue::Parameter &parameter, const QVariant &value, QObject *receiver, WriteDone done,
                    QString *refusal = nullptr);
    bool writeValueAt(quint8 address, const Catalogue::Parameter &parameter, const QVariant &value,
                      QObject *receiver, WriteDone done, QString *refusal = nullptr);
    // Reports an outcome that the caller has put together from exchanges of its own.
    void report(qint16 code, const QString &text);

    // Forgets receiver's requests: none of them is sent or answered from now on.
    void cancel(const QObject *receiver) { m_line.cancel(receiver); }
    bool hasPending(const QObject *receiver) const { return m_line.hasPending(receiver); }
    // Nothing is queued or under way on the line.
    bool isIdle() const { return m_line.isIdle(); }

signals:
    // text: the message of a failure, empty on success.
    void outcome(qint16 code, const QString &text);
    // The port went away while connected; the session has stopped. Once per connection, after
    // the reply that found it has been handled.
    void portLost();

private:
    Line m_line;
    LineOpened m_opened; // of the last start
    quint16 m_deviceNumber = 0;
};
