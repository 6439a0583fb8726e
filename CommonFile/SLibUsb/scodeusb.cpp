#include "scodeusb.h"

// Placeholder: the codec lands with the USB link work.
QByteArray BytesToHex(const unsigned char* bytes, int n) { return QByteArray(reinterpret_cast<const char*>(bytes), n).toHex(); }
uint32_t HisTimeToTime_t(uint32_t) { return 0; }
SCodeUsb::SCodeUsb() {}
SCodeUsb::~SCodeUsb() {}
unsigned char SCodeUsb::ReadPM25Data(int, TAG_T_SPM25Data*) { return 0; }
unsigned char SCodeUsb::DecodePM25ReadData(int, unsigned char*, int, TAG_T_SPM25Data*) { return 0; }
bool SCodeUsb::AskDeviceInfo() { return true; }
bool SCodeUsb::AskDeviceInfoUsb(int) { return false; }
bool SCodeUsb::AskHistoryDataUsb(int, int, int) { return false; }
QByteArray SCodeUsb::GetDeviceName(int) const { return {}; }
QByteArray SCodeUsb::GetDeviceSN(int) const { return {}; }
QByteArray SCodeUsb::GetModelName() const { return ModelNameOf(m_TypeCode); }
int SCodeUsb::GetChannelCount() const { return ChannelCountOf(m_TypeCode); }
int SCodeUsb::GetHistoryInterval() const { return HistoryIntervalOf(m_TypeCode); }
QByteArray SCodeUsb::ModelNameOf(int) { return "error"; }
int SCodeUsb::ChannelCountOf(int) { return 2; }
int SCodeUsb::HistoryIntervalOf(int) { return 300; }
bool SCodeUsb::UsesOldHistoryFormat(int) { return false; }
int SCodeUsb::HasUsbDevice() const { return 0; }
bool SCodeUsb::ReadHistoryData(int, int, int) { return false; }
bool SCodeUsb::ReadHistoryDataNew(int, int, int) { return true; }
bool SCodeUsb::ReadHistoryDataOld(int, int) { return false; }
void SCodeUsb::AskOneHisData(int, int, int, int) {}
void SCodeUsb::SetCheckSum(unsigned char*) {}
