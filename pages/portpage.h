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

    void PortAllRd();
    void PortNetAddrRd();
    void PortNetAddrWr();
    void PortSpeedRd();
    void PortSpeedWr();
    void PortStopBitRd();
    void PortStopBitWr();
    void PortParityRd();
    void PortParityWr();

private:
    void setUpControls();
    void connectControls();
    void edtPortNetAddrChange(const QString &text);
    void showPortNetAddr();
    void readList(TParamId id, QComboBox *list);
    void writeList(TParamId id, QComboBox *list);

    std::unique_ptr<Ui::PortPage> ui;
};
