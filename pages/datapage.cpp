// Readings page: what the device's own display shows, and its self-diagnostics, polled by the
// window's timer. Each poll makes three reads of its own and gathers their messages in the
// error area.
#include "mainform.h"

#include "glyphs.h"
#include "registercodec.h"
#include "resultcodes.h"
#include "ui_mainform.h"

#include <QApplication>

#include <array>
#include <span>

namespace {

using Glyphs::Lamp;

constexpr int kLiveDisplayPixels = 24;
// The first two reads of a poll end their message with a line break, the last one does not.
constexpr QLatin1StringView kLineBreak("\r\n");

// One check of the device: its label and its three lamps, stacked on one spot, in the order of
// Glyphs::Lamp.
struct DiagnosticCell
{
    QLabel *label;
    std::array<QLabel *, 3> lamps;
};

// The cells of the self-diagnostic word, bit 0 first: ROM, RAM, EEPROM.
std::array<DiagnosticCell, 3> selfDiagCells(const Ui::TfrmMain &ui)
{
    return {{
        {ui.lblDataPZUerr, {ui.imgDataPZUerr, ui.imgDataPZUnoerr, ui.imgDataPZUna}},
        {ui.lblDataOZUerr, {ui.imgDataOZUerr, ui.imgDataOZUnoerr, ui.imgDataOZUna}},
        {ui.lblDataEEPROMerr, {ui.imgDataEEPROMerr, ui.imgDataEEPROMnoerr, ui.imgDataEEPROMna}},
    }};
}

// The cells of the EEPROM error word, bit 0 first: system, calibration, indication, name.
std::array<DiagnosticCell, 4> eepromCells(const Ui::TfrmMain &ui)
{
    return {{
        {ui.lblDataSysParamErr, {ui.imgDataSysParamERR, ui.imgDataSysParamNOERR, ui.imgDataSysParamNA}},
        {ui.lblDataClbrParamErr, {ui.imgDataClbrParamERR, ui.imgDataClbrParamNOERR, ui.imgDataClbrParamNA}},
        {ui.lblDataIndParamErr, {ui.imgDataIndParamERR, ui.imgDataIndParamNOERR, ui.imgDataIndParamNA}},
        {ui.lblDataDevNameErr, {ui.imgDataDevNameERR, ui.imgDataDevNameNOERR, ui.imgDataDevNameNA}},
    }};
}

// Only the shown lamp changes visibility, so a poll that finds the same state redraws nothing.
void showLamp(const DiagnosticCell &cell, Lamp lamp)
{
    for (std::size_t kind = 0; kind < cell.lamps.size(); ++kind)
        cell.lamps[kind]->setVisible(kind == std::size_t(lamp));
}

// A disabled label keeps its colour for later but shows greyed, as the disabled palette draws it.
void setLabelColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::WindowText, colour);
    label->setPalette(palette);
}

// A flag word read, or none when its read failed: a set bit is a fault, bits beyond the cells
// mean nothing.
void showFlags(std::span<const DiagnosticCell> cells, std::optional<quint16> word)
{
    for (std::size_t bit = 0; bit < cells.size(); ++bit) {
        const DiagnosticCell &cell = cells[bit];
        if (!word) {
            showLamp(cell, Lamp::NotAvailable);
            cell.label->setEnabled(false);
            continue;
        }
        const bool fault = (*word >> bit) & 1;
        showLamp(cell, fault ? Lamp::Error : Lamp::NoError);
        setLabelColour(cell.label, fault ? kFailureColour : QApplication::palette().color(QPalette::ButtonText));
        cell.label->setEnabled(true);
    }
}

} // namespace

void TfrmMain::setUpDataPage()
{
    setUpLiveDisplay(ui->edtDataCur);
    const std::array<QPixmap, 3> pictures{Glyphs::lampPicture(Lamp::Error), Glyphs::lampPicture(Lamp::NoError),
                                          Glyphs::lampPicture(Lamp::NotAvailable)};
    const auto setPictures = [&pictures](std::span<const DiagnosticCell> cells) {
        for (const DiagnosticCell &cell : cells)
            for (std::size_t kind = 0; kind < pictures.size(); ++kind)
                cell.lamps[kind]->setPixmap(pictures[kind]);
    };
    setPictures(selfDiagCells(*ui));
    setPictures(eepromCells(*ui));
}

// Large type on the button face, as the device's own display stands out on its panel.
void TfrmMain::setUpLiveDisplay(QLineEdit *display)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kLiveDisplayPixels);
    display->setFont(font);
    QPalette palette = display->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    display->setPalette(palette);
}

// The display text is set only when it changed: an unchanged reading redraws nothing.
void TfrmMain::showDisplayText(QLineEdit *display)
{
    const QString text = RegisterCodec::textFrom(ExchangeBuffer.data(), ParamMap[prmDataTxt].Bytes);
    if (display->text() != text)
        display->setText(text);
}

// Three reads, each on its own: the display text, then the two flag words. The error area is
// cleared once the first read is done and then collects the messages of this poll's failures.
void TfrmMain::TimerDataTxtRd()
{
    const std::optional<qint16> text = readIntoBuffer(prmDataTxt);
    if (!text)
        return;
    QString errors;
    colourOutcome(*text, ui->edtDataCur);
    if (*text < lrOk)
        errors += ResultText(*text) + kLineBreak;
    else
        showDisplayText(ui->edtDataCur);

    const auto readFlags = [this, &errors](TParamId id, std::span<const DiagnosticCell> cells,
                                           QLatin1StringView end) {
        const std::optional<qint16> code = readIntoBuffer(id);
        if (!code)
            return;
        const bool failed = *code < lrOk;
        showFlags(cells, failed ? std::nullopt : std::optional<quint16>(ExchangeBuffer[0]));
        if (failed)
            errors += ResultText(*code) + end;
    };
    readFlags(prmSelfDiag, selfDiagCells(*ui), kLineBreak);
    readFlags(prmEEPROMErr, eepromCells(*ui), {});
    ui->lblErrors->setText(errors);
}
