#include "gqwtplotpicker.h"

#include "pm2_5.h"

// Placeholder: the tracker lands with the plot work.
GQwtPlotPicker::GQwtPlotPicker(int xAxis, int yAxis, RubberBand rubberBand, DisplayMode trackerMode, QWidget* canvas)
    : QwtPlotPicker(xAxis, yAxis, rubberBand, trackerMode, canvas) {}
void GQwtPlotPicker::SetBaseTime(const QDateTime& baseTime) { mBaseTime = baseTime; }
void GQwtPlotPicker::SetValueSource(PM2_5* window) { mValueSource = window; }
QString GQwtPlotPicker::ValueText(double x, double y) const { return mValueSource ? mValueSource->TrackerValueText(x) : QString::number(y, 'f', 1); }
QwtText GQwtPlotPicker::trackerTextF(const QPointF& pos) const { return QwtText(ValueText(pos.x(), pos.y())); }
