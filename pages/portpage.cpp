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
    bindControls();
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

// The table in the order of the read-all: address, speed, stop bits, parity.
void PortPage::bindControls()
{
    UpDown *spinner = ui->UpDownPortNetAddr;
    // Through the edit's rule, so that an address outside 1..247 shows as the nearer bound.
    const auto showAddress = [this, spinner](const QVariant &v) {
        ui->edtPortNetAddr->setText(QString::number(v.toInt()));
        spinner->setPosition(v.toInt());
    };
    bind({
        {prmPortNetAddr, ui->btnPortNetAddrRd, ui->btnPortNetAddrWr, ui->edtPortNetAddr, showAddress,
         [spinner] { return QVariant(spinner->position()); }},
        listBinding(prmPortSpeed, ui->btnPortSpeedRd, ui->btnPortSpeedWr, ui->cmbPortSpeed),
        listBinding(prmPortStopBit, ui->btnPortStopBitRd, ui->btnPortStopBitWr, ui->cmbPortStopBit),
        listBinding(prmPortParity, ui->btnPortParityRd, ui->btnPortParityWr, ui->cmbPortParity),
    });
    spinner->setBuddy(ui->edtPortNetAddr);
    Handlers::connect(ui->edtPortNetAddr, &QLineEdit::textChanged, this, &PortPage::edtPortNetAddrChange);
}

void PortPage::PortAllRd()
{
    readAll();
}

void PortPage::edtPortNetAddrChange(const QString &text)
{
    UpDown *spinner = ui->UpDownPortNetAddr;
    spinner->setPosition(wholeNumberOr(text, spinner->position()));
    showNumber(ui->edtPortNetAddr, spinner->position());
}

// A code is the row of its list; a code beyond the last row leaves no row selected. With no
// row selected there is no code to send, and the catalogue refuses the -1 of no row.
DevicePage::Binding PortPage::listBinding(TParamId id, QAbstractButton *readButton, QAbstractButton *writeButton,
                                          QComboBox *list)
{
    return {id, readButton, writeButton, list, [list](const QVariant &v) { selectRow(list, v.toLongLong()); },
            [list] { return QVariant(list->currentIndex()); }};
}
