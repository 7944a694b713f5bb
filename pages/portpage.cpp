// System parameters page: the line settings stored in the device for its own side of the line.
// They are not the computer's: nothing here changes DeviceNumber or the left panel's lists.
#include "portpage.h"

#include "catalogue.h"
#include "controls.h"
#include "handlers.h"
#include "ui_portpage.h"

PortPage::PortPage(Session &session, QWidget *parent) : DevicePage(session, parent), ui(std::make_unique<Ui::PortPage>())
{
    ui->setupUi(this);
    setUpControls();
    connectControls();
}

PortPage::~PortPage() = default;

// The address's limits and the lists' rows, a row for each code, come from the catalogue. No
// row is selected until the device has been read.
void PortPage::setUpControls()
{
    const Catalogue::Parameter &address = Catalogue::of(prmPortNetAddr);
    ui->UpDownPortNetAddr->setMinimum(int(address.lowest));
    ui->UpDownPortNetAddr->setMaximum(int(address.highest));
    const std::pair<QComboBox *, TParamId> lists[] = {
        {ui->cmbPortSpeed, prmPortSpeed}, {ui->cmbPortStopBit, prmPortStopBit}, {ui->cmbPortParity, prmPortParity}};
    for (const auto &[list, id] : lists) {
        for (const Catalogue::Code &code : Catalogue::of(id).codes)
            list->addItem(code.caption);
        selectRow(list, -1);
    }
}

void PortPage::connectControls()
{
    using Handlers::connect;
    const std::pair<QPushButton *, void (PortPage::*)()> operations[] = {
        {ui->btnPortNetAddrRd, &PortPage::PortNetAddrRd},
        {ui->btnPortNetAddrWr, &PortPage::PortNetAddrWr},
        {ui->btnPortSpeedRd, &PortPage::PortSpeedRd},
        {ui->btnPortSpeedWr, &PortPage::PortSpeedWr},
        {ui->btnPortStopBitRd, &PortPage::PortStopBitRd},
        {ui->btnPortStopBitWr, &PortPage::PortStopBitWr},
        {ui->btnPortParityRd, &PortPage::PortParityRd},
        {ui->btnPortParityWr, &PortPage::PortParityWr},
    };
    for (const auto &[button, operation] : operations)
        connect(button, &QPushButton::clicked, this, operation);
    ui->UpDownPortNetAddr->setBuddy(ui->edtPortNetAddr);
    connect(ui->edtPortNetAddr, &QLineEdit::textChanged, this, &PortPage::edtPortNetAddrChange);
}

void PortPage::PortAllRd()
{
    PortNetAddrRd();
    PortSpeedRd();
    PortStopBitRd();
    PortParityRd();
}

void PortPage::PortNetAddrRd()
{
    readParameter(prmPortNetAddr, ui->edtPortNetAddr, [this] { showPortNetAddr(); });
}

void PortPage::PortNetAddrWr()
{
    const auto put = [this] {
        buffer()[0] = quint16(ui->UpDownPortNetAddr->position());
        return true;
    };
    writeParameter(prmPortNetAddr, ui->edtPortNetAddr, put, [this] { showPortNetAddr(); });
}

// Through the edit's rule, so that an address outside 1..247 shows as the nearer bound.
void PortPage::showPortNetAddr()
{
    ui->edtPortNetAddr->setText(QString::number(buffer()[0]));
    ui->UpDownPortNetAddr->setPosition(buffer()[0]);
}

void PortPage::edtPortNetAddrChange(const QString &text)
{
    UpDown *spinner = ui->UpDownPortNetAddr;
    spinner->setPosition(wholeNumberOr(text, spinner->position()));
    showNumber(ui->edtPortNetAddr, spinner->position());
}

void PortPage::PortSpeedRd()
{
    readList(prmPortSpeed, ui->cmbPortSpeed);
}

void PortPage::PortSpeedWr()
{
    writeList(prmPortSpeed, ui->cmbPortSpeed);
}

void PortPage::PortStopBitRd()
{
    readList(prmPortStopBit, ui->cmbPortStopBit);
}

void PortPage::PortStopBitWr()
{
    writeList(prmPortStopBit, ui->cmbPortStopBit);
}

void PortPage::PortParityRd()
{
    readList(prmPortParity, ui->cmbPortParity);
}

void PortPage::PortParityWr()
{
    writeList(prmPortParity, ui->cmbPortParity);
}

// A code is the row of its list; a code beyond the last row leaves no row selected.
void PortPage::readList(TParamId id, QComboBox *list)
{
    readParameter(id, list, [this, list] { selectRow(list, buffer()[0]); });
}

// With no row selected there is no code to send, and an invalid one must never reach the device.
void PortPage::writeList(TParamId id, QComboBox *list)
{
    const auto put = [this, list] {
        if (list->currentIndex() < 0)
            return false;
        buffer()[0] = quint16(list->currentIndex());
        return true;
    };
    writeParameter(id, list, put, [this, list] { selectRow(list, buffer()[0]); });
}
