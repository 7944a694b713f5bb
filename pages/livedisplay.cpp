#include "livedisplay.h"

#include "parammap.h"
#include "registercodec.h"

#include <QLineEdit>

namespace LiveDisplay {

namespace {
constexpr int kPixels = 24;
}

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

void show(QLineEdit *display, const quint16 *registers)
{
    const QString text = RegisterCodec::textFrom(registers, ParamMap[prmDataTxt].Bytes);
    if (display->text() != text)
        display->setText(text);
}

} // namespace LiveDisplay
