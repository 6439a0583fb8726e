#include "grecorddatapro.h"

#include "platformtime.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kTypeOwnTimeStamps = 130; // devices whose history carries its own time stamps

// Halfway between a stored value (shown units) and a new raw value, as a raw value.
uint16_t Midpoint(double storedValue, double scale, uint16_t raw)
{
    const double stored = std::clamp(std::round(storedValue * scale), 0.0, 65535.0);
    return static_cast<uint16_t>((stored + raw) * 0.5);
}
} // namespace

GRecordChannel::GRecordChannel() = default;

GRecordChannel::~GRecordChannel()
{
    Release();
}

void GRecordChannel::Create()
{
    Release();
    m_pFileData = new GRecordDataPro;
    m_pHisData = new GRecordDataPro;
    m_pRealTime = new GRecordDataPro;
}

void GRecordChannel::Release()
{
    delete m_pFileData;
    delete m_pHisData;
    delete m_pRealTime;
    m_pFileData = m_pHisData = m_pRealTime = m_pCurrent = nullptr;
}

void GRecordChannel::SetSource(int source, int live)
{
    m_Source = static_cast<unsigned char>(source);
    m_Live = static_cast<unsigned char>(live);
    switch (source) {
    case 0: m_pCurrent = m_pRealTime; break;
    case 1: m_pCurrent = m_pFileData; break;
    case 2: m_pCurrent = m_pHisData; break;
    default: break;
    }
}

GRecordDataPro* GRecordChannel::GetData(int source, int which) const
{
    switch (source) {
    case 1: return m_pFileData;
    case 2: return m_pHisData;
    case 0: return which == -1 ? m_pCurrent : m_pRealTime;
    default: return m_pCurrent;
    }
}

void GRecordChannel::StartRealTime()
{
    if (!m_pRealTime)
        return;
    m_pRealTime->StartNow();
    m_Live = 1;
    m_Source = 0;
    m_pCurrent = m_pRealTime;
}

void GRecordChannel::AddReading(const TAG_T_SPM25Data& reading, int gas)
{
    if (!m_pRealTime)
        return;
    GRecordDataPro& live = *m_pRealTime;
    if (!live.m_StartTime.isValid())
        live.StartNow(); // a live store that was never started begins with its first reading
    const _SRealData* series = live.m_pRealData;
    const int64_t now = Platform_NowMs() / 1000;
    const int64_t start = live.m_StartTime.toMSecsSinceEpoch() / 1000;
    const double scale = live.SetValueScale(gas);

    // The newest sample is the last stored one, or a newer one that a full series refused: live
    // samples are one second apart, so its time is its number and the clock and the gap filling
    // keep going after 14 days (the container still takes every sample).
    if (series->m_OfferedCount > 0) {
        const int64_t elapsed = now - start - (series->m_OfferedCount - 1);
        if (elapsed < 0)
            return; // the series is ahead of the clock: readings faster than one per second
        // Bridge a gap with up to two midpoints; a longer gap closes over the next readings.
        TAG_T_SPM25Data mid;
        if (elapsed > 1) {
            mid.usValue1 = Midpoint(series->m_LastValue1, scale, reading.usValue1);
            mid.usValue2 = Midpoint(series->m_LastValue2, scale, reading.usValue2);
            live.AddRealData(mid, scale);
        }
        if (elapsed > 3) {
            mid.usValue1 = static_cast<uint16_t>((mid.usValue1 + reading.usValue1) * 0.5);
            mid.usValue2 = static_cast<uint16_t>((mid.usValue2 + reading.usValue2) * 0.5);
            live.AddRealData(mid, scale);
        }
    }
    live.AddRealData(reading, scale);
}

uint16_t GRecordChannel::LoadHistory(SCodeUsb& codec, int channel, QDateTime referenceTime, int interval,
                                     int tvocFlag, int valueMode)
{
    if (!m_pHisData || interval < 1)
        return 0;
    if (valueMode == 2 && !codec.ReadHistoryData(0, 5, tvocFlag))
        return 0;
    if (!codec.ReadHistoryData(0, channel + 1, tvocFlag))
        return 0;
    return StoreHistory(codec, channel, referenceTime, interval);
}

uint16_t GRecordChannel::StoreHistory(const SCodeUsb& codec, int channel, const QDateTime& referenceTime, int interval)
{
    if (!m_pHisData || interval < 1)
        return 0;
    const int n = std::min<int>(codec.m_RealPM25Count, kHistoryValues);
    _STracFile* trac = m_pHisData->m_pTrac;
    if (!Trac_Alloc(trac, n))
        return 0;
    m_Live = 0;
    m_Source = 2;
    m_pCurrent = m_pHisData;
    for (int i = 0; i < n; ++i)
        Trac_Add(trac, 0, 0, codec.mp_HistoryData[i], codec.mp_PM10HistoryData[i], -1);

    // Devices with their own time stamps get a series that starts at 1970; the text export and
    // the axis labels use the stamps.
    const QDateTime reference = referenceTime.isValid() ? referenceTime : Platform_CurrentDateTime();
    const QDateTime endTime = m_TypeCode == kTypeOwnTimeStamps
                                  ? QDateTime::fromSecsSinceEpoch(qint64(interval) * n)
                                  : reference;
    m_pHisData->HistoryToRealData(endTime, channel, interval, n >= 288 ? n : 300);
    m_HisTimes = codec.mTimeSecList;
    return static_cast<uint16_t>(n);
}
