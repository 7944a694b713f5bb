#pragma once

#include "devicepage.h"

#include <memory>

class QComboBox;

namespace Ui {
class PortPage;
}

// System parameters page: the device's own network address, speed, stop bits and parity.
class PortPage : public DevicePage
{
    Q_OBJECT

public:
    PortPage(Session &session, QWidget *parent);
    ~PortPage() override;

    void enter() override { PortAllRd(); }
    void PortAllRd();

private:
    void setUpControls();
    void bindControls();
    void edtPortNetAddrChange(const QString &text);
    Binding listBinding(TParamId id, QAbstractButton *readButton, QAbstractButton *writeButton, QComboBox *list);

    std::unique_ptr<Ui::PortPage> ui;
};
