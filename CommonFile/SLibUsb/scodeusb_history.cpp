// The device's stored 5-minute history: the download, packet by packet, and the decoding of the
// two packet formats into mp_HistoryData / mp_PM10HistoryData with one time stamp per value.
//
// Packet-index format (0xAD): packets come in groups of three that fill twelve slots; the first
// packet of a group carries the group's date word, the third closes the group. Old format (0xAC):
// six values per packet, stored by packet position, no time stamps.
#include "scodeusb.h"

#include "deviceframe.h"
#include "platformtime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLoggingCategory>
#include <algorithm>
#include <cstring>
#include <ctime>

namespace {
Q_LOGGING_CATEGORY(lcHistory, "vostral.history", QtInfoMsg)

constexpr int kKindPM10 = 5;
constexpr unsigned char kEchoPrimary = 1;
constexpr unsigned char kEchoPM10 = 5;
constexpr unsigned char kEchoCleared = 0xFD;
constexpr unsigned char kEchoCount = 0xFE;

constexpr int kGroupSlots = 12;
constexpr int kPacketsPerGroup = 3;
constexpr uint32_t kValueSpacingSec = 300;
constexpr int kMaxAnnounced = kHistoryValues - 1;
constexpr int kLargestRoundedCount = 65532; // largest multiple of 12 that fits 16 bits

constexpr int kAttempts = 50;
constexpr int kAttemptMs = 30;
// A device that let this many packets in a row go unanswered has stopped answering (about 8 s
// of silence, 10 s over USB). Waiting out every packet left would hold the window for up to half
// an hour; a single lost answer still costs only its own packet.
constexpr int kSilentPacketsToEnd = 5;

constexpr int kOldValuesPerPacket = 6;
constexpr int kOldMaxPackets = 48;
constexpr int kOldAttempts = 50;
constexpr int kOldAttemptMs = 20;
constexpr int kOldRestAttempts = 20;
constexpr int kOldRestAttemptMs = 10;

// Copies the values of packet r (0, 1 or 2) of a group into the twelve slots.
void FillGroup(uint16_t* group, const unsigned char* msg, int r)
{
    struct Layout {
        int firstPos, firstSlot, count;
    };
    static const Layout layouts[kPacketsPerGroup] = {{9, 0, 3}, {5, 3, 5}, {5, 8, 4}};
    const Layout& l = layouts[r];
    for (int k = 0; k < l.count; ++k)
        group[l.firstSlot + k] = Frame_Word(msg, l.firstPos + 2 * k);
}

// Highest slot holding a value (0 and 0xFFFF mark empty slots), or -1.
int LastFilledSlot(const uint16_t* group)
{
    int k = kGroupSlots - 1;
    while (k >= 0 && (group[k] == 0 || group[k] == 0xFFFF))
        --k;
    return k;
}
} // namespace

uint32_t HisTimeToTime_t(uint32_t dateWord)
{
    std::tm t{};
    t.tm_year = 2015 + int((dateWord >> 4) & 0x0F) - 1900;
    t.tm_mon = int(dateWord & 0x0F) - 1;
    t.tm_mday = int((dateWord >> 8) & 0xFF);
    t.tm_hour = int((dateWord >> 16) & 0xFF);
    t.tm_min = int((dateWord >> 24) & 0xFF);
    t.tm_sec = 0;
    t.tm_isdst = -1; // the device's clock follows local time, summer time included
    // Out-of-range fields are normalised by the local-time conversion like any other date.
    const std::time_t seconds = std::mktime(&t);
    return seconds == std::time_t(-1) ? 0 : uint32_t(seconds);
}

// ---- decoding ---------------------------------------------------------------------------------

