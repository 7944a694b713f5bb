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

bool TfrmMain::IsConnected() const
{
    return Adapter && Adapter->Connected;
}

// Read afresh for every exchange, so that a new device number counts from the next one on.
quint8 TfrmMain::SlaveAddress() const
{
    return quint8(DeviceNumber() & 0xFF);
}

std::optional<qint16> TfrmMain::ReadParameter(TParamId id, QWidget *valueControl, const Decode &show)
{
    if (!IsConnected())
        return std::nullopt;
    SelectParameter(id);
    const qint16 code = Adapter->ReadRegisters(SlaveAddress(), ParamRegister, ParamBytes / 2, ExchangeBuffer.data());
    return Finish(code, valueControl, show);
}

std::optional<qint16> TfrmMain::WriteParameter(TParamId id, QWidget *valueControl, const Encode &put,
                                               const Decode &show)
{
    if (!IsConnected())
        return std::nullopt;
    SelectParameter(id);
    const qint16 code = put() ? Adapter->WriteRegisters(SlaveAddress(), ParamRegister, ParamBytes / 2,
                                                        ExchangeBuffer.data())
                              : qint16(lrBadParameters);
    return Finish(code, valueControl, show);
}

qint16 TfrmMain::Finish(qint16 code, QWidget *valueControl, const Decode &show)
{
    ShowOutcome(code, valueControl);
    if (code >= lrOk)
        show();
    return code;
}
