#include "gqwtplotpicker.h"

#include "gtimescaledraw.h"

GQwtPlotPicker::GQwtPlotPicker(int xAxis, int yAxis, RubberBand rubberBand, DisplayMode trackerMode,
                               QWidget* canvas)
    : QwtPlotPicker(xAxis, yAxis, rubberBand, trackerMode, canvas)
{
}

void GQwtPlotPicker::SetBaseTime(const QDateTime& baseTime)
{
    mBaseTime = baseTime;
}

void GQwtPlotPicker::SetValueSource(ValueSource source)
{
    mValueSource = std::move(source);
}

QString GQwtPlotPicker::ValueText(double x, double y) const
{
    if (mValueSource)
        return mValueSource(x);
    return QString::number(y, 'f', 1);
}

QwtText GQwtPlotPicker::trackerTextF(const QPointF& pos) const
{
    const QString time = GTimeToStr(mBaseTime, pos.x(), 1);
    if (rubberBand() == HLineRubberBand)
        return QwtText(QString::asprintf("%.2f", pos.y()));
    return QwtText(ValueText(pos.x(), pos.y()) + QLatin1Char('(') + time + QLatin1Char(')'));
}
