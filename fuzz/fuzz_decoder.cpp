// Fuzz target: the device codec's decoder, fed a sequence of messages on one codec object, so
// that history groups, counts, the time-stamp list and the device entries carry over from one
// message to the next, as they do over a session with a real sensor.
//
// Input: one configuration byte, then 20-byte messages; a shorter rest is decoded as a short read.
//   bit 0     serial link active (device entries are created by 0xA6 and 0xB5 frames); otherwise
//             USB with one opened device entry
//   bits 1-2  device index handed to the decoder: 0, 0, 1 or -1
//   bit 3     serial link only: a history download runs, and each of its waits puts the next
//             message (positions 1..19, as on the wire) into the receive buffer
//   bits 4-5  history kind of that download: 1, 2, 5 or 1
//   bit 6     the download's gasIsTvoc
//   bit 7     the download starts with type code 0 (old format) instead of none
// Without a download, every reading goes to its channel's live store as the poll hands it on;
// position 0 of each message (the transport byte, which the decoder ignores) says how many
// tenths of a second passed before it arrived. Afterwards the history arrays go into a history
// store and out as a text export, as the window does with a finished download.
#include "fuzzhelpers.h"

#include "deviceframe.h"
#include "grecorddatapro.h"
#include "platformtime.h"
#include "scodeusb.h"

namespace {
constexpr int kMsg = kFrameMessageLength;

// The result codes the decoder may give for a message.
void CheckResult(const unsigned char* msg, int length, unsigned char result)
{
    if (result == kResultNothing)
        return;
    FUZZ_CHECK(length > kFramePosType && msg[kFramePosHead] == kFrameHead);
    switch (msg[kFramePosType]) {
    case 0xA5: FUZZ_CHECK(length > 3 && result == msg[3]); break;
    case 0xA6: FUZZ_CHECK(result == kResultIdentity); break;
    case 0xA9: FUZZ_CHECK(result == kResultParameter); break;
    case 0xAC: FUZZ_CHECK(result == kResultOldHistory); break;
    case 0xAD: FUZZ_CHECK(result == kResultHistory || result == kResultCleared); break;
    case 0xB5: FUZZ_CHECK(result == kResultSerialNumber); break;
    default: FUZZ_CHECK(!"a type the decoder does not know gave a result");
    }
}

void CheckState(const SCodeUsb& codec, bool serial, bool stampsPerValue)
{
    FUZZ_CHECK(codec.m_RealPM25Count <= kHistoryValues);
    FUZZ_CHECK(codec.m_RealPM10Count <= kHistoryValues);
    // Every primary value of the packet-index format has its time stamp. (An old-format download
    // sets the count by packet positions, whatever packet-index answers came in meanwhile.)
    if (stampsPerValue)
        FUZZ_CHECK(codec.mTimeSecList.size() == codec.m_RealPM25Count);
    FUZZ_CHECK(codec.mTimeSecList.size() <= kHistoryValues);
    FUZZ_CHECK(codec.m_TypeCode >= -1 && codec.m_TypeCode <= 255);
    FUZZ_CHECK(codec.m_IdMode == 2 || codec.m_IdMode == 4);
    // The serial link has at most the one entry its frames create; USB keeps its opened entry.
    FUZZ_CHECK(serial ? codec.m_Devices.size() <= 1 : codec.m_Devices.size() == 1);
    for (const TAG_T_SDeviceInfo& d : codec.m_Devices) {
        FUZZ_CHECK(d.m_SN.isEmpty() || d.m_SN.size() == 12 || d.m_SN.size() == 14);
        FUZZ_CHECK(d.m_Name.size() <= 9);
    }
    // The catalogue answers for any type code.
    FUZZ_CHECK(codec.GetChannelCount() == 1 || codec.GetChannelCount() == 2);
    FUZZ_CHECK(!codec.GetModelName().isEmpty());
    const int interval = codec.GetHistoryInterval();
    FUZZ_CHECK(interval == 297 || interval == 300 || interval == 311);
}

// What the window does with a finished download: the history store and its text export.
void StoreAndExport(SCodeUsb& codec, int channelIndex)
{
    if (codec.m_RealPM25Count == 0)
        return;
    GRecordChannel channel; // only the history store: the other two are not touched here
    channel.m_pHisData = new GRecordDataPro;
    channel.m_TypeCode = codec.m_TypeCode;
    const int interval = codec.GetHistoryInterval();
    const uint16_t n = channel.StoreHistory(codec, channelIndex, QDateTime::fromSecsSinceEpoch(1500000000), interval);
    FUZZ_CHECK(n == codec.m_RealPM25Count);
    FUZZ_CHECK(channel.m_pHisData->m_pRealData->m_DataCount == n);
    FUZZ_CHECK(channel.m_HisTimes.size() == codec.mTimeSecList.size());
    static MemFile text;
    FUZZ_CHECK(channel.m_pHisData->SaveTextFile(codec, QString::fromStdString(text.path()), 2, interval, 2,
                                                codec.mp_PM10HistoryData, codec.mp_HistoryData));
}

// The live stores of both channels, fed with the readings as the window's poll does, on a clock
// that the input steps.
class LiveChannels {
public:
    LiveChannels()
    {
        Platform_SetNow([this] { return m_NowMs; });
    }
    ~LiveChannels() { Platform_SetNow(nullptr); }

