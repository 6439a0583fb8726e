#pragma once
// Time-axis labels: x values are seconds from a base time. GTimeToStr turns one into a tick or
// tracker label; GTimeScaleDraw is the bottom axis' scale draw that calls it for every tick.
#include <QDateTime>
#include <QString>
#include <qwt_scale_draw.h>
#include <qwt_text.h>

// mode 0: time axis below one-day steps, 2: one-day steps, 1 (and any other): tracker.
QString GTimeToStr(QDateTime baseTime, double value, int mode);

class GTimeScaleDraw : public QwtScaleDraw {
public:
    GTimeScaleDraw(const QDateTime& baseTime, int labelMode);
    QwtText label(double value) const override;

    QDateTime mBaseTime;
    int mLabelMode;
};
