#include "realdata.h"

#include "zeroblock.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t kArrayBytes = sizeof(double) * kRealDataCapacity;
constexpr int kHalfRing = kSmoothSlots / 2; // longest moving average
constexpr int kFitAllPoints = 300;          // the fit-all factor spreads the data over this many points

int AtLeastOne(int v)
{
    return v < 1 ? 1 : v;
}

// Shown points in the visible window, kept inside the arrays.
int WindowPoints(const _SRealData* s)
{
    return std::min(AtLeastOne(s->show_pt_cnt), s->m_Capacity);
}

// Stored samples that make one shown point.
int GroupSize(const _SRealData* s)
{
    return s->m_DataSecUnit == s->min_show ? 1 : AtLeastOne(s->m_SumTarget);
}

// One aggregation step; true when it completed a shown point, whose means are then in the sums.
bool Aggregate(_SRealData* s, double a, double b)
{
    if (s->m_DataSecUnit == s->min_show) {
        s->m_SumValue1 = a;
        s->m_SumValue2 = b;
        return true;
    }
    s->m_SumValue1 += a;
    s->m_SumValue2 += b;
    s->m_SumCount += 1;
    const int target = AtLeastOne(s->m_SumTarget);
    if (s->m_SumCount < target)
        return false;
    s->m_SumCount = 0;
    s->m_SumValue1 /= target;
    s->m_SumValue2 /= target;
    return true;
}

// Smooths the completed point held in the sums and writes it at index at.
void WriteShownPoint(_SRealData* s, int at, double x)
{
    Smooth_Add(&s->m_Smooth, s->m_SumValue1, s->m_SumValue2);
    s->m_SumValue1 = 0;
    s->m_SumValue2 = 0;
    s->m_pShowValue1[at] = Smooth_Mean1(&s->m_Smooth);
    s->m_pShowValue2[at] = Smooth_Mean2(&s->m_Smooth);
    s->m_pShowSec[at] = x;
}

void UpdateWindow(_SRealData* s)
{
    const int points = WindowPoints(s);
    const int first = s->m_ShowCount > points ? s->m_ShowCount - points : 0;
    s->m_ShowStartSec = s->m_pShowSec[first];
    s->m_ShowEndSec = s->m_ShowStartSec + double(points) * s->min_show;
}

// The time-axis classes: both the major tick step and the period org_pts aligns to.
int AxisStepFor(int minShow)
{
    if (minShow < 2)
        return 60;
    if (minShow < 10)
        return 300;
    if (minShow < 40)
        return 1800;
    if (minShow < 80)
        return 3600;
    if (minShow < 1800)
        return 10800;
    return 86400;
}

void UpdateOrgPts(_SRealData* s)
{
    const int64_t h = s->m_StartHour, m = s->m_StartMinute, sec = s->m_StartSecond;
    int64_t org = sec;
    switch (AxisStepFor(s->min_show)) {
    case 300: org = sec + 60 * (m % 5); break;
    case 1800: org = sec + 60 * (m % 30); break;
    case 3600: org = sec + 60 * m; break;
    case 10800: org = sec + 60 * m + 3600 * (h % 3); break;
    default: break; // 60 and 86400: the seconds alone
    }
    s->org_pts = int32_t(org);
}

void ApplyShow(_SRealData* s, int minShow)
{
    RealData_SetShow(s, minShow, s->show_pt_cnt);
    RealData_Rebuild(s);
}
} // namespace

_SRealData* RealData_Create()
{
    auto* s = static_cast<_SRealData*>(calloc(1, sizeof(_SRealData)));
    if (!s)
        return nullptr;
    s->m_Capacity = kRealDataCapacity;
    double** arrays[] = {&s->m_pShowValue1, &s->m_pShowValue2, &s->m_pShowSec,
                         &s->m_pValue1,     &s->m_pValue2,     &s->m_pDataSec};
    for (double** a : arrays) {
        *a = static_cast<double*>(ZeroBlock_Alloc(kArrayBytes));
        if (!*a) {
            RealData_Free(s);
            return nullptr;
        }
    }
    s->m_DataSecUnit = 1;
    s->min_show = 1;
    s->show_pt_cnt = 300;
    s->m_SumTarget = 1;
    s->m_SmoothLen = 1;
    // A new series shows every sample as it comes, before any rebuild sized the ring.
    Smooth_Init(&s->m_Smooth, 1);
    return s;
}