    void Advance(int tenths) { m_NowMs += 100 * int64_t(tenths); }

    void Add(const TAG_T_SPM25Data& reading, int channel)
    {
        GRecordChannel& c = m_Channels[channel];
        if (!c.m_pRealTime) {
            c.m_pRealTime = new GRecordDataPro;
            c.StartRealTime();
        }
        c.AddReading(reading, channel);
        const _SRealData* s = c.m_pRealTime->m_pRealData;
        // One sample per second since the store started: a reading within the second of the last
        // sample is still taken, so the series may lead the clock by one second, never more.
        const int64_t startSec = c.m_pRealTime->m_StartTime.toMSecsSinceEpoch() / 1000;
        FUZZ_CHECK(s->m_OfferedCount >= 1 && s->m_OfferedCount - 2 <= m_NowMs / 1000 - startSec);
        // The series and the record container take the same samples.
        FUZZ_CHECK(s->m_DataCount == c.m_pRealTime->m_pTrac->used);
    }

private:
    int64_t m_NowMs = 1500000000000LL;
    GRecordChannel m_Channels[2];
};

void DecodeSequence(SCodeUsb& codec, FuzzReader& in, int index, bool serial)
{
    LiveChannels live;
    while (!in.empty()) {
        size_t length = 0;
        unsigned char* msg = const_cast<unsigned char*>(in.Take(kMsg, &length));
        live.Advance(msg[0]);
        TAG_T_SPM25Data out;
        out.usAux = 0x5A5A;
        const unsigned char result = codec.DecodePM25ReadData(index, msg, int(length), &out);
        if (result == kResultPrimary1 || result == kResultPrimary3)
            live.Add(out, 0);
        else if (result == kResultFormaldehyde || result == kResultTvoc)
            live.Add(out, 1);
        CheckResult(msg, int(length), result);
        // Only a measurement writes the caller's record.
        const bool measurement = length > kFramePosType && msg[kFramePosHead] == kFrameHead
                                 && msg[kFramePosType] == 0xA5;
        if (!measurement)
            FUZZ_CHECK(out.usAux == 0x5A5A);
        CheckState(codec, serial, true);
    }
}

// A serial download whose every wait delivers the next message from the input.
void Download(SCodeUsb& codec, FuzzReader& in, int kind, int gasIsTvoc)
{
    Platform_SetSleep([&](int) {
        size_t length = 0;
        const unsigned char* msg = in.Take(kMsg, &length);
        if (length > 1)
            codec.m_Serial.RxAppend(reinterpret_cast<const char*>(msg + 1), int(length - 1));
    });
    const bool old = SCodeUsb::UsesOldHistoryFormat(codec.m_TypeCode);
    codec.ReadHistoryData(0, kind, gasIsTvoc);
    Platform_SetSleep(nullptr);
    CheckState(codec, true, !old);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz_Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const FuzzInput input(data, size);
    FuzzReader in(input.data(), input.size());
    const unsigned char config = in.Byte();
    const bool serial = config & 0x01;
    static const int kIndex[4] = {0, 0, 1, -1};
    const int index = kIndex[(config >> 1) & 3];
    const bool download = serial && (config & 0x08);
    static const int kKind[4] = {1, 2, 5, 1};
    const int kind = kKind[(config >> 4) & 3];

    SCodeUsb codec;
    if (serial)
        codec.m_Serial.m_LinkFlag = 1;
    else
        codec.m_Devices.append(TAG_T_SDeviceInfo()); // an opened device; no transfer reaches it

    if (download) {
        if (config & 0x80)
            codec.m_TypeCode = 0;
        Download(codec, in, kind, (config >> 6) & 1);
    } else {
        DecodeSequence(codec, in, index, serial);
    }
    StoreAndExport(codec, kind == 2 ? 1 : 0);
    return 0;
}
