#include "grecorddatapro.h"

#include "platformtime.h"

#include <QFile>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcRecords, "vostral.records", QtInfoMsg)

GRecordChannel* g_RecordData = nullptr;

GRecordDataPro::GRecordDataPro() : m_pRealData(RealData_Create()), m_pTrac(Trac_Create())
{
    Q_CHECK_PTR(m_pRealData);
    Q_CHECK_PTR(m_pTrac);
}

GRecordDataPro::~GRecordDataPro()
{
    RealData_Free(m_pRealData);
    Trac_Destroy(m_pTrac);
}

void GRecordDataPro::AddRealData(const TAG_T_SPM25Data& reading, double scale)
{
    // A full series refuses the sample; the container still takes it (it compacts instead).
    RealData_Add(m_pRealData, reading.usValue1 / scale, reading.usValue2 / scale, 1, m_pRealData->org_pts);
    Trac_Add(m_pTrac, reading.usDelta, reading.usBase, reading.usValue1, reading.usValue2, -1);
}

double GRecordDataPro::SetValueScale(int gas)
{
    return m_ValueScale = gas ? 1000 : 10;
}

void GRecordDataPro::UpdateStartFields()
{
    // Time-axis alignment is counted in UTC.
    const QTime t = m_StartTime.isValid() ? m_StartTime.toUTC().time() : QTime(0, 0);
    RealData_SetStart(m_pRealData, uint32_t(t.hour()), uint32_t(t.minute()), uint32_t(t.second()));
}

void GRecordDataPro::StartNow()
{
    m_StartTime = Platform_CurrentDateTime();
    UpdateStartFields();
}

bool GRecordDataPro::HistoryToRealData(const QDateTime& endTime, int gas, int secPerSample, int showPoints)
{
    if (secPerSample < 1)
        return false;
    const int n = m_pTrac->records ? m_pTrac->count : 0;
    m_StartTime = endTime.addSecs(-qint64(secPerSample) * m_pTrac->count);
    UpdateStartFields();
    RealData_Clear(m_pRealData);
    m_pRealData->m_DataSecUnit = secPerSample;
    const double scale = SetValueScale(gas);
    for (int i = 0; i < n; ++i) {
        const _STracRecord& r = m_pTrac->records[i];
        RealData_Add(m_pRealData, r.value1 / scale, r.value2 / scale, secPerSample, m_pRealData->org_pts);
    }
    RealData_SetShow(m_pRealData, secPerSample, showPoints);
    m_pRealData->m_ShowChanged = 1;
    RealData_Rebuild(m_pRealData);
    qCDebug(lcRecords, "GRecordDataPro::m_DataSecUnit=%d", m_pRealData->m_DataSecUnit);
    return true;
}

bool GRecordDataPro::RecordDataToRealData2(int gas)
{
    const int secPerRecord = m_pTrac->sec_per_record;
    if (secPerRecord < 1)
        return false;
    m_StartTime = QDateTime::fromSecsSinceEpoch(m_pTrac->start_time);
    UpdateStartFields();
    RealData_Clear(m_pRealData);
    m_pRealData->m_DataSecUnit = secPerRecord;
    m_pRealData->m_ShowChanged = 1;
    // Particulate values enter the series as whole ug/m3 (tenths dropped). Gas values keep their
    // thousandths: a formaldehyde or TVOC reading lies mostly below 1 mg/m3, and a whole number
    // would show every such record of a file as 0.
    const int n = m_pTrac->records ? std::min(m_pTrac->count, m_pTrac->records_capacity) : 0;
    for (int i = 0; i < n; ++i) {
        const _STracRecord& r = m_pTrac->records[i];
        const double v1 = gas ? r.value1 / 1000.0 : double(r.value1 / 10);
        const double v2 = gas ? r.value2 / 1000.0 : double(r.value2 / 10);
        RealData_Add(m_pRealData, v1, v2, secPerRecord, m_pRealData->org_pts);
    }
    qCDebug(lcRecords, "GRecordDataPro::m_DataSecUnit=%d", m_pRealData->m_DataSecUnit);
    return true;
}

bool GRecordDataPro::OpenBinFile(const QString& path, int gas)
{
    // Read beside the current container and take the file over only when it can be converted.
    _STracFile* scratch = Trac_Create();
    if (!scratch)
        return false;
    scratch->channel = m_pTrac->channel;
    const bool usable = Trac_Read(scratch, QFile::encodeName(path).constData()) >= 0 && scratch->sec_per_record >= 1;
    if (usable)
        Trac_Swap(m_pTrac, scratch);
    Trac_Destroy(scratch);
    return usable && RecordDataToRealData2(gas);
}

int GRecordDataPro::SaveBinFile(const QString& path, int channel)
{
    return Trac_Write(m_pTrac, QFile::encodeName(path).constData(), channel);
}
