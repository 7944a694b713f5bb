#pragma once

#include <QRect>
#include <QSize>

// Where a tool window goes beside the main window, so that it never hides the main window's
// tool bar: to the right or the left where the screen has room for it whole; else below, where
// the room there takes its whole height; else beside, narrowed to the free width down to
// minimum.width(); else below with the height that is left, down to minimum.height(); and on a
// screen too small for any of that, over the main window but below its tool bar.
//
// All rectangles are frames in screen coordinates: screen is the available area, main the
// main window's frame, toolBarBottom the last row of its tool bar.
QRect toolWindowPlacement(const QRect &screen, const QRect &main, int toolBarBottom, const QSize &preferred,
                          const QSize &minimum);

// A remembered frame back on the screen as it is now: moved inside it, and cut to its size.
QRect keptOnScreen(const QRect &frame, const QRect &screen);
