#include "gtimescaledraw.h"

// Placeholder: the labels land with the plot work.
QString GTimeToStr(QDateTime baseTime, double value, int) { return baseTime.addSecs(static_cast<qint64>(value)).toString("hh:mm"); }
GTimeScaleDraw::GTimeScaleDraw(const QDateTime& baseTime, int labelMode) : mBaseTime(baseTime), mLabelMode(labelMode) {}
QwtText GTimeScaleDraw::label(double value) const { return QwtText(GTimeToStr(mBaseTime, value, mLabelMode)); }
