#include "livedisplay.h"

#include "devicepage.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QSplitter>
#include <QVBoxLayout>

#include <cmath>

namespace LiveDisplay {

namespace {
constexpr int kPixels = 24;
// Below the form's lowest control, as the form leaves room between its boxes.
constexpr int kControlsMargin = 6;
// The trend's least height, where the page leaves it less: its row of controls and a plot.
constexpr int kLeastTrendHeight = 90;
// The page's controls at the places their form gives them: the area asks for the room they
// take, and is as wide at least; the splitter may give it less height, clipping them.
class FormArea : public QWidget
{
public:
    QSize sizeHint() const override { return DevicePage::formExtent(this); }
    QSize minimumSizeHint() const override { return {DevicePage::formExtent(this).width(), 0}; }
};

} // namespace

void setUp(QLineEdit *display)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kPixels);
    display->setFont(font);
    QPalette palette = display->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    display->setPalette(palette);
}

void show(QLineEdit *display, const QString &text)
{
    if (display->text() != text)
        display->setText(text);
}

std::optional<double> number(const QString &text)
{
    QString plain = text.trimmed();
    plain.replace(u',', u'.');
    bool ok = false;
    const double value = plain.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

TrendPanel *addTrend(QGroupBox *page, TrendPanel::About about)
{
    auto *controls = new FormArea;
    controls->setObjectName(QStringLiteral("pnlLiveControls"));
    int bottom = 0;
    for (QWidget *child : page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        bottom = std::max(bottom, child->geometry().bottom());
        child->setParent(controls);
    }
    controls->setMinimumHeight(0);
    auto *trend = new TrendPanel(std::move(about), nullptr);
    trend->setMinimumHeight(kLeastTrendHeight);
    auto *splitter = new QSplitter(Qt::Vertical, page);
    splitter->setObjectName(QStringLiteral("splitterLive"));
    splitter->addWidget(controls);
    splitter->addWidget(trend);
    splitter->setCollapsible(1, false);
    splitter->setStretchFactor(1, 1);
    // The form's coordinates count from the box's top edge, title included: the controls keep them.
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, kControlsMargin, kControlsMargin);
    layout->addWidget(splitter);
    splitter->setSizes({bottom + kControlsMargin, std::max(page->height() - bottom, kLeastTrendHeight)});
    return trend;
}

} // namespace LiveDisplay
