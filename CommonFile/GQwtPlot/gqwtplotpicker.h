#pragma once
// The tracker: while the user drags on the canvas, a vertical line and the value(s) at that
// time followed by the time in parentheses.
#include <QDateTime>
#include <QString>
#include <functional>
#include <qwt_plot_picker.h>

class GQwtPlotPicker : public QwtPlotPicker {
public:
    GQwtPlotPicker(int xAxis, int yAxis, RubberBand rubberBand, DisplayMode trackerMode, QWidget* canvas);

    void SetBaseTime(const QDateTime& baseTime);
    // The window tells the values at a time: the plot knows only the shown curve's y.
    using ValueSource = std::function<QString(double x)>;
    void SetValueSource(ValueSource source);
    QString ValueText(double x, double y) const;

    QDateTime mBaseTime;
    ValueSource mValueSource;

protected:
    QwtText trackerTextF(const QPointF& pos) const override;
};
