// System parameters page: the line settings stored in the device for its own side of the line.
// They are not the computer's: nothing here changes DeviceNumber or the left panel's lists.
#include "mainform.h"

#include "handlers.h"
#include "ui_mainform.h"

void TfrmMain::connectPortPage()
{
    using Handlers::connect;
    const std::pair<QPushButton *, void (TfrmMain::*)()> operations[] = {
        {ui->btnPortNetAddrRd, &TfrmMain::PortNetAddrRd},
        {ui->btnPortNetAddrWr, &TfrmMain::PortNetAddrWr},
        {ui->btnPortSpeedRd, &TfrmMain::PortSpeedRd},
        {ui->btnPortSpeedWr, &TfrmMain::PortSpeedWr},
        {ui->btnPortStopBitRd, &TfrmMain::PortStopBitRd},
        {ui->btnPortStopBitWr, &TfrmMain::PortStopBitWr},
        {ui->btnPortParityRd, &TfrmMain::PortParityRd},
        {ui->btnPortParityWr, &TfrmMain::PortParityWr},
    };
    for (const auto &[button, operation] : operations)
        connect(button, &QPushButton::clicked, this, operation);
    ui->UpDownPortNetAddr->setBuddy(ui->edtPortNetAddr);
    connect(ui->edtPortNetAddr, &QLineEdit::textChanged, this, &TfrmMain::edtPortNetAddrChange);
}

void TfrmMain::PortAllRd()
{
    PortNetAddrRd();
    PortSpeedRd();
    PortStopBitRd();
    PortParityRd();
}

void TfrmMain::PortNetAddrRd()
{
    readParameter(prmPortNetAddr, ui->edtPortNetAddr, [this] { showPortNetAddr(); });
}

void TfrmMain::PortNetAddrWr()
{
    const auto put = [this] {
        ExchangeBuffer[0] = quint16(ui->UpDownPortNetAddr->position());
        return true;
    };
    writeParameter(prmPortNetAddr, ui->edtPortNetAddr, put, [this] { showPortNetAddr(); });
}

// Through the edit's rule, so that an address outside 1..247 shows as the nearer bound.
void TfrmMain::showPortNetAddr()
{
    ui->edtPortNetAddr->setText(QString::number(ExchangeBuffer[0]));
    ui->UpDownPortNetAddr->setPosition(ExchangeBuffer[0]);
}

void TfrmMain::edtPortNetAddrChange(const QString &text)
{
    UpDown *spinner = ui->UpDownPortNetAddr;
    spinner->setPosition(wholeNumberOr(text, spinner->position()));
    showNumber(ui->edtPortNetAddr, spinner->position());
}

void TfrmMain::PortSpeedRd()
{
    readList(prmPortSpeed, ui->cmbPortSpeed);
}

void TfrmMain::PortSpeedWr()
{
    writeList(prmPortSpeed, ui->cmbPortSpeed);
}

void TfrmMain::PortStopBitRd()
{
    readList(prmPortStopBit, ui->cmbPortStopBit);
}

void TfrmMain::PortStopBitWr()
{
    writeList(prmPortStopBit, ui->cmbPortStopBit);
}

void TfrmMain::PortParityRd()
{
    readList(prmPortParity, ui->cmbPortParity);
}

void TfrmMain::PortParityWr()
{
    writeList(prmPortParity, ui->cmbPortParity);
}

// A code is the row of its list; a code beyond the last row leaves no row selected.
void TfrmMain::readList(TParamId id, QComboBox *list)
{
    readParameter(id, list, [this, list] { selectRow(list, ExchangeBuffer[0]); });
}

// With no row selected there is no code to send, and an invalid one must never reach the device.
void TfrmMain::writeList(TParamId id, QComboBox *list)
{
    const auto put = [this, list] {
        if (list->currentIndex() < 0)
            return false;
        ExchangeBuffer[0] = quint16(list->currentIndex());
        return true;
    };
    writeParameter(id, list, put, [this, list] { selectRow(list, ExchangeBuffer[0]); });
}
