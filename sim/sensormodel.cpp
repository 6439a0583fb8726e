#include "sensormodel.h"

#include <algorithm>

namespace {

constexpr size_t kMaxPendingAnswers = 64;     // the device's answer buffer
constexpr size_t kMaxRecordedRequests = 100000;
constexpr int64_t kHistoryMs = int64_t(SimHistory::kIntervalS) * 1000;

bool IsOldFormatType(int type)
{
    return type == 0 || type == 1 || type == 3 || type == 7;
}

// Type codes of particulate-only models; every other code has a gas channel as well.
bool IsSingleChannelType(int type)
{
    static const int single[] = {0, 1, 2, 3, 4, 5, 8, 40, 50, 100, 120, 130, 131,
                                 150, 151, 152, 153, 155, 156, 157, 158, 255};
    return std::find(std::begin(single), std::end(single), type) != std::end(single);
}

int64_t FloorTo(int64_t value, int64_t step)
{
    const int64_t r = value % step;
    return r < 0 ? value - r - step : value - r;
}

} // namespace

SensorModel::SensorModel(SensorConfig config)
    : m_Config(std::move(config))
    , m_History(m_Config.historyCapacity)
{
    if (m_Config.clockStartMs != 0)
        m_Clock.SetManual(m_Config.clockStartMs);
    m_Config.measurementPeriodMs = std::max(1, m_Config.measurementPeriodMs);
    m_Config.answerDelayMs = std::max(0, m_Config.answerDelayMs);
    const int64_t now = m_Clock.NowMs();
    m_NextMeasurementMs = now;
    FillHistory(now);
}

void SensorModel::FillHistory(int64_t now)
{
    const int64_t lastMs = FloorTo(now, kHistoryMs);
    const int count = std::clamp(m_Config.historyCount, 0, m_History.Capacity());
    for (int i = 0; i < count; ++i) {
        const SimScaledReading r = SimScale(m_Config.readings.At(i));
        const int64_t t = lastMs / 1000 - int64_t(count - 1 - i) * SimHistory::kIntervalS;
        m_History.Append({t, r.pm25, r.pm10, r.gas});
    }
    m_HistoryIndex = count;
    m_NextHistoryMs = lastMs + kHistoryMs;
}

void SensorModel::CatchUpHistory(int64_t now)
{
    if (now < m_NextHistoryMs)
        return;
    if (!m_Config.recordHistory) {
        m_NextHistoryMs = FloorTo(now, kHistoryMs) + kHistoryMs;
        return;
    }
    // After a long step only the last capacity's worth of values can survive.
    const int64_t due = (now - m_NextHistoryMs) / kHistoryMs + 1;
    if (due > m_History.Capacity()) {
        m_NextHistoryMs += (due - m_History.Capacity()) * kHistoryMs;
        m_HistoryIndex += due - m_History.Capacity();
    }
    while (m_NextHistoryMs <= now) {
        const SimScaledReading r = SimScale(m_Config.readings.At(m_HistoryIndex++));
        m_History.Append({m_NextHistoryMs / 1000, r.pm25, r.pm10, r.gas});
        m_NextHistoryMs += kHistoryMs;
    }
}

SimGas SensorModel::GasKind() const
{
    if (m_Config.gas != SimGas::Auto)
        return m_Config.gas;
    return IsSingleChannelType(m_Config.typeCode) ? SimGas::None : SimGas::Formaldehyde;
}

bool SensorModel::HasGasChannel() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return GasKind() != SimGas::None;
}

SensorConfig SensorModel::Config() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Config;
}

void SensorModel::Receive(const uint8_t* frame19, SimLink link)
{
    Receive(SimFromWire(frame19), link);
}

void SensorModel::Receive(const SimMessage& message, SimLink link)
{
    const int64_t now = m_Clock.NowMs();
    std::lock_guard<std::mutex> g(m_Lock);
    SimRequest req{now, message, SimFrameValid(message), link};
    if (m_Requests.size() >= kMaxRecordedRequests)
        m_Requests.erase(m_Requests.begin(), m_Requests.begin() + kMaxRecordedRequests / 2);
    m_Requests.push_back(req);
    if (m_Unplugged || !req.valid)
        return;   // a frame with a bad checksum is ignored, as the firmware does
    CatchUpHistory(now);
    Dispatch(message, link, now);
}

