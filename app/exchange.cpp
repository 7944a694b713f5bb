// The parameter selection and the common read and write procedures behind every page operation.
#include "mainform.h"

#include "adapter.h"
#include "resultcodes.h"

void TfrmMain::SelectParameter(qint16 id)
{
    CurrentParameter = id;
    ExchangeBuffer.fill(0);
    if (id < 0 || id >= qint16(ParamMap.size()))
        return;
    ParamRegister = ParamMap[id].Register;
    ParamBytes = ParamMap[id].Bytes;
}

bool TfrmMain::isConnected() const
{
    return Adapter && Adapter->Connected;
}

// Read afresh for every exchange, so that a new device number counts from the next one on.
quint8 TfrmMain::slaveAddress() const
{
    return quint8(DeviceNumber() & 0xFF);
}

std::optional<qint16> TfrmMain::readIntoBuffer(TParamId id)
{
    if (!isConnected())
        return std::nullopt;
    SelectParameter(id);
    return Adapter->ReadRegisters(slaveAddress(), ParamRegister, ParamBytes / 2, ExchangeBuffer.data());
}

std::optional<qint16> TfrmMain::readParameter(TParamId id, QWidget *valueControl, const Decode &show)
{
    const std::optional<qint16> code = readIntoBuffer(id);
    if (!code)
        return std::nullopt;
    return finish(*code, valueControl, show);
}

std::optional<qint16> TfrmMain::writeParameter(TParamId id, QWidget *valueControl, const Encode &put,
                                               const Decode &show)
{
    if (!isConnected())
        return std::nullopt;
    SelectParameter(id);
    const qint16 code = put() ? Adapter->WriteRegisters(slaveAddress(), ParamRegister, ParamBytes / 2,
                                                        ExchangeBuffer.data())
                              : qint16(lrBadParameters);
    return finish(code, valueControl, show);
}

qint16 TfrmMain::finish(qint16 code, QWidget *valueControl, const Decode &show)
{
    showOutcome(code, valueControl);
    if (code >= lrOk)
        show();
    return code;
}