void RealData_Free(_SRealData* s)
{
    if (!s)
        return;
    for (double* a : {s->m_pShowValue1, s->m_pShowValue2, s->m_pShowSec, s->m_pValue1, s->m_pValue2, s->m_pDataSec})
        ZeroBlock_Free(a, kArrayBytes);
    free(s);
}

void RealData_Clear(_SRealData* s)
{
    // Only the stored prefix was ever written; the rest is still untouched zero pages.
    const size_t used = sizeof(double) * size_t(std::max(s->m_DataCount, 0));
    for (double* a : {s->m_pValue1, s->m_pValue2, s->m_pDataSec})
        ZeroBlock_Clear(a, 0, used);
    for (double* a : {s->m_pShowValue1, s->m_pShowValue2, s->m_pShowSec})
        ZeroBlock_Reset(a, kArrayBytes);
    s->m_DataCount = 0;
    s->m_LastValue1 = 0;
    s->m_LastValue2 = 0;
    s->m_OfferedCount = 0;
}

int RealData_Add(_SRealData* s, double value1, double value2, int secPerSample, int orgPts)
{
    s->m_LastValue1 = value1;
    s->m_LastValue2 = value2;
    s->m_OfferedCount += 1;
    if (s->m_DataCount >= s->m_Capacity)
        return -1;
    const int n = s->m_DataCount;
    s->m_pDataSec[n] = double(secPerSample) * n;
    s->m_pValue1[n] = value1;
    s->m_pValue2[n] = value2;
    s->m_DataCount = n + 1;

    const bool completed = Aggregate(s, value1, value2);
    s->m_ShowChanged = completed ? 1 : 0;
    if (completed) {
        const int points = WindowPoints(s);
        if (s->m_ShowCount >= points) {
            const size_t moved = sizeof(double) * size_t(points - 1);
            memmove(s->m_pShowValue1, s->m_pShowValue1 + 1, moved);
            memmove(s->m_pShowValue2, s->m_pShowValue2 + 1, moved);
            memmove(s->m_pShowSec, s->m_pShowSec + 1, moved);
            s->m_ShowCount = points - 1;
        }
        WriteShownPoint(s, s->m_ShowCount, orgPts + double(secPerSample) * n);
        s->m_ShowCount += 1;
    }
    UpdateWindow(s);
    return 0;
}

void RealData_SetShow(_SRealData* s, int minShow, int showPoints)
{
    minShow = AtLeastOne(minShow);
    s->m_SumValue1 = 0;
    s->m_SumValue2 = 0;
    s->m_SumCount = 0;
    s->min_show = minShow;
    s->show_pt_cnt = std::min(AtLeastOne(showPoints), s->m_Capacity);
    s->m_SumTarget = AtLeastOne(minShow / AtLeastOne(s->m_DataSecUnit));
    s->m_SmoothLen = minShow == 1 ? 1 : minShow == 6 ? 5 : 7;
    // Fresh shown arrays: the pages go back to the system instead of being overwritten.
    for (double* a : {s->m_pShowValue1, s->m_pShowValue2, s->m_pShowSec})
        ZeroBlock_Reset(a, kArrayBytes);
    s->m_ShowCount = 0;
    UpdateOrgPts(s);
}

