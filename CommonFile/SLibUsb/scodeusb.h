#pragma once
// The device codec: builds every request frame, reads one frame per poll from the active link
// (USB through LibUsbIO, or the serial bridge through m_Serial), decodes it, keeps the device's
// identity and downloads the device's stored history.
//
// Message layout (20 bytes): 0 transport byte (0x02 on USB writes), 1 head 0xAA, 2 command/type,
// 3..17 data (little-endian words), 18 checksum = sum of 3..17 mod 256, 19 tail 0xAB.
#include "gserialport.h"
#include "libusbio.h"

#include <QByteArray>
#include <QVector>
#include <cstdint>
#include <functional>

// One decoded measurement (all values as sent: PM in tenths of ug/m3, gas in thousandths of mg/m3).
struct TAG_T_SPM25Data {
    uint16_t usDelta = 0;
    uint16_t usBase = 0;
    uint16_t usValue1 = 0;
    uint16_t usValue2 = 0;
    uint16_t usAux = 0;
};

// Result codes of the poll and of the decoder.
enum {
    kResultNothing = 0,
    kResultPrimary1 = 1,
    kResultPrimary3 = 3,
    kResultFormaldehyde = 17,
    kResultTvoc = 33,
    kResultIdentity = 166,
    kResultParameter = 169,
    kResultOldHistory = 172,
    kResultHistory = 173,
    kResultSerialNumber = 181,
    kResultCleared = 253,
};

enum {
    kHistoryValues = 4032, // values per history array
    kHistoryGroups = 342,  // groups of three packets that packet numbers 0..1023 can name
};

// Two lowercase hex digits per byte, no separators (0x01 0xAB -> "01ab").
QByteArray BytesToHex(const unsigned char* bytes, int n);

// A history date word (year-2015 and month, day, hour, minute) read as local time, in seconds
// since 1970-01-01 UTC.
uint32_t HisTimeToTime_t(uint32_t dateWord);

class SCodeUsb : public LibUsbIO {
public:
    SCodeUsb();
    ~SCodeUsb();

    // The poll: reads one message from the active link and decodes it.
    unsigned char ReadPM25Data(int index, TAG_T_SPM25Data* out);
    unsigned char DecodePM25ReadData(int index, unsigned char* message, int length, TAG_T_SPM25Data* out);

    bool AskDeviceInfo();
    bool AskDeviceInfoUsb(int index);
    bool AskHistoryDataUsb(int index, int packet, int kind);
    // The 20-byte USB requests (byte 0 = 0x02). The history request is 0xAC for the old format,
    // else 0xAD; packet and kind are cut to their low 8 bits.
    static void BuildIdentityRequestUsb(unsigned char* message);
    static void BuildHistoryRequestUsb(unsigned char* message, int typeCode, int packet, int kind);

    // Copies of the entry's texts; an index outside the device list gives an empty text.
    QByteArray GetDeviceName(int index) const;
    QByteArray GetDeviceSN(int index) const;

    // Catalogue look-ups on m_TypeCode.
    QByteArray GetModelName() const;
    int GetChannelCount() const;
    int GetHistoryInterval() const;
    static QByteArray ModelNameOf(int typeCode);
    static int ChannelCountOf(int typeCode);
    static int HistoryIntervalOf(int typeCode);
    static bool UsesOldHistoryFormat(int typeCode);
    // The models whose readings carry PM10 next to PM2.5 (and whose history has a PM10 series).
    static bool ReportsPM10Of(int typeCode);

    int HasUsbDevice() const;
    bool IsSerialActive() const { return m_Serial.m_LinkFlag == 1; }

    // History download. False when the device did not answer; a device that answers with an
    // empty memory gives true with m_RealPM25Count 0.
    bool ReadHistoryData(int index, int kind, int gasIsTvoc);
    bool ReadHistoryDataNew(int index, int kind, int gasIsTvoc);
    bool ReadHistoryDataOld(int index, int kind);
    // One packet-index request and its wait; true when the answer to that packet ended the wait.
    bool AskOneHisData(int index, int packet, int gasIsTvoc, int kind);
    // Ends a running download at its next wait (the window calls it from the event loop that a
    // serial download lets run). A cancelled download, and every one after it until the caller
    // clears m_HistoryCancelled, reports failure.
    void CancelHistoryDownload() { m_HistoryCancelled = true; }
    // Asked at every wait of a download: true ends it there, and unlike a cancel, what arrived
    // so far stays in the arrays (a program that must stop in time keeps it).
    std::function<bool()> m_StopRequested;

    static void SetCheckSum(unsigned char* message);

    GSerialPort m_Serial;
    uint16_t m_ParamTable[5][2] = {};
    uint16_t mp_HistoryData[kHistoryValues] = {};
    uint16_t mp_PM10HistoryData[kHistoryValues] = {};
    uint16_t PM25_hist[12] = {};
    uint16_t PM10_hist[12] = {};
    uint16_t m_5MinutesCount = 0;
    uint16_t m_RealPM25Count = 0;
    uint16_t m_RealPM10Count = 0;
    QVector<uint32_t> mTimeSecList;
    uint32_t m_GroupTime = 0;
    int m_ReadLen = 0;
    int m_TypeCode = -1;
    int m_IdMode = 2;
    unsigned char m_Message[100] = {};
    int m_HisPacketCount = 0;     // 0xAD answers decoded since the current download began
    bool m_PM10Downloaded = false; // the last download fetched the PM10 history (kind 5)
    bool m_HistoryCancelled = false;

private:
    unsigned char DecodeMeasurement(int index, const unsigned char* msg, TAG_T_SPM25Data* out);
    unsigned char DecodeIdentity(int index, const unsigned char* msg);
    unsigned char DecodeSerialNumber(int index, const unsigned char* msg);
    unsigned char DecodeHistoryPacket(const unsigned char* msg);
    unsigned char DecodeOldHistoryPacket(const unsigned char* msg);
    void ClosePrimaryGroup(int group);
    void CloseSecondaryGroup(int group);
    void PairPM10WithPrimary();
    void BeginHistoryDownload(int kind);
    bool WaitForOldPacket(int index, int packet, int kind, int attempts, int sleepMs);
    // The device has left: off the USB bus, or its serial bridge hung up.
    bool LinkGone(int index) const;
    // The download cannot go on: the device has left or the download was cancelled.
    bool HistoryStopped(int index) const;

    // Where the values came from, so that the PM10 history is paired with the primary history by
    // group and slot (that is, by time) even when a group of one of them was lost on the way:
    // group x 12 + slot of each value in mp_HistoryData, and the first index and the length of
    // each group's values in mp_PM10HistoryData (start -1: the group did not arrive).
    uint16_t m_HistorySlots[kHistoryValues] = {};
    int16_t m_PM10GroupStart[kHistoryGroups] = {};
    uint8_t m_PM10GroupLength[kHistoryGroups] = {};
    bool m_PairWithPM10 = false; // the running primary download follows a PM10 download
    // The packet number a history request waits for, -1 while none waits (an ordinary poll
    // decodes every 0xAD answer as it comes).
    int m_AwaitedPacket = -1;
};
