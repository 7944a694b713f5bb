// Information page: the firmware version and the device's name, both register texts of 20 bytes.
#include "mainform.h"

#include "registercodec.h"
#include "handlers.h"
#include "ui_mainform.h"

void TfrmMain::connectInformationPage()
{
    using Handlers::connect;
    const std::pair<QPushButton *, void (TfrmMain::*)()> operations[] = {
        {ui->btnInformationProgVerRd, &TfrmMain::InformationProgVerRd},
        {ui->btnInformationDevNameRd, &TfrmMain::InformationDevNameRd},
        {ui->btnInformationDevNameWr, &TfrmMain::InformationDevNameWr},
    };
    for (const auto &[button, operation] : operations)
        connect(button, &QPushButton::clicked, this, operation);
}

void TfrmMain::InformationAllRd()
{
    InformationProgVerRd();
    InformationDevNameRd();
}

// The version edit takes typing, but nothing writes it back; the next read replaces it.
void TfrmMain::InformationProgVerRd()
{
    readText(prmInformationProgVer, ui->edtInformationProgVer);
}

void TfrmMain::InformationDevNameRd()
{
    readText(prmInformationDevName, ui->edtInformationDevName);
}

// The whole name goes into the buffer, its last byte left as the terminating zero, and the
// parameter's 20 bytes of it are sent: a shorter name with its zero bytes, a longer one cut
// without a terminator. The edit then shows the name as it stands in the buffer, all of it.
void TfrmMain::InformationDevNameWr()
{
    QLineEdit *edit = ui->edtInformationDevName;
    const auto put = [this, edit] {
        RegisterCodec::putText(edit->text(), ExchangeBuffer.data(), kExchangeBytes - 1);
        return true;
    };
    const auto show = [this, edit] { edit->setText(RegisterCodec::textFrom(ExchangeBuffer.data(), kExchangeBytes)); };
    writeParameter(prmInformationDevName, edit, put, show);
}

void TfrmMain::readText(TParamId id, QLineEdit *edit)
{
    readParameter(id, edit, [this, edit] { edit->setText(RegisterCodec::textFrom(ExchangeBuffer.data(), ParamBytes)); });
}
