#include "windowplacement.h"

#include <algorithm>

namespace {

// Between the main window and the tool window, so that their frames do not touch.
constexpr int kGap = 8;

// A frame's top-left corner moved so that as much of it as fits lies on the screen.
QPoint inside(const QPoint &corner, const QSize &size, const QRect &screen)
{
    return {std::clamp(corner.x(), screen.left(), std::max(screen.left(), screen.right() + 1 - size.width())),
            std::clamp(corner.y(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()))};
}

} // namespace

QRect toolWindowPlacement(const QRect &screen, const QRect &main, int toolBarBottom, const QSize &preferred,
                          const QSize &minimum)
{
    const int height = std::min(preferred.height(), screen.height());
    const int width = std::min(preferred.width(), screen.width());
    const int rightFree = screen.right() - main.right() - kGap;
    const int leftFree = main.left() - kGap - screen.left();
    const int belowFree = screen.bottom() - main.bottom() - kGap;
    const QPoint right(main.right() + 1 + kGap, main.top());
    const auto left = [&](int w) { return QPoint(main.left() - kGap - w, main.top()); };
    const QPoint below(main.left(), main.bottom() + 1 + kGap);

    const auto placed = [&screen](const QPoint &corner, const QSize &size) {
        return QRect(inside(corner, size, screen), size);
    };
    if (rightFree >= width)
        return placed(right, {width, height});
    if (leftFree >= width)
        return placed(left(width), {width, height});
    if (belowFree >= height)
        return placed(below, {width, height});
    const int sideFree = std::max(rightFree, leftFree);
    if (sideFree >= minimum.width())
        return placed(rightFree >= leftFree ? right : left(sideFree), {sideFree, height});
    if (belowFree >= minimum.height())
        return placed(below, {width, belowFree});
    const int underToolBar = toolBarBottom + 1 + kGap;
    return placed({main.left(), underToolBar}, {width, std::min(height, screen.bottom() + 1 - underToolBar)});
}

QRect keptOnScreen(const QRect &frame, const QRect &screen)
{
    const QSize size = frame.size().boundedTo(screen.size());
    return {inside(frame.topLeft(), size, screen), size};
}
