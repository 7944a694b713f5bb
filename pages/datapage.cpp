// Readings page: what the device's own display shows, and its self-diagnostics, polled by the
// window's timer. Each poll makes three reads of its own and gathers their messages in the
// error area.
#include "datapage.h"

#include "catalogue.h"
#include "controls.h"
#include "glyphs.h"
#include "livedisplay.h"
#include "resultcodes.h"
#include "ui_datapage.h"

#include <QApplication>
#include <QDateTime>

#include <array>
#include <span>

namespace {

using Glyphs::Lamp;

// The first two reads of a poll end their message with a line break, the last one does not.
constexpr QLatin1StringView kLineBreak("\r\n");

// One check of the device: its label and its three lamps, stacked on one spot, in the order of
// Glyphs::Lamp. The label names the bit of its flag word as the catalogue does.
struct DiagnosticCell
{
    QLabel *label;
    std::array<QLabel *, 3> lamps;
};

// The cells of the self-diagnostic word, bit 0 first: ROM, RAM, EEPROM.
std::array<DiagnosticCell, 3> selfDiagCells(const Ui::DataPage &ui)
{
    return {{
        {ui.lblDataPZUerr, {ui.imgDataPZUerr, ui.imgDataPZUnoerr, ui.imgDataPZUna}},
        {ui.lblDataOZUerr, {ui.imgDataOZUerr, ui.imgDataOZUnoerr, ui.imgDataOZUna}},
        {ui.lblDataEEPROMerr, {ui.imgDataEEPROMerr, ui.imgDataEEPROMnoerr, ui.imgDataEEPROMna}},
    }};
}

// The cells of the EEPROM error word, bit 0 first: system, calibration, indication, name.
std::array<DiagnosticCell, 4> eepromCells(const Ui::DataPage &ui)
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

DataPage::DataPage(Session &session, QWidget *parent) : DevicePage(session, parent), ui(std::make_unique<Ui::DataPage>())
{
    ui->setupUi(this);
    LiveDisplay::setUp(ui->edtDataCur);
    setUpCells();
    m_trend = LiveDisplay::addTrend(this, [this] { return logAbout(); });
}

DataPage::~DataPage() = default;

void DataPage::setUpCells()
{
    const std::array<QPixmap, 3> pictures{Glyphs::lampPicture(Lamp::Error), Glyphs::lampPicture(Lamp::NoError),
                                          Glyphs::lampPicture(Lamp::NotAvailable)};
    const auto setUp = [&pictures](std::span<const DiagnosticCell> cells, TParamId word) {
        const QList<Catalogue::Bit> &bits = Catalogue::of(word).bits;
        for (std::size_t bit = 0; bit < cells.size(); ++bit) {
            cells[bit].label->setText(bits[qsizetype(bit)].caption);
            for (std::size_t kind = 0; kind < pictures.size(); ++kind)
                cells[bit].lamps[kind]->setPixmap(pictures[kind]);
        }
    };
    setUp(selfDiagCells(*ui), prmSelfDiag);
    setUp(eepromCells(*ui), prmEEPROMErr);
}

// Three reads, each on its own, queued at once and so all from the one device the poll began
// with, the address the trend is told: the display text, then the two flag words. Once the last reply is in, the error area
// shows this poll's failures, and the trend takes the poll, stamped with the time it began.
void DataPage::TimerDataTxtRd()
{
    struct Gathered
    {
        PollLog::Poll poll;
        QString errors;
        qint16 lastFailure = lrOk;
        void failed(qint16 code, QLatin1StringView end)
        {
            errors += ResultText(code) + end;
            lastFailure = code;
            if (poll.result == lrOk)
                poll.result = code;
        }
    };
    auto gathered = std::make_shared<Gathered>();
    gathered->poll.time = QDateTime::currentDateTime();
    gathered->poll.address = m_session.deviceNumber();
    const auto readGathered = [this](TParamId id, Session::ReadDone done) {
        return m_session.readValue(Catalogue::of(id), this, std::move(done), Session::Reporting::Gathered);
    };
    const bool asked = readGathered(prmDataTxt, [this, gathered](const Session::Reading &text) {
        colourOutcome(text.code, ui->edtDataCur);
        if (text.code < lrOk) {
            gathered->failed(text.code, kLineBreak);
            return;
        }
        gathered->poll.display = text.value.toString();
        gathered->poll.value = LiveDisplay::number(gathered->poll.display);
        LiveDisplay::show(ui->edtDataCur, gathered->poll.display);
    });
    if (!asked)
        return;
    const auto flagsRead = [this, gathered](TParamId id, QLatin1StringView end,
                                            std::optional<quint16> PollLog::Poll::*field) {
        return [this, gathered, id, end, field](const Session::Reading &word) {
            const bool failed = word.code < lrOk;
            const std::optional<quint16> flags = failed ? std::nullopt : std::optional<quint16>(quint16(word.value.toUInt()));
            if (id == prmSelfDiag)
                showFlags(selfDiagCells(*ui), flags);
            else
                showFlags(eepromCells(*ui), flags);
            if (failed)
                gathered->failed(word.code, end);
            gathered->poll.*field = flags;
        };
    };
    readGathered(prmSelfDiag, flagsRead(prmSelfDiag, kLineBreak, &PollLog::Poll::selfDiag));
    readGathered(prmEEPROMErr, [this, gathered, last = flagsRead(prmEEPROMErr, {}, &PollLog::Poll::eepromErrors)](
                                   const Session::Reading &word) {
        last(word);
        m_session.report(gathered->lastFailure, gathered->errors);
        m_trend->add(gathered->poll);
        emit polled();
    });
}
