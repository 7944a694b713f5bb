#pragma once

#include "adapter.h"
#include "resultcodes.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// One exchange to make, as a value: everything the line needs to know travels with it, so that
// no request reads what another one left behind.
struct LineRequest
{
    enum class Function { ReadHoldingRegisters, WriteMultipleRegisters };

    Function function = Function::ReadHoldingRegisters;
    quint8 slave = 0;
    quint16 firstRegister = 0;
    quint16 count = 0;      // of a read; a write sends values.size()
    QList<quint16> values;  // of a write, host order
    // How long each stage of a read's reply may take besides its bytes' own time on the line.
    int readTimeoutMs = CAdapter::DefaultReadTimeoutMs;

    static LineRequest read(quint8 slave, quint16 firstRegister, quint16 count,
                            int readTimeoutMs = CAdapter::DefaultReadTimeoutMs)
    {
        return {Function::ReadHoldingRegisters, slave, firstRegister, count, {}, readTimeoutMs};
    }
    static LineRequest write(quint8 slave, quint16 firstRegister, const QList<quint16> &values)
    {
        return {Function::WriteMultipleRegisters, slave, firstRegister, quint16(values.size()), values,
                CAdapter::DefaultReadTimeoutMs};
    }
};

// What came of a request: its result code and, for a read that succeeded, the registers asked
// for, in host order.
struct LineReply
{
    qint16 code = lrNotConnected;
    QList<quint16> registers;
    // The code of an exception reply (lrDeviceError, or a gateway's lrGatewayNoPath and
    // lrGatewayNoAnswer), else 0.
    quint8 exception = 0;
    // The port went away during this exchange: the line has closed itself.
    bool portLost = false;
};

// What came of opening the port.
struct LineOpened
{
    bool opened = false;
    OpenFailure failure = OpenFailure::None;
    QString systemText; // the system's words for a failure without a name of its own
    QString portName;   // the device or server that was opened, or tried
};
