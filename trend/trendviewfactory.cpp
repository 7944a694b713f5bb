// The one place that knows whether the plotting library is in the build.
#include "trendview.h"

#ifdef INDICATOR_HAVE_TRENDPLOT
#include "trendplot.h"

TrendView *TrendView::create(const TrendSeries &series, QWidget *parent)
{
    return new TrendPlot(series, parent);
}
#else
TrendView *TrendView::create(const TrendSeries &, QWidget *)
{
    return nullptr;
}
#endif
