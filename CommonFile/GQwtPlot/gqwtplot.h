#pragma once
// The plot controller: configures the window's Qwt plot, owns its curves, background band item
// and picker, and copies the shown channel's series into the curves and rescales both axes.
#include <QDateTime>
#include <QList>
#include <cstdint>

class QwtPlot;
class QwtPlotCurve;
class GQwtPlotPicker;
class GBackGround;
class GRecordChannel;
struct _SRealData;

class GQwtPlot {
public:
    GQwtPlot();
    ~GQwtPlot();
    GQwtPlot(const GQwtPlot&) = delete;
    GQwtPlot& operator=(const GQwtPlot&) = delete;

    int SetPlot(QwtPlot* plot);
    int InitPlot(const QDateTime& start, int orgSeconds, int curveCount);
    void ShowRealData(GRecordChannel* channels, int channel, int language, bool refreshTimeAxis);
    void ReSetAxisXY(const _SRealData* series, double xStep, int kind);
    int SetAxisTitles(int language, int channel);
    void ReSetBackGround(int kind);
    void CreateCurves();
    int SetCurvePen(int index);
    int ClearItems();

    QList<QwtPlotCurve*> mCurves;
    GQwtPlotPicker* mPicker = nullptr;
    QDateTime mTitleDate;
    uint32_t mTvocFlag = 0;
    int mYMaxMinor = 5;
    GBackGround* mBackGround = nullptr;
    QwtPlot* mPlot = nullptr;
    int mCurveCount = 0;
    double mShowDataYMax = 0;
};