unsigned char SCodeUsb::DecodeHistoryPacket(const unsigned char* msg)
{
    const int packet = (msg[17] & 0x03) * 256 + msg[3];
    // While a request waits, only the packet it asked for is stored: a late answer, a repeated
    // one, or one a device picked by the request's low byte alone (a USB request carries no
    // more) would fill a group out of turn and repeat values and time stamps. The clear
    // confirmation and the count answer carry no packet number.
    const bool numbered = msg[4] != kEchoCleared && msg[4] != kEchoCount;
    if (numbered && m_AwaitedPacket >= 0 && packet != m_AwaitedPacket) {
        qCDebug(lcHistory, "history: packet %d answered while %d was asked for", packet, m_AwaitedPacket);
        return kResultNothing;
    }
    if (packet == 0) {
        // The device announces its count; whole groups of twelve are downloaded.
        const int announced = Frame_Word(msg, 15);
        const int rounded = (announced + kGroupSlots - 1) / kGroupSlots * kGroupSlots;
        m_5MinutesCount = uint16_t(std::min(rounded, kLargestRoundedCount));
    }
    const int r = packet % kPacketsPerGroup;
    const int group = packet / kPacketsPerGroup;
    switch (msg[4]) {
    case kEchoPrimary:
        if (r == 0)
            m_GroupTime = Frame_DWord(msg, 5);
        FillGroup(PM25_hist, msg, r);
        if (r == 2)
            ClosePrimaryGroup(group);
        break;
    case kEchoPM10:
        FillGroup(PM10_hist, msg, r);
        if (r == 2)
            CloseSecondaryGroup(group);
        break;
    case kEchoCleared:
        return kResultCleared;
    case kEchoCount:
        m_5MinutesCount = uint16_t(4 * msg[3]);
        break;
    default:
        break; // kinds 2 and 3 are acknowledged without values
    }
    ++m_HisPacketCount;
    qCDebug(lcHistory) << "+++++++++++++";
    return kResultHistory;
}

void SCodeUsb::ClosePrimaryGroup(int group)
{
    for (int k = kGroupSlots - 1; k >= 0; --k)
        qCDebug(lcHistory, "DecodePM25ReadData:PM25_hist[%d]=%d\n", k, PM25_hist[k]);
    const int last = LastFilledSlot(PM25_hist);
    if (last < 0)
        return;
    // The values are 300 s apart; the last one is stamped one interval after the date word.
    const uint32_t groupTime = HisTimeToTime_t(m_GroupTime);
    for (int j = 0; j <= last; ++j) {
        if (m_RealPM25Count >= kHistoryValues)
            break;
        const uint32_t stamp = groupTime - uint32_t(last) * kValueSpacingSec + uint32_t(j + 1) * kValueSpacingSec;
        mp_HistoryData[m_RealPM25Count] = PM25_hist[j];
        m_HistorySlots[m_RealPM25Count] = uint16_t(group * kGroupSlots + j);
        qCDebug(lcHistory, "DecodePM25ReadData:mp_HistoryData[%d]=%d\n", m_RealPM25Count, PM25_hist[j]);
        ++m_RealPM25Count;
        mTimeSecList.append(stamp);
        qCDebug(lcHistory, "mTimeSec=%s\n",
                qPrintable(QDateTime::fromSecsSinceEpoch(stamp).toString("yy-MM-dd hh:mm:ss")));
    }
}

void SCodeUsb::CloseSecondaryGroup(int group)
{
    const int last = LastFilledSlot(PM10_hist);
    if (last >= 0 && m_RealPM10Count < kHistoryValues) {
        m_PM10GroupStart[group] = int16_t(m_RealPM10Count);
        m_PM10GroupLength[group] = uint8_t(std::min(last + 1, kHistoryValues - int(m_RealPM10Count)));
    }
    for (int j = 0; j <= last && m_RealPM10Count < kHistoryValues; ++j)
        mp_PM10HistoryData[m_RealPM10Count++] = PM10_hist[j];
}

