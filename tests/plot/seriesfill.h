#pragma once
// Fills a series through the real append path. With min_show 1 every sample becomes a shown point
// that carries its own values (moving average of length 1) at x = orgPts + its index.
#include "realdata.h"

#include <QVector>

inline void FillSeries(_SRealData* s, const QVector<double>& value1, const QVector<double>& value2,
                       int orgPts = 0, int minShow = 1)
{
    RealData_Clear(s);
    s->m_DataSecUnit = 1;
    RealData_SetShow(s, minShow, s->show_pt_cnt);
    RealData_Rebuild(s);
    for (int i = 0; i < value1.size(); ++i)
        for (int k = 0; k < minShow; ++k)
            RealData_Add(s, value1[i], i < value2.size() ? value2[i] : 0, 1, orgPts);
}
