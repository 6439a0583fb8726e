#include "gbackground.h"

#include <QColor>
#include <QPainter>
#include <qwt_scale_map.h>

namespace {

const QColor kGreen(0, 228, 0);
const QColor kYellow(255, 255, 0);
const QColor kOrange(255, 126, 0);
const QColor kRed(255, 0, 0);
const QColor kPurple(153, 0, 76);
const QColor kMaroon(126, 0, 35);

enum { kAlways = -1 };

// One concentration band; it is painted when the axis' max minor count exceeds minMinor, so the
// upper bands appear only on the larger y ranges.
struct Band {
    int kind;
    double lower;
    double upper;
    const QColor* colour;
    int minMinor;
};

const Band kBands[] = {
    // PM2.5 / PM10, ug/m3 (axis up to 500, 800 or 1000)
    {0, 0, 35, &kGreen, kAlways},
    {0, 35, 75, &kYellow, kAlways},
    {0, 75, 115, &kOrange, kAlways},
    {0, 115, 150, &kRed, kAlways},
    {0, 150, 250, &kPurple, kAlways},
    {0, 250, 500, &kMaroon, kAlways},
    {0, 500, 600, &kMaroon, 5},
    {0, 600, 800, &kMaroon, 5},
    {0, 800, 1000, &kMaroon, 8},
    // formaldehyde, mg/m3 (axis up to 1 or 3); above 1 stays orange
    {1, 0, 0.1, &kGreen, kAlways},
    {1, 0.1, 0.3, &kYellow, kAlways},
    {1, 0.3, 1, &kOrange, kAlways},
    {1, 1, 3, &kOrange, 1},
    // TVOC, mg/m3 (axis up to 2.5 or 6.55)
    {2, 0, 0.2, &kGreen, kAlways},
    {2, 0.2, 0.5, &kYellow, kAlways},
    {2, 0.5, 2.5, &kOrange, kAlways},
    {2, 2.5, 6.55, &kRed, 3},
};

} // namespace

GBackGround::GBackGround(int maxMinor, int kind, int tvocFlag)
    : mMaxMinor(maxMinor), mKind(kind), mTvocFlag(tvocFlag)
{
}

void GBackGround::draw(QPainter* painter, const QwtScaleMap&, const QwtScaleMap& yMap,
                       const QRectF& canvasRect) const
{
    int kind = mKind;
    if (mTvocFlag == 1 && kind == 1)
        kind = 2;

    QRectF band = canvasRect; // full width; only top and bottom change from band to band
    for (const Band& b : kBands) {
        if (b.kind != kind || mMaxMinor <= b.minMinor)
            continue;
        band.setBottom(yMap.transform(b.lower));
        band.setTop(yMap.transform(b.upper));
        painter->fillRect(band, *b.colour);
    }
}