// After a lost group the two histories no longer line up value for value: each primary value
// takes the PM10 value of its own group and slot, and none (0) when that PM10 group was lost.
void SCodeUsb::PairPM10WithPrimary()
{
    uint16_t paired[kHistoryValues] = {};
    for (int i = 0; i < m_RealPM25Count; ++i) {
        const int group = m_HistorySlots[i] / kGroupSlots;
        const int slot = m_HistorySlots[i] % kGroupSlots;
        if (group < kHistoryGroups && m_PM10GroupStart[group] >= 0 && slot < m_PM10GroupLength[group])
            paired[i] = mp_PM10HistoryData[m_PM10GroupStart[group] + slot];
    }
    memcpy(mp_PM10HistoryData, paired, sizeof paired);
    m_RealPM10Count = m_RealPM25Count;
}

unsigned char SCodeUsb::DecodeOldHistoryPacket(const unsigned char* msg)
{
    const int packet = msg[3];
    if (packet == 0)
        m_5MinutesCount = Frame_Word(msg, 16);
    for (int k = 0; k < kOldValuesPerPacket; ++k) {
        const int at = kOldValuesPerPacket * packet + k;
        if (at < kHistoryValues)
            mp_HistoryData[at] = Frame_Word(msg, 4 + 2 * k);
    }
    return kResultOldHistory;
}

// ---- download ---------------------------------------------------------------------------------

bool SCodeUsb::ReadHistoryData(int index, int kind, int gasIsTvoc)
{
    if (m_HistoryCancelled)
        return false;
    const bool ok = UsesOldHistoryFormat(m_TypeCode) ? ReadHistoryDataOld(index, kind)
                                                     : ReadHistoryDataNew(index, kind, gasIsTvoc);
    // A cancelled download hands over nothing: what arrived before is not a history.
    return ok && !m_HistoryCancelled;
}

// A download's arrays hold only what that download received. The one exception: the PM10
// history (kind 5) is fetched just before the primary history and paired with it by position,
// so the primary download that follows it keeps the PM10 values.
void SCodeUsb::BeginHistoryDownload(int kind)
{
    const bool keepPM10 = kind != kKindPM10 && m_PM10Downloaded;
    m_PM10Downloaded = false;

    memset(mp_HistoryData, 0, sizeof mp_HistoryData);
    memset(PM25_hist, 0, sizeof PM25_hist);
    m_RealPM25Count = 0;
    mTimeSecList.clear();
    m_GroupTime = 0;
    if (!keepPM10) {
        memset(mp_PM10HistoryData, 0, sizeof mp_PM10HistoryData);
        memset(PM10_hist, 0, sizeof PM10_hist);
        m_RealPM10Count = 0;
        std::fill(std::begin(m_PM10GroupStart), std::end(m_PM10GroupStart), int16_t(-1));
        memset(m_PM10GroupLength, 0, sizeof m_PM10GroupLength);
    }
    m_PairWithPM10 = keepPM10;
    m_5MinutesCount = 0;
    m_HisPacketCount = 0;
}

bool SCodeUsb::ReadHistoryDataNew(int index, int kind, int gasIsTvoc)
{
    BeginHistoryDownload(kind);
    AskOneHisData(index, 0, gasIsTvoc, kind);
    // Counted in the decoder: on the serial link a poll run from the event loop may be the one
    // that takes the answer.
    if (m_HisPacketCount == 0) {
        qCDebug(lcHistory) << "history: the device did not answer";
        return false;
    }
    if (m_5MinutesCount >= kHistoryValues)
        m_5MinutesCount = kMaxAnnounced;
    const int packets = m_5MinutesCount / kGroupSlots * kPacketsPerGroup;
    qCDebug(lcHistory, "m_5MinutesCount=%d,mDataHalfHourCountFlash=%d,m_RealPM25Count=%d",
            m_5MinutesCount, packets, m_RealPM25Count);
    int unanswered = 0;
    for (int i = 1; i < packets; ++i) {
        // A device pulled off the bus, a bridge that hung up or a device that fell silent answers
        // no more: the download ends with what it has, instead of waiting out every remaining
        // packet. A cancelled one ends too.
        if (HistoryStopped(index) || unanswered >= kSilentPacketsToEnd) {
            qCDebug(lcHistory) << "history: stopped after" << i << "packets";
            break;
        }
        qCDebug(lcHistory, "m_5MinutesCount=%d,i=%d,mDataHalfHourCountFlash=%d", m_5MinutesCount, i,
                packets);
        // Any 0xAD answer decoded meanwhile counts, whoever read it.
        const int answersBefore = m_HisPacketCount;
        AskOneHisData(index, i, gasIsTvoc, kind);
        unanswered = m_HisPacketCount != answersBefore ? 0 : unanswered + 1;
    }
    if (m_PairWithPM10)
        PairPM10WithPrimary();
    m_PM10Downloaded = kind == kKindPM10;
    return true;
}

