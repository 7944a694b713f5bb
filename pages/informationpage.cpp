// Information page: the firmware version and the device's name, both register texts of 20 bytes.
#include "informationpage.h"

#include "handlers.h"
#include "registercodec.h"
#include "ui_informationpage.h"

InformationPage::InformationPage(Session &session, QWidget *parent)
    : DevicePage(session, parent), ui(std::make_unique<Ui::InformationPage>())
{
    ui->setupUi(this);
    using Handlers::connect;
    const std::pair<QPushButton *, void (InformationPage::*)()> operations[] = {
        {ui->btnInformationProgVerRd, &InformationPage::InformationProgVerRd},
        {ui->btnInformationDevNameRd, &InformationPage::InformationDevNameRd},
        {ui->btnInformationDevNameWr, &InformationPage::InformationDevNameWr},
    };
    for (const auto &[button, operation] : operations)
        connect(button, &QPushButton::clicked, this, operation);
}

InformationPage::~InformationPage() = default;

void InformationPage::InformationAllRd()
{
    InformationProgVerRd();
    InformationDevNameRd();
}

// The version edit takes typing, but nothing writes it back; the next read replaces it.
void InformationPage::InformationProgVerRd()
{
    readText(prmInformationProgVer, ui->edtInformationProgVer);
}

void InformationPage::InformationDevNameRd()
{
    readText(prmInformationDevName, ui->edtInformationDevName);
}

// The whole name goes into the buffer, its last byte left as the terminating zero, and the
// parameter's 20 bytes of it are sent: a shorter name with its zero bytes, a longer one cut
// without a terminator. The edit then shows the name as it stands in the buffer, all of it.
void InformationPage::InformationDevNameWr()
{
    QLineEdit *edit = ui->edtInformationDevName;
    const auto put = [this, edit] {
        RegisterCodec::putText(edit->text(), buffer().data(), Session::kExchangeBytes - 1);
        return true;
    };
    const auto show = [this, edit] { edit->setText(RegisterCodec::textFrom(buffer().data(), Session::kExchangeBytes)); };
    writeParameter(prmInformationDevName, edit, put, show);
}

void InformationPage::readText(TParamId id, QLineEdit *edit)
{
    readParameter(id, edit, [this, edit] { edit->setText(RegisterCodec::textFrom(buffer().data(), m_session.ParamBytes)); });
}
