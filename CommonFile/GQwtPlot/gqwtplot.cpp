#include "gqwtplot.h"

// Placeholder: the controller lands with the plot work.
GQwtPlot::GQwtPlot() {}
GQwtPlot::~GQwtPlot() {}
int GQwtPlot::SetPlot(QwtPlot* plot) { mPlot = plot; return 1; }
int GQwtPlot::InitPlot(const QDateTime&, int, int curveCount) { mCurveCount = curveCount; return 0; }
void GQwtPlot::ShowRealData(GRecordChannel*, int, int, bool) {}
void GQwtPlot::ReSetAxisXY(const _SRealData*, double, int) {}
int GQwtPlot::SetAxisTitles(int, int) { return 1; }
void GQwtPlot::ReSetBackGround(int) {}
void GQwtPlot::CreateCurves() {}
int GQwtPlot::SetCurvePen(int) { return -1; }
int GQwtPlot::ClearItems() { return 1; }
