#pragma once
// The sample series behind every plot: stored samples (two values and a time each, fixed
// capacity), the reduced set of shown points derived from them (min_show seconds per shown
// point, averaged and smoothed) and the visible window of show_pt_cnt shown points.
#include <cstdint>

enum {
    kRealDataCapacity = 1209600, // 14 days at one sample per second
    kSmoothSlots = 300,
};

// Moving-average ring: slots 0..149 hold the first value, 150..299 the second.
struct _SSmoothData {
    int32_t count;
    int32_t pos;
    double sum1;
    double sum2;
    double values[kSmoothSlots];
    int32_t len;
};

struct _SRealData {
    double* m_pShowValue1;
    double* m_pShowValue2;
    double* m_pShowSec;
    int32_t m_ShowCount;
    unsigned char m_ShowChanged;
    double m_ShowStartSec;
    double m_ShowEndSec;
    int32_t m_Capacity;
    int32_t m_DataCount;
    int32_t min_show;
    int32_t show_pt_cnt;
    int32_t m_DataSecUnit;
    double* m_pValue1;
    double* m_pValue2;
    double* m_pDataSec;
    double m_SumValue1;
    double m_SumValue2;
    int32_t m_SumTarget;
    int32_t m_SumCount;
    _SSmoothData m_Smooth;
    int32_t m_SmoothLen;
    int32_t org_pts;
    uint32_t m_StartHour;
    uint32_t m_StartMinute;
    uint32_t m_StartSecond;
    // The newest pair offered to RealData_Add, also when a full series refused it, so that the
    // value display keeps following the device after 14 days (see RealData_LastValues).
    double m_LastValue1;
    double m_LastValue2;
    // Samples offered to RealData_Add since the last clear, stored or refused: a full live
    // series keeps its clock (one sample per second) through this count.
    int64_t m_OfferedCount;
};

_SRealData* RealData_Create();
void RealData_Free(_SRealData* series);
void RealData_Clear(_SRealData* series);
int RealData_Add(_SRealData* series, double value1, double value2, int secPerSample, int orgPts);
void RealData_SetShow(_SRealData* series, int minShow, int showPoints);
// Rebuilds the shown points from the stored samples; returns m_ShowCount, which is the number
// of points written (never more than show_pt_cnt).
int RealData_Rebuild(_SRealData* series);
void RealData_ZoomIn(_SRealData* series);
void RealData_ZoomOut(_SRealData* series);
void RealData_FitAll(_SRealData* series);
int RealData_FitAllFactor(const _SRealData* series);
void RealData_SetStart(_SRealData* series, uint32_t hour, uint32_t minute, uint32_t second);
// Ten times the newest pair of values: the last stored sample, or a newer pair that a full
// series refused.
void RealData_LastValues(const _SRealData* series, double* out1, double* out2);
int GetAxisStepSec(const _SRealData* series);

void Smooth_Init(_SSmoothData* ring, int len);
void Smooth_Add(_SSmoothData* ring, double first, double second);
double Smooth_Mean1(const _SSmoothData* ring);
double Smooth_Mean2(const _SSmoothData* ring);
