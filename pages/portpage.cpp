// System parameters page: the line settings stored in the device for its own side of the line.
// They are not the computer's: nothing here changes DeviceNumber or the left panel's lists.
#include "mainform.h"

#include "ui_mainform.h"

void TfrmMain::PortAllRd()
{
    PortNetAddrRd();
    PortSpeedRd();
    PortStopBitRd();
    PortParityRd();
}

void TfrmMain::PortNetAddrRd()
{
    ReadParameter(prmPortNetAddr, ui->edtPortNetAddr, [this] { ShowPortNetAddr(); });
}

void TfrmMain::PortNetAddrWr()
{
    const auto put = [this] {
        ExchangeBuffer[0] = quint16(ui->UpDownPortNetAddr->position());
        return true;
    };
    WriteParameter(prmPortNetAddr, ui->edtPortNetAddr, put, [this] { ShowPortNetAddr(); });
}

// Through the edit's rule, so that an address outside 1..247 shows as the nearer bound.
void TfrmMain::ShowPortNetAddr()
{
    ui->edtPortNetAddr->setText(QString::number(ExchangeBuffer[0]));
    ui->UpDownPortNetAddr->setPosition(ExchangeBuffer[0]);
}

void TfrmMain::edtPortNetAddrChange(const QString &text)
{
    UpDown *spinner = ui->UpDownPortNetAddr;
    spinner->setPosition(WholeNumberOr(text, spinner->position()));
    ShowNumber(ui->edtPortNetAddr, spinner->position());
}

void TfrmMain::PortSpeedRd()
{
    ListRd(prmPortSpeed, ui->cmbPortSpeed);
}

void TfrmMain::PortSpeedWr()
{
    ListWr(prmPortSpeed, ui->cmbPortSpeed);
}

void TfrmMain::PortStopBitRd()
{
    ListRd(prmPortStopBit, ui->cmbPortStopBit);
}

void TfrmMain::PortStopBitWr()
{
    ListWr(prmPortStopBit, ui->cmbPortStopBit);
}

void TfrmMain::PortParityRd()
{
    ListRd(prmPortParity, ui->cmbPortParity);
}

void TfrmMain::PortParityWr()
{
    ListWr(prmPortParity, ui->cmbPortParity);
}

// A code is the row of its list; a code beyond the last row leaves no row selected.
void TfrmMain::ListRd(TParamId id, QComboBox *list)
{
    ReadParameter(id, list, [this, list] { SelectRow(list, ExchangeBuffer[0]); });
}

// With no row selected there is no code to send, and an invalid one must never reach the device.
void TfrmMain::ListWr(TParamId id, QComboBox *list)
{
    const auto put = [this, list] {
        if (list->currentIndex() < 0)
            return false;
        ExchangeBuffer[0] = quint16(list->currentIndex());
        return true;
    };
    WriteParameter(id, list, put, [this, list] { SelectRow(list, ExchangeBuffer[0]); });
}
