#pragma once
// Puts shown points into a store's series by hand: only the fields the plot, the time axis and
// the tracker read. Works on a series with or without allocated arrays; arrays it had to supply
// itself are detached again before the series is freed.
#include "realdata.h"

#include <QVector>
#include <vector>

class ShownSeries {
public:
    explicit ShownSeries(_SRealData* series) : mSeries(series)
    {
        if (!series->m_pShowSec) {
            mOwned = true;
            const int n = series->m_Capacity > 0 ? series->m_Capacity : kOwnCapacity;
            mValue1.assign(n, 0);
            mValue2.assign(n, 0);
            mSec.assign(n, 0);
            series->m_pShowValue1 = mValue1.data();
            series->m_pShowValue2 = mValue2.data();
            series->m_pShowSec = mSec.data();
        }
    }
    ~ShownSeries()
    {
        if (mOwned)
            mSeries->m_pShowValue1 = mSeries->m_pShowValue2 = mSeries->m_pShowSec = nullptr;
    }
    ShownSeries(const ShownSeries&) = delete;
    ShownSeries& operator=(const ShownSeries&) = delete;

    // Point i lies at x = orgPts + i * minShow; the visible window holds the newest showPoints.
    void Set(const QVector<double>& value1, const QVector<double>& value2, int minShow = 1, int orgPts = 0,
             int showPoints = 300)
    {
        _SRealData* s = mSeries;
        const int n = value1.size();
        for (int i = 0; i < n; ++i) {
            s->m_pShowValue1[i] = value1[i];
            s->m_pShowValue2[i] = i < value2.size() ? value2[i] : 0;
            s->m_pShowSec[i] = orgPts + double(i) * minShow;
        }
        s->m_ShowCount = n;
        s->min_show = minShow;
        s->show_pt_cnt = showPoints;
        s->org_pts = orgPts;
        s->m_ShowChanged = 1;
        s->m_ShowStartSec = n > showPoints ? s->m_pShowSec[n - showPoints] : orgPts;
        s->m_ShowEndSec = s->m_ShowStartSec + double(showPoints) * minShow;
    }

private:
    enum { kOwnCapacity = 4096 };
    _SRealData* mSeries;
    bool mOwned = false;
    std::vector<double> mValue1, mValue2, mSec;
};
