#include "grecorddatapro.h"

// Placeholder: the stores land with the data-core work.
GRecordChannel* g_RecordData = nullptr;

GRecordDataPro::GRecordDataPro() : m_pRealData(RealData_Create()), m_pTrac(Trac_Create()) {}
GRecordDataPro::~GRecordDataPro() { RealData_Free(m_pRealData); Trac_Destroy(m_pTrac); }
void GRecordDataPro::AddRealData(const TAG_T_SPM25Data&, double) {}
double GRecordDataPro::SetValueScale(int gas) { return m_ValueScale = gas ? 1000 : 10; }
void GRecordDataPro::UpdateStartFields() {}
void GRecordDataPro::StartNow() {}
bool GRecordDataPro::HistoryToRealData(const QDateTime&, int, int, int) { return false; }
bool GRecordDataPro::RecordDataToRealData2(int) { return false; }
bool GRecordDataPro::OpenBinFile(const QString&, int) { return false; }
int GRecordDataPro::SaveBinFile(const QString&, int) { return -1; }
bool GRecordDataPro::SaveTextFile(const SCodeUsb&, const QString&, int, int, int, const uint16_t*, const uint16_t*) { return false; }

GRecordChannel::GRecordChannel() {}
GRecordChannel::~GRecordChannel() { Release(); }
void GRecordChannel::Create() { Release(); m_pFileData = new GRecordDataPro; m_pHisData = new GRecordDataPro; m_pRealTime = new GRecordDataPro; }
void GRecordChannel::Release() { delete m_pFileData; delete m_pHisData; delete m_pRealTime; m_pFileData = m_pHisData = m_pRealTime = m_pCurrent = nullptr; }
void GRecordChannel::SetSource(int, int) {}
GRecordDataPro* GRecordChannel::GetData(int, int) const { return m_pCurrent; }
void GRecordChannel::StartRealTime() { m_Live = 1; m_Source = 0; m_pCurrent = m_pRealTime; }
void GRecordChannel::AddReading(const TAG_T_SPM25Data&, int) {}
uint16_t GRecordChannel::LoadHistory(SCodeUsb&, int, QDateTime, int, int, int) { return 0; }
