#include "realdata.h"

#include <cstdlib>

// Placeholder: the series lands with the data-core work.
_SRealData* RealData_Create() { return static_cast<_SRealData*>(calloc(1, sizeof(_SRealData))); }
void RealData_Free(_SRealData* series) { free(series); }
void RealData_Clear(_SRealData*) {}
int RealData_Add(_SRealData*, double, double, int, int) { return -1; }
void RealData_SetShow(_SRealData*, int, int) {}
int RealData_Rebuild(_SRealData*) { return 0; }
void RealData_ZoomIn(_SRealData*) {}
void RealData_ZoomOut(_SRealData*) {}
void RealData_FitAll(_SRealData*) {}
int RealData_FitAllFactor(const _SRealData*) { return 1; }
void RealData_SetStart(_SRealData*, uint32_t, uint32_t, uint32_t) {}
void RealData_LastValues(const _SRealData*, double* a, double* b) { *a = *b = -1; }
int GetAxisStepSec(const _SRealData*) { return 60; }
void Smooth_Init(_SSmoothData*, int) {}
void Smooth_Add(_SSmoothData*, double, double) {}
double Smooth_Mean1(const _SSmoothData*) { return 0; }
double Smooth_Mean2(const _SSmoothData*) { return 0; }
