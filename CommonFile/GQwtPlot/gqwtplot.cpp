#include "gqwtplot.h"

#include "gbackground.h"
#include "gqwtplotpicker.h"
#include "grecorddatapro.h"
#include "gtimescaledraw.h"
#include "platformtime.h"
#include "realdata.h"

#include <QCoreApplication>
#include <QLocale>
#include <QLoggingCategory>
#include <QPen>
#include <qwt_picker_machine.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>

Q_LOGGING_CATEGORY(lcPlot, "vostral.plot", QtInfoMsg)

namespace {

enum { kKindPm = 0, kKindFormaldehyde = 1, kKindTvoc = 2 };
constexpr int kOneDayStep = 86400;

// Dates in the titles use plain digits whatever the user's locale.
QString TitleDate(const QDateTime& t)
{
    return QLocale::c().toString(t, QStringLiteral("yyyy/MM/dd"));
}

QString TrObject(const char* source)
{
    return QCoreApplication::translate("QObject", source);
}

// Shown points that can be read safely: none when the arrays are missing.
int ReadableShowCount(const _SRealData* s)
{
    if (!s->m_pShowSec || !s->m_pShowValue1 || !s->m_pShowValue2 || s->m_ShowCount <= 0)
        return 0;
    if (s->m_Capacity > 0 && s->m_ShowCount > s->m_Capacity)
        return s->m_Capacity;
    return s->m_ShowCount;
}

double LargestShown(const double* values, int count)
{
    double top = 0;
    for (int i = 0; i < count; ++i)
        if (values[i] > top)
            top = values[i];
    return top;
}

struct YRange {
    double top;
    int maxMinor;
};

// The y range grows in fixed steps so the bands always end at the top of the axis.
YRange ChooseYRange(int kind, double yMax)
{
    switch (kind) {
    case kKindFormaldehyde:
        return yMax < 1 ? YRange{1, 1} : YRange{3, 2};
    case kKindTvoc:
        return yMax < 2.5 ? YRange{2.5, 3} : YRange{6.55, 4};
    default:
        if (yMax <= 500)
            return {500, 5};
        if (yMax <= 800)
            return {800, 8};
        return {1000, 10};
    }
}

void DeletePicker(GQwtPlotPicker*& picker)
{
    if (!picker)
        return;
    QObject::disconnect(picker, &QObject::destroyed, nullptr, nullptr);
    delete picker;
    picker = nullptr;
}

void InstallTimeScale(QwtPlot* plot, const QDateTime& base, int labelMode)
{
    plot->setAxisScaleDraw(QwtPlot::xBottom, new GTimeScaleDraw(base, labelMode));
    plot->setAxisLabelRotation(QwtPlot::xBottom, 0);
    plot->setAxisLabelAlignment(QwtPlot::xBottom, Qt::AlignHCenter | Qt::AlignBottom);
}

} // namespace

GQwtPlot::GQwtPlot() {}

// The window normally clears the items first; whatever is still held is released here so that
// nothing leaks when it did not.
GQwtPlot::~GQwtPlot()
{
    ClearItems();
}

int GQwtPlot::SetPlot(QwtPlot* plot)
{
    mPlot = plot;
    // The controller owns its curves and background item: the widget must not delete them as
    // well when it is destroyed first, it only detaches them.
    if (mPlot)
        mPlot->setAutoDelete(false);
    return 1;
}

int GQwtPlot::InitPlot(const QDateTime& start, int orgSeconds, int curveCount)
{
    mCurveCount = curveCount;
    if (!mPlot)
        return 0;

    ReSetBackGround(kKindPm);

    auto* canvas = new QwtPlotCanvas;
    canvas->setBorderRadius(10);
    mPlot->setCanvas(canvas);
    // Set on the canvas actually in use: a new canvas starts with the widget's own palette.
    mPlot->setCanvasBackground(QBrush(Qt::white, Qt::SolidPattern));
    mPlot->setMinimumWidth(100);

    const QDateTime base = start.addSecs(-orgSeconds);
    DeletePicker(mPicker);
    mPicker = new GQwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::VLineRubberBand,
                                 QwtPicker::ActiveOnly, mPlot->canvas());
    mPicker->SetBaseTime(base);
    mPicker->setStateMachine(new QwtPickerDragPointMachine);
    // The picker is a child of the canvas; forget it if the canvas goes first.
    QObject::connect(mPicker, &QObject::destroyed, [this] { mPicker = nullptr; });

    mPlot->setAxisTitle(QwtPlot::yLeft, TrObject("PM2.5  ug/m3") + QLatin1Char('\n'));
    mPlot->setAxisScale(QwtPlot::yLeft, 0, 500);
    mPlot->setAxisTitle(QwtPlot::xBottom, QLatin1Char('\n') + TrObject("Time") + QLatin1Char('(')
                                              + TitleDate(start) + QLatin1Char(')'));
    mPlot->setAxisScale(QwtPlot::xBottom, orgSeconds, orgSeconds + 300, 60);
    InstallTimeScale(mPlot, base, 0);

    mPlot->setAutoReplot(false);
    mPlot->replot();

    CreateCurves();
    return 0;
}

void GQwtPlot::CreateCurves()
{
    if (mCurveCount <= 0) {
        // no series count known (no sensor): one curve for whatever is shown
        if (mCurves.isEmpty())
            mCurves.append(new QwtPlotCurve);
        SetCurvePen(0);
        return;
    }
    while (mCurves.size() < mCurveCount)
        mCurves.append(new QwtPlotCurve);
    for (int i = 0; i < mCurveCount; ++i)
        SetCurvePen(i);
}