bool SensorModel::Understands(uint8_t command) const
{
    const bool old = IsOldFormatType(m_Config.typeCode);
    switch (m_Config.historyFormats) {
    case SimHistoryFormats::Auto:
        return command == (old ? kSimOldHistory : kSimHistory);
    case SimHistoryFormats::OldOnly: return command == kSimOldHistory;
    case SimHistoryFormats::PacketIndexOnly: return command == kSimHistory;
    case SimHistoryFormats::Both: return true;
    }
    return false;
}

void SensorModel::Dispatch(const SimMessage& request, SimLink link, int64_t now)
{
    switch (request[2]) {
    case kSimIdentity: {
        SimMessage a = SimMakeFrame(kSimIdentity);
        std::copy_n(m_Config.serialNumber.begin(), 6, a.begin() + 3);
        std::copy_n(m_Config.name.begin(), 4, a.begin() + 9);
        a[13] = uint8_t(m_Config.typeCode);
        SimSeal(a);
        Answer(a, now);
        break;
    }
    case kSimSerialNumber: {
        SimMessage a = SimMakeFrame(kSimSerialNumber);
        std::copy_n(m_Config.serialNumber.begin(), 7, a.begin() + 3);
        SimSeal(a);
        Answer(a, now);
        break;
    }
    case kSimOldHistory:
        if (Understands(kSimOldHistory))
            Answer(m_History.OldFormatPacket(request[3], m_Config.announcedCount), now);
        break;
    case kSimHistory:
        DispatchHistory(request, link, now);
        break;
    default:
        break;   // unknown commands go unanswered
    }
}

// On USB only bits 0-7 of the packet number travel (position 17 stays 0). In Tracking mode the
// device works out the rest: a download asks for 0, 1, 2, ... in order, and the packet meant is
// the one with that low byte nearest at or after the packet served last. A request continues a
// download only when it asks for the same kind as the last one and comes within
// kDownloadGapMs of it (a host gives up on one packet after about 2 s; a download started by
// hand comes later than that); any other request starts afresh from packet 0, so a download
// that ended at packet 255, 511 or 767 does not make the next one begin at 256. Low byte 0
// starts a new download, unless it is the very next packet (256, 512, 768) of one still running
// within the announced count. In LowByte mode position 3 is the whole number. The serial link
// carries bits 8-9 in position 17 and is taken as is.
int SensorModel::ResolvePacket(const SimMessage& request, SimLink link, int64_t now)
{
    constexpr int kPacketSpace = 1024;   // 10-bit packet numbers
    constexpr int64_t kDownloadGapMs = 5000;
    int packet = (request[17] & 0x03) * 256 + request[3];
    const bool continues = m_LastPacket >= 0 && request[4] == m_LastKind
                           && now - m_LastPacketMs <= kDownloadGapMs;
    if (link == SimLink::Usb && m_Config.usbPacketNumber == SimUsbPacketNumber::LowByte) {
        packet = request[3];
    } else if (link == SimLink::Usb) {
        const int low = request[3];
        if (low == 0) {
            const int announced = m_Config.announcedCount >= 0 ? m_Config.announcedCount
                                                               : m_History.Count();
            const int announcedPackets = std::min(kPacketSpace, (announced + 11) / 12 * 3);
            const int next = m_LastPacket + 1;
            packet = continues && next % 256 == 0 && next < announcedPackets ? next : 0;
        } else {
            const int from = continues ? m_LastPacket : 0;
            packet = from - from % 256 + low;
            if (packet < from)
                packet += 256;
            if (packet >= kPacketSpace)
                packet = low;   // nothing further on: the download must have started over
        }
    }
    m_LastPacket = packet;
    m_LastKind = request[4];
    m_LastPacketMs = now;
    return packet;
}

void SensorModel::AnswerPacket(int packet, const SimMessage& frame, int64_t now)
{
    const auto drop = m_DropPackets.find(packet);
    if (drop != m_DropPackets.end()) {
        m_DropPackets.erase(drop);
        return;
    }
    Answer(frame, now);
}

