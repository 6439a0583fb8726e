#pragma once
// The tracker: while the user drags on the canvas, a vertical line and the value(s) at that
// time followed by the time in parentheses.
#include <QDateTime>
#include <QString>
#include <qwt_plot_picker.h>

class PM2_5;

class GQwtPlotPicker : public QwtPlotPicker {
public:
    GQwtPlotPicker(int xAxis, int yAxis, RubberBand rubberBand, DisplayMode trackerMode, QWidget* canvas);

    void SetBaseTime(const QDateTime& baseTime);
    void SetValueSource(PM2_5* window);
    QString ValueText(double x, double y) const;

    QDateTime mBaseTime;
    PM2_5* mValueSource = nullptr;

protected:
    QwtText trackerTextF(const QPointF& pos) const override;
};