int GQwtPlot::SetCurvePen(int index)
{
    if (index < 0 || index >= mCurves.size())
        return -1;
    static const Qt::GlobalColor kColours[] = {Qt::blue, Qt::darkGreen, Qt::cyan, Qt::darkYellow, Qt::magenta};
    const int kColourCount = sizeof(kColours) / sizeof(kColours[0]);
    const QColor colour = index < kColourCount ? kColours[index] : Qt::white;

    QwtPlotCurve* curve = mCurves[index];
    curve->setPen(QPen(QBrush(colour), 1.8, Qt::SolidLine));
    curve->setStyle(QwtPlotCurve::Lines);
    curve->attach(mPlot);
    return 0;
}

void GQwtPlot::ReSetBackGround(int kind)
{
    if (!mPlot)
        return;
    mYMaxMinor = mPlot->axisMaxMinor(QwtPlot::yLeft);
    delete mBackGround;
    mBackGround = new GBackGround(mYMaxMinor, kind, static_cast<int>(mTvocFlag));
    mBackGround->attach(mPlot);
}

int GQwtPlot::SetAxisTitles(int language, int channel)
{
    if (!mPlot)
        return 1;
    const QString date = TitleDate(mTitleDate);
    QString xTitle;
    QString yTitle;
    // The gas channel keeps the formaldehyde title also on TVOC devices.
    if (language != 0) {
        xTitle = QLatin1Char('\n') + TrObject("time") + QLatin1Char('(') + date + QLatin1Char(')');
        yTitle = TrObject(channel == 0 ? "PM2.5 ug/m3" : "Formaldehyde mg/m3") + QLatin1Char('\n');
    } else {
        xTitle = QStringLiteral("\nTime(") + date + QLatin1Char(')');
        yTitle = QLatin1String(channel == 0 ? "PM2.5 ug/m3\n" : "Formaldehyde mg/m3\n");
    }
    mPlot->setAxisTitle(QwtPlot::xBottom, xTitle);
    mPlot->setAxisTitle(QwtPlot::yLeft, yTitle);
    return 1;
}

void GQwtPlot::ShowRealData(GRecordChannel* channels, int channel, int language, bool refreshTimeAxis)
{
    // Only channel 0 (particulate) and 1 (gas) exist.
    if (!mPlot || !channels || channel < 0 || channel > 1)
        return;
    GRecordChannel& ch = channels[channel];
    if (!ch.m_pCurrent || !ch.m_pCurrent->m_pRealData)
        return;
    const _SRealData* series = ch.m_pCurrent->m_pRealData;
    if (!series->m_ShowChanged && !refreshTimeAxis)
        return; // a poll that completed no shown point costs nothing
    if (!series->m_pShowSec || !series->m_pShowValue1 || !series->m_pShowValue2)
        return;

    if (ch.m_Live) {
        const QDateTime now = Platform_CurrentDateTime();
        if (mTitleDate.isNull() || mTitleDate.date() != now.date())
            mTitleDate = now;
    }
    SetAxisTitles(language, channel);

    const int xStep = GetAxisStepSec(series);
    ReSetAxisXY(series, xStep, channel);

    const int count = ReadableShowCount(series);
    if (!mCurves.isEmpty())
        mCurves[0]->setSamples(series->m_pShowSec, series->m_pShowValue1, count);
    if (mCurveCount == 2 && mCurves.size() >= 2)
        mCurves[1]->setSamples(series->m_pShowSec, series->m_pShowValue2, count);

    if (refreshTimeAxis) {
        const QDateTime base = ch.m_pCurrent->m_StartTime.addSecs(-series->org_pts);
        InstallTimeScale(mPlot, base, xStep == kOneDayStep ? 2 : 0);
        if (mPicker)
            mPicker->SetBaseTime(base);
    }
    mPlot->replot();
}

void GQwtPlot::ReSetAxisXY(const _SRealData* series, double xStep, int kind)
{
    if (!mPlot || !series)
        return;
    mPlot->setAxisScale(QwtPlot::xBottom, series->m_ShowStartSec, series->m_ShowEndSec, xStep);
    qCDebug(lcPlot, "GQwtPlot. real=%p\n", static_cast<const void*>(series));
    qCDebug(lcPlot, "m_ShowStartSec=%f--> %f\n", series->m_ShowStartSec, series->m_ShowEndSec);
    qCDebug(lcPlot, "show_pt_cnt=%d--> min_show=%d\n", series->show_pt_cnt, series->min_show);
    qCDebug(lcPlot, "org_pts=%d\n", series->org_pts);

    if (kind == kKindFormaldehyde && mTvocFlag == 1)
        kind = kKindTvoc;
    if (kind != kKindFormaldehyde && kind != kKindTvoc)
        kind = kKindPm;

    // The particulate range follows PM10 alone.
    const int count = ReadableShowCount(series);
    mShowDataYMax = LargestShown(kind == kKindPm ? series->m_pShowValue2 : series->m_pShowValue1, count);
    if (kind == kKindFormaldehyde)
        qCDebug(lcPlot, "mShowDataYMax=%f", mShowDataYMax);

    const YRange range = ChooseYRange(kind, mShowDataYMax);
    mPlot->setAxisScale(QwtPlot::yLeft, 0, range.top);
    mPlot->setAxisMaxMinor(QwtPlot::yLeft, range.maxMinor);
    ReSetBackGround(kind);
}

int GQwtPlot::ClearItems()
{
    qDeleteAll(mCurves);
    mCurves.clear();
    delete mBackGround;
    mBackGround = nullptr;
    DeletePicker(mPicker);
    return 1;
}
