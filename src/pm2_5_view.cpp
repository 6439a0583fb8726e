// What the plot shows: time zoom, which channel, which curves, and the tracker's value text.
#include "pm2_5.h"

#include "grecorddatapro.h"
#include "ui_pm2_5.h"

#include <qwt_plot_curve.h>

#include <climits>
#include <cmath>

void PM2_5::ZoomCurrent(bool in)
{
    if (!m_RecordData || m_CurChannel >= m_ChannelCount)
        return;
    GRecordDataPro* store = m_RecordData[m_CurChannel].m_pCurrent;
    if (!store || !store->m_pRealData)
        return;
    store->UpdateStartFields();
    if (in)
        RealData_ZoomIn(store->m_pRealData);
    else
        RealData_ZoomOut(store->m_pRealData);
    m_Plot.ShowRealData(m_RecordData, m_CurChannel, m_Language, true);
}

void PM2_5::on_actionTime_zoom_in_triggered() { ZoomCurrent(true); }

void PM2_5::on_actionTime_zoom_out_triggered() { ZoomCurrent(false); }

void PM2_5::on_radioButtonPM25_clicked()
{
    m_CurChannel = 0;
    m_Plot.ShowRealData(m_RecordData, m_CurChannel, m_Language, true);
}

void PM2_5::on_radioButtonPA_clicked()
{
    m_CurChannel = 1;
    // Before the device has told its channel count there is no gas channel to show yet.
    if (m_RecordData && m_CurChannel < m_ChannelCount)
        m_Plot.ShowRealData(m_RecordData, m_CurChannel, m_Language, true);
}

void PM2_5::ShowCurve(int index, bool visible)
{
    if (index < 0 || index >= m_Plot.mCurves.size())
        return;
    m_Plot.mCurves[index]->setVisible(visible);
    ui->qwtPlot->replot();
}

void PM2_5::ShowAllCurves(bool visible)
{
    for (int i = 0; i < m_DeviceActions.size(); ++i) {
        m_DeviceActions[i]->setChecked(visible);
        ShowCurve(i, visible);
    }
}

void PM2_5::on_actionDisplay_all_triggered() { ShowAllCurves(true); }

void PM2_5::on_actionNodisplay_triggered() { ShowAllCurves(false); }

void PM2_5::my_actionDevice1_triggered()
{
    QAction* item = qobject_cast<QAction*>(sender());
    const int i = m_DeviceActions.indexOf(item);
    if (i < 0)
        return;
    ShowCurve(i, item->isChecked());
}

QString PM2_5::TrackerValueText(double x)
{
    if (!m_RecordData || m_CurChannel < 0 || m_CurChannel >= m_ChannelCount)
        return QString();
    const GRecordDataPro* store = m_RecordData[m_CurChannel].m_pCurrent;
    const _SRealData* series = store ? store->m_pRealData : nullptr;
    if (!series || series->m_ShowCount <= 0 || !series->m_pShowSec || !series->m_pShowValue1 ||
        !series->m_pShowValue2)
        return QString();

    // The cursor's second, cut toward zero (and kept inside int for a cursor far off the axis).
    const double cut = std::trunc(x);
    const int xq = cut >= INT_MAX ? INT_MAX : cut <= INT_MIN ? INT_MIN : int(cut);
    for (int i = 0; i < series->m_ShowCount; ++i) {
        if (int(series->m_pShowSec[i]) < xq)
            continue;
        // Values are cut toward zero to one decimal: 12.39 reads 12.3.
        const int a10 = int(series->m_pShowValue1[i] * 10);
        const int b10 = int(series->m_pShowValue2[i] * 10);
        const QString first = QString::number(a10 / 10.0, 'g', 6);
        if (m_SeriesCount == 2)
            return first + QLatin1Char(' ') + QString::number(b10 / 10.0, 'g', 6);
        return first;
    }
    return QString();
}