void SensorModel::DispatchHistory(const SimMessage& request, SimLink link, int64_t now)
{
    const uint8_t kind = request[4];
    // The clear request: packet 0, kind 0, position 5 = 1. Understood whatever the format, but
    // only on the serial link (and by direct calls): the device defines it there alone.
    if (kind == 0 && request[3] == 0 && request[5] == 1) {
        if (link == SimLink::Usb)
            return;
        m_History.Clear();
        ++m_HistoryClears;
        SimMessage a = SimMakeFrame(kSimHistory);
        a[4] = kSimEchoCleared;
        SimSeal(a);
        Answer(a, now);
        return;
    }
    if (!Understands(kSimHistory))
        return;
    const int announced = m_Config.announcedCount;
    switch (kind) {
    case 1: {
        const int packet = ResolvePacket(request, link, now);
        AnswerPacket(packet, m_History.PacketIndexPacket(packet, SimSeries::Pm25, kSimEchoPrimary,
                                                         announced), now);
        break;
    }
    case 5: {
        const int packet = ResolvePacket(request, link, now);
        AnswerPacket(packet, m_History.PacketIndexPacket(packet, SimSeries::Pm10, kSimEchoPm10,
                                                         announced), now);
        break;
    }
    case 2:
    case 3: {
        const int packet = ResolvePacket(request, link, now);
        if (GasKind() == SimGas::None) {
            SimHistory empty(0);
            AnswerPacket(packet, empty.PacketIndexPacket(packet, SimSeries::Gas,
                                                         m_Config.gasHistoryEcho, 0), now);
        } else {
            AnswerPacket(packet, m_History.PacketIndexPacket(packet, SimSeries::Gas,
                                                             m_Config.gasHistoryEcho, announced),
                         now);
        }
        break;
    }
    case kSimEchoCount:
        Answer(m_History.CountAnswer(), now);
        break;
    default:
        break;
    }
}

void SensorModel::Answer(const SimMessage& frame, int64_t now)
{
    if (m_DropAnswers > 0) {
        --m_DropAnswers;
        return;
    }
    if (m_Answers.size() >= kMaxPendingAnswers)
        m_Answers.pop_front();
    m_Answers.push_back({now + m_Config.answerDelayMs, frame});
}

SimMessage SensorModel::MeasurementFrame(const SimScaledReading& r) const
{
    SimMessage m = SimMakeFrame(kSimMeasurement);
    m[3] = m_Config.pmStatus;
    // Raw optical counts: a baseline and the baseline plus a part proportional to PM2.5.
    const uint16_t base = 400;
    SimPutWord(m, 4, uint16_t(std::min(65535, base + r.pm25 / 4)));
    SimPutWord(m, 6, base);
    SimPutWord(m, 8, r.pm25);
    m[10] = m_Config.frameId[0];
    m[11] = m_Config.frameId[1];
    SimPutWord(m, 12, r.pm10);
    m[15] = m_Config.frameId[2];
    m[16] = m_Config.frameId[3];
    SimSeal(m);
    return m;
}

SimMessage SensorModel::GasFrame(const SimScaledReading& r) const
{
    SimMessage m = SimMakeFrame(kSimMeasurement);
    m[3] = GasKind() == SimGas::Tvoc ? 33 : 17;
    SimPutWord(m, 8, r.gas);
    m[10] = m_Config.frameId[0];
    m[11] = m_Config.frameId[1];
    m[15] = m_Config.frameId[2];
    m[16] = m_Config.frameId[3];
    SimSeal(m);
    return m;
}

SimMessage SensorModel::Deliver(SimMessage frame)
{
    if (m_CorruptFrames > 0) {
        --m_CorruptFrames;
        frame[size_t(m_CorruptPosition)] ^= m_CorruptMask;
    }
    ++m_FramesSent;
    return frame;
}

std::optional<SimMessage> SensorModel::NextFrame()
{
    const int64_t now = m_Clock.NowMs();
    std::lock_guard<std::mutex> g(m_Lock);
    if (m_Unplugged)
        return std::nullopt;
    CatchUpHistory(now);
    if (m_Silent) {
        m_Answers.clear();   // what falls due while silent is lost
        m_Secondary.reset();
        return std::nullopt;
    }
    if (!m_Answers.empty() && m_Answers.front().readyMs <= now) {
        const SimMessage f = m_Answers.front().frame;
        m_Answers.pop_front();
        return Deliver(f);
    }
    if (m_Secondary) {
        const SimMessage f = *m_Secondary;
        m_Secondary.reset();
        return Deliver(f);
    }
    if (m_Config.sendMeasurements && now >= m_NextMeasurementMs) {
        m_NextMeasurementMs += m_Config.measurementPeriodMs;
        if (m_NextMeasurementMs <= now)   // nobody asked for a while: no backlog
            m_NextMeasurementMs = now + m_Config.measurementPeriodMs;
        m_Last = SimScale(m_Config.readings.At(m_SampleIndex++));
        if (GasKind() != SimGas::None)
            m_Secondary = GasFrame(m_Last);
        return Deliver(MeasurementFrame(m_Last));
    }
    return std::nullopt;
}

