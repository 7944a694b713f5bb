// Information page: the firmware version and the device's name, both register texts of 20 bytes.
#include "informationpage.h"

#include "catalogue.h"
#include "ui_informationpage.h"

InformationPage::InformationPage(Session &session, QWidget *parent)
    : DevicePage(session, parent), ui(std::make_unique<Ui::InformationPage>())
{
    ui->setupUi(this);
    QLineEdit *name = ui->edtInformationDevName;
    // The edit holds no more than the device does, so that what it shows after a write is what
    // the device keeps; a character outside the device's code page is refused by the write.
    name->setMaxLength(Catalogue::of(prmInformationDevName).bytes());
    QLineEdit *version = ui->edtInformationProgVer;
    // The version edit takes typing, but nothing writes it back; the next read replaces it.
    bind({
        {prmInformationProgVer, ui->btnInformationProgVerRd, nullptr, version,
         [version](const QVariant &v) { version->setText(v.toString()); }},
        {prmInformationDevName, ui->btnInformationDevNameRd, ui->btnInformationDevNameWr, name,
         [name](const QVariant &v) { name->setText(v.toString()); }, [name] { return QVariant(name->text()); }},
    });
}

InformationPage::~InformationPage() = default;

void InformationPage::InformationAllRd()
{
    readAll();
}
