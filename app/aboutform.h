#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmAbout;
}

// The About dialog: the program's icon, its title and its version. Made afresh for each showing.
class TfrmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget *parent);
    ~TfrmAbout() override;

protected:
    // Esc closes the dialog as OK does: it only informs, there is nothing to cancel.
    void reject() override;

private:
    void OKButtonClick();

    std::unique_ptr<Ui::TfrmAbout> ui;
};
