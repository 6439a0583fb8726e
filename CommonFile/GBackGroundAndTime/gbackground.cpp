#include "gbackground.h"

// Placeholder: the bands land with the plot work.
GBackGround::GBackGround(int maxMinor, int kind, int tvocFlag) : mMaxMinor(maxMinor), mKind(kind), mTvocFlag(tvocFlag) {}
void GBackGround::draw(QPainter*, const QwtScaleMap&, const QwtScaleMap&, const QRectF&) const {}