int64_t SensorModel::MsUntilNextFrame()
{
    const int64_t now = m_Clock.NowMs();
    std::lock_guard<std::mutex> g(m_Lock);
    if (m_Unplugged || m_Silent)
        return -1;
    if (m_Secondary)
        return 0;
    int64_t best = -1;
    if (!m_Answers.empty())
        best = std::max<int64_t>(0, m_Answers.front().readyMs - now);
    if (m_Config.sendMeasurements) {
        const int64_t m = std::max<int64_t>(0, m_NextMeasurementMs - now);
        best = best < 0 ? m : std::min(best, m);
    }
    return best;
}

void SensorModel::DropAnswers(int n)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_DropAnswers = std::max(0, n);
}

void SensorModel::CorruptFrames(int n, int position, uint8_t mask)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_CorruptFrames = std::max(0, n);
    m_CorruptPosition = std::clamp(position, 1, 19);
    m_CorruptMask = mask;
}

void SensorModel::DropHistoryPackets(const std::vector<int>& packets)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_DropPackets.insert(packets.begin(), packets.end());
}

void SensorModel::SetSilent(bool silent)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Silent = silent;
}

void SensorModel::SetSendMeasurements(bool on)
{
    const int64_t now = m_Clock.NowMs();
    std::lock_guard<std::mutex> g(m_Lock);
    if (on && !m_Config.sendMeasurements)
        m_NextMeasurementMs = now;
    m_Config.sendMeasurements = on;
}

void SensorModel::SetAnswerDelayMs(int ms)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Config.answerDelayMs = std::max(0, ms);
}

void SensorModel::Unplug()
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Unplugged = true;
    m_Answers.clear();
    m_Secondary.reset();
}

void SensorModel::Replug()
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Unplugged = false;
}

bool SensorModel::IsUnplugged() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Unplugged;
}

void SensorModel::SetReadings(const SimReadingSource& source)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Config.readings = source;
    m_SampleIndex = 0;
}

int64_t SensorModel::MeasurementsSent() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_SampleIndex;
}

SimScaledReading SensorModel::LastMeasurement() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Last;
}

std::vector<SimHistoryValue> SensorModel::History()
{
    const int64_t now = m_Clock.NowMs();
    std::lock_guard<std::mutex> g(m_Lock);
    CatchUpHistory(now);
    return m_History.Values();
}

void SensorModel::SetHistory(const std::vector<SimHistoryValue>& values)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_History.Set(values);
}

void SensorModel::SetAnnouncedCount(int announced)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Config.announcedCount = announced;
}

int SensorModel::HistoryClears() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_HistoryClears;
}

std::vector<SimRequest> SensorModel::Requests() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Requests;
}

int SensorModel::CountRequests(uint8_t command) const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return int(std::count_if(m_Requests.begin(), m_Requests.end(),
                             [command](const SimRequest& r) { return r.frame[2] == command; }));
}

void SensorModel::ClearRequests()
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Requests.clear();
}

int64_t SensorModel::FramesSent() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_FramesSent;
}

void SensorModel::Delivered(const SimMessage& frame, SimLink link)
{
    std::shared_ptr<const std::function<void(const SimDelivery&)>> observer;
    {
        std::lock_guard<std::mutex> g(m_Lock);
        observer = m_Observer;
    }
    if (!observer)
        return;
    const int64_t wallMs = SimClock::RealNowMs();
    // Read once on real time, so that the two numbers agree to the millisecond.
    (*observer)({wallMs, m_Clock.IsRealTime() ? wallMs : m_Clock.NowMs(), frame, link});
}

void SensorModel::SetDeliveryObserver(std::function<void(const SimDelivery&)> observer)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Observer = observer ? std::make_shared<const std::function<void(const SimDelivery&)>>(
                                std::move(observer))
                          : nullptr;
}