bool SCodeUsb::LinkGone(int index) const
{
    return IsSerialActive() ? m_Serial.IsHungUp() : IsDeviceGone(index);
}

bool SCodeUsb::HistoryStopped(int index) const
{
    return m_HistoryCancelled || (m_StopRequested && m_StopRequested()) || LinkGone(index);
}

bool SCodeUsb::AskOneHisData(int index, int packet, int gasIsTvoc, int kind)
{
    const bool serial = IsSerialActive();
    if (serial)
        m_Serial.AskHistoryData(packet, kind, gasIsTvoc);
    else
        AskHistoryDataUsb(index, packet, kind);

    // An answer with another packet number is not this one: it counts as an attempt that
    // brought nothing, and the wait goes on.
    m_AwaitedPacket = packet;
    bool answered = false;
    TAG_T_SPM25Data discarded;
    for (int attempt = 0; attempt < kAttempts && !answered; ++attempt) {
        Platform_SleepMs(kAttemptMs);
        // Lets the serial port take in what arrived, and keeps the window alive meanwhile.
        if (serial && QCoreApplication::instance())
            QCoreApplication::processEvents();
        const unsigned char result = ReadPM25Data(index, &discarded);
        qCDebug(lcHistory, "mResult=%d", result);
        answered = result == kResultHistory;
        if (!answered && HistoryStopped(index))
            break;
    }
    m_AwaitedPacket = -1;
    return answered;
}

bool SCodeUsb::WaitForOldPacket(int index, int packet, int kind, int attempts, int sleepMs)
{
    AskHistoryDataUsb(index, packet, kind);
    TAG_T_SPM25Data discarded;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        Platform_SleepMs(sleepMs);
        if (ReadPM25Data(index, &discarded) == kResultOldHistory)
            return true;
        if (HistoryStopped(index))
            return false;
    }
    return false;
}

bool SCodeUsb::ReadHistoryDataOld(int index, int kind)
{
    BeginHistoryDownload(kind);
    if (!WaitForOldPacket(index, 0, kind, kOldAttempts, kOldAttemptMs))
        return false;
    const int packets = std::min(m_5MinutesCount / kGroupSlots * 2, kOldMaxPackets);
    for (int p = 1; p < packets; ++p) {
        if (!WaitForOldPacket(index, p, kind, kOldAttempts, kOldAttemptMs))
            return false;
    }
    // The remainder below twelve values comes in one or two more packets.
    const int rest = m_5MinutesCount % kGroupSlots;
    const int extra = (rest + kOldValuesPerPacket - 1) / kOldValuesPerPacket;
    for (int j = 0; j < extra; ++j) {
        if (!WaitForOldPacket(index, packets + j, kind, kOldRestAttempts, kOldRestAttemptMs))
            return false;
    }
    // This format has no count of its own; the consumer reads m_RealPM25Count.
    m_RealPM25Count = uint16_t(std::min(rest + kOldValuesPerPacket * packets, int(kHistoryValues)));
    return true;
}
