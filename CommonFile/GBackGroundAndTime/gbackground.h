#pragma once
// Horizontal colour bands behind the curves, between fixed concentration values.
#include <qwt_plot_item.h>

class GBackGround : public QwtPlotItem {
public:
    // maxMinor: the y axis' maximum minor tick count (tells how far up the axis reaches);
    // kind: 0 PM (ug/m3), 1 formaldehyde (mg/m3), 2 TVOC (mg/m3); tvocFlag 1 paints kind 1 as 2.
    GBackGround(int maxMinor, int kind, int tvocFlag);
    void draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
              const QRectF& canvasRect) const override;

    int mMaxMinor;
    int mKind;
    int mTvocFlag;
};
