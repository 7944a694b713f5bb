#include "aboutform.h"

#include "glyphs.h"
#include "ui_aboutform.h"

namespace {
constexpr QSize kClientSize(298, 173);
constexpr int kIconSize = 32;
} // namespace

TfrmAbout::TfrmAbout(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmAbout>())
{
    ui->setupUi(this);
    setFixedSize(kClientSize);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->Image1->setPixmap(Glyphs::applicationIcon().pixmap(kIconSize, kIconSize));
    ui->ProductName->setText(QCoreApplication::applicationName());
    connect(ui->OKButton, &QPushButton::clicked, this, &TfrmAbout::OKButtonClick);
}

TfrmAbout::~TfrmAbout() = default;

void TfrmAbout::OKButtonClick()
{
    accept();
}

void TfrmAbout::reject()
{
    OKButtonClick();
}