int RealData_Rebuild(_SRealData* s)
{
    if (s->min_show < 1)
        s->min_show = 1;
    // The newest complete points that fit the window. Counting whole groups of samples (rather
    // than seconds / min_show) keeps the count equal to the points written when min_show is not
    // a multiple of the sample spacing.
    const int group = GroupSize(s);
    const int groups = s->m_DataCount / group;
    const int shown = std::min(groups, WindowPoints(s));
    const int skip = (groups - shown) * group;

    Smooth_Init(&s->m_Smooth, s->m_SmoothLen);
    // Groups start at a multiple of the group size, so a part-built point from before must not
    // leak into the first rebuilt one.
    s->m_SumValue1 = 0;
    s->m_SumValue2 = 0;
    s->m_SumCount = 0;
    int written = 0;
    for (int i = skip; i < s->m_DataCount; ++i) {
        const bool completed = Aggregate(s, s->m_pValue1[i], s->m_pValue2[i]);
        s->m_ShowChanged = completed ? 1 : 0;
        if (completed)
            WriteShownPoint(s, written++, s->org_pts + s->m_pDataSec[i]);
    }
    s->m_ShowCount = written;
    UpdateWindow(s);
    return s->m_ShowCount;
}

int RealData_FitAllFactor(const _SRealData* s)
{
    const int64_t n = s->m_DataCount;
    const int64_t k = AtLeastOne(s->m_DataSecUnit);
    const int64_t factor = n <= kFitAllPoints ? k + 1 : n * k / kFitAllPoints + 1;
    return int(std::min<int64_t>(factor, INT_MAX));
}

void RealData_ZoomIn(_SRealData* s)
{
    const int f = s->min_show;
    const int k = AtLeastOne(s->m_DataSecUnit);
    int next = f >= 1800 ? 300 : f >= 300 ? 60 : f >= 60 ? 30 : f >= 30 ? 6 : 1;
    if (next < k)
        next = k < INT_MAX ? k + 1 : k; // a corrupt file may claim any seconds per record
    const int fit = RealData_FitAllFactor(s);
    if (fit > next && fit < f)
        next = fit;
    ApplyShow(s, next);
}

void RealData_ZoomOut(_SRealData* s)
{
    const int f = s->min_show;
    int next = f < 4 ? 6 : f < 20 ? 30 : f < 50 ? 60 : f < 180 ? 300 : 1800;
    const int fit = RealData_FitAllFactor(s);
    if (fit > f && fit < next)
        next = fit;
    ApplyShow(s, next);
}

void RealData_FitAll(_SRealData* s)
{
    ApplyShow(s, AtLeastOne(RealData_FitAllFactor(s)));
}

void RealData_SetStart(_SRealData* s, uint32_t hour, uint32_t minute, uint32_t second)
{
    s->m_StartHour = hour;
    s->m_StartMinute = minute;
    s->m_StartSecond = second;
    UpdateOrgPts(s);
}

void RealData_LastValues(const _SRealData* s, double* out1, double* out2)
{
    *out1 = s->m_LastValue1 * 10;
    *out2 = s->m_LastValue2 * 10;
}

int GetAxisStepSec(const _SRealData* s)
{
    return AxisStepFor(s->min_show);
}

void Smooth_Init(_SSmoothData* ring, int len)
{
    memset(ring, 0, sizeof(*ring));
    ring->len = std::clamp(len, 1, kHalfRing);
}

void Smooth_Add(_SSmoothData* ring, double first, double second)
{
    const int len = std::clamp(ring->len, 1, kHalfRing);
    if (ring->pos < 0 || ring->pos >= len)
        ring->pos = 0;
    if (ring->count >= len) {
        ring->sum1 -= ring->values[ring->pos];
        ring->sum2 -= ring->values[kHalfRing + ring->pos];
    } else {
        ring->count += 1;
    }
    ring->values[ring->pos] = first;
    ring->values[kHalfRing + ring->pos] = second;
    ring->sum1 += first;
    ring->sum2 += second;
    ring->pos = (ring->pos + 1) % len;
    if (ring->pos == 0 && ring->count == len) {
        // Once per turn the sums are summed afresh, so rounding cannot drift over millions of points.
        ring->sum1 = ring->sum2 = 0;
        for (int i = 0; i < len; ++i) {
            ring->sum1 += ring->values[i];
            ring->sum2 += ring->values[kHalfRing + i];
        }
    }
}

double Smooth_Mean1(const _SSmoothData* ring)
{
    return ring->count > 0 ? ring->sum1 / ring->count : 0;
}

double Smooth_Mean2(const _SSmoothData* ring)
{
    return ring->count > 0 ? ring->sum2 / ring->count : 0;
}
