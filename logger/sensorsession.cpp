#include "sensorsession.h"

#include "devicereading.h"

namespace {
QString SerialList(const QVector<QByteArray>& serials)
{
    QStringList found;
    for (const QByteArray& s : serials) {
        if (!s.isEmpty())
            found << QString::fromLatin1(s);
    }
    return found.join(QStringLiteral(", "));
}
} // namespace

SensorSession::SensorSession(const LoggerOptions& options) : m_Options(options) {}

SensorSession::~SensorSession()
{
    Close();
}

void SensorSession::Close()
{
    // The codec's destructor closes the serial port and releases the USB devices.
    m_Codec.reset();
    m_State = State::Searching;
}

bool SensorSession::HasPm10() const
{
    return SCodeUsb::ReportsPM10Of(m_TypeCode);
}

bool SensorSession::HasGas() const
{
    // The models that send gas frames they do not measure are particulate-only in the catalogue.
    return SCodeUsb::ChannelCountOf(m_TypeCode) == 2;
}

bool SensorSession::Matches(const QByteArray& serial) const
{
    if (m_Options.device.isEmpty())
        return true;
    // The identity answer carries twelve digits; a fourteen-digit number begins with them.
    const QByteArray wanted = m_Options.device.toLatin1().left(12);
    return serial.left(12) == wanted;
}

bool SensorSession::Open()
{
    m_Codec = std::make_unique<SCodeUsb>();
    m_OnSerial = false;
    m_Refusal = LinkRefusal();
    if (m_Options.link != LoggerOptions::Link::Serial) {
        const int opened = m_Codec->OpenDevices();
        m_Refusal = Refusal_OfUsb(*m_Codec);
        if (opened > 0 && m_Refusal.kind == LinkRefusal::None) {
            m_Where = QStringLiteral("on USB");
            return true;
        }
        // Devices held by another program would only be silent; the holder may want them back.
        if (opened > 0)
            m_Codec->CloseDevices();
    }
    if (m_Options.link != LoggerOptions::Link::Usb) {
        GSerialPort& serial = m_Codec->m_Serial;
        const bool open = m_Options.port.isEmpty() ? serial.OpenDevicePort() == 1 : serial.OpenPort(m_Options.port);
        if (open) {
            serial.m_LinkFlag = 1;
            m_OnSerial = true;
            m_Where = QStringLiteral("on serial port %1").arg(serial.m_Port.portName());
            m_Refusal = LinkRefusal();
            return true;
        }
        // The port name is set only when a bridge was found (or named) and its opening failed.
        if (m_Refusal.kind == LinkRefusal::None)
            m_Refusal = Refusal_OfSerial(serial.m_Port.error(), m_Options.port.isEmpty() ? serial.m_Port.portName() : m_Options.port);
    }
    m_Codec.reset();
    return false;
}

void SensorSession::AskIdentity()
{
    // Only the identity request: it is defined on both links and carries all the logger needs.
    if (m_OnSerial) {
        m_Codec->m_Serial.AskDeviceInfo(nullptr, 0);
        return;
    }
    for (int i = 0; i < m_Codec->DeviceCount(); ++i)
        m_Codec->AskDeviceInfoUsb(i);
}

void SensorSession::Tick(int64_t nowMs, std::vector<SensorEvent>* events)
{
    switch (m_State) {
    case State::Searching: {
        if (nowMs < m_NextSearchMs)
            return;
        m_NextSearchMs = nowMs + kSearchEveryMs;
        if (!Open()) {
            SensorEvent e(m_Refusal.kind == LinkRefusal::Busy     ? SensorEvent::Busy
                          : m_Refusal.kind == LinkRefusal::Denied ? SensorEvent::Denied
                                                                  : SensorEvent::NotFound);
            e.text = m_Refusal.where;
            e.group = m_Refusal.group;
            events->push_back(e);
            return;
        }
        const int devices = m_OnSerial ? 1 : m_Codec->DeviceCount();
        m_Serials = QVector<QByteArray>(devices);
        m_Types = QVector<int>(devices, -1);
        m_State = State::Identifying;
        m_DeadlineMs = nowMs + kIdentifyMs;
        m_LastAskMs = nowMs;
        AskIdentity();
        return;
    }
    case State::Identifying:
        Identify(nowMs, events);
        return;
    case State::Running:
        Read(nowMs, events);
        return;
    }
}

void SensorSession::Identify(int64_t nowMs, std::vector<SensorEvent>* events)
{
    TAG_T_SPM25Data discarded;
    for (int i = 0; i < m_Serials.size(); ++i) {
        for (int n = 0; n < kReadsPerTick; ++n) {
            const int code = m_Codec->ReadPM25Data(i, &discarded);
            if (m_Codec->m_ReadLen <= 0)
                break;
            if (code != kResultIdentity)
                continue; // readings before the identity cannot be filed
            m_Serials[i] = m_Codec->GetDeviceSN(m_OnSerial ? 0 : i);
            m_Types[i] = m_Codec->m_TypeCode;
        }
    }
    int chosen = -1;
    for (int i = 0; i < m_Serials.size() && chosen < 0; ++i) {
        if (!m_Serials[i].isEmpty() && Matches(m_Serials[i]))
            chosen = i;
    }
    if (chosen >= 0) {
        if (!m_OnSerial)
            m_Codec->KeepOnly(chosen);
        m_TypeCode = m_Types[chosen];
        m_Codec->m_TypeCode = m_TypeCode; // the last answer may have been another sensor's
        m_Serial = m_Serials[chosen];
        m_Model = m_Codec->GetModelName();
        m_State = State::Running;
        m_LastFrameMs = nowMs;
        SensorEvent e(SensorEvent::Found);
        e.text = m_Where;
        events->push_back(e);
        return;
    }
    if (nowMs >= m_DeadlineMs) {
        const QString answered = SerialList(m_Serials);
        SensorEvent e(answered.isEmpty() ? SensorEvent::NoAnswer : SensorEvent::Mismatch);
        e.text = answered.isEmpty() ? m_Where : answered;
        events->push_back(e);
        Close();
        m_NextSearchMs = nowMs + kSearchEveryMs;
        return;
    }
    if (nowMs - m_LastAskMs >= kAskAgainMs) {
        m_LastAskMs = nowMs;
        AskIdentity();
    }
}

void SensorSession::Read(int64_t nowMs, std::vector<SensorEvent>* events)
{
    for (int n = 0; n < kReadsPerTick; ++n) {
        TAG_T_SPM25Data r;
        const int code = m_Codec->ReadPM25Data(0, &r);
        if (m_Codec->m_ReadLen <= 0)
            break;
        m_LastFrameMs = nowMs;
        if (code == kResultNothing)
            ++m_FramesRefused;
        const QVector<DeviceValue> values = Device_Values(code, r, m_TypeCode);
        if (!values.isEmpty()) {
            SensorEvent e(values[0].quantity == DeviceQuantity::PM2_5 ? SensorEvent::Primary : SensorEvent::Gas);
            for (const DeviceValue& v : values) {
                switch (v.quantity) {
                case DeviceQuantity::PM2_5: e.pm25 = v.value; break;
                case DeviceQuantity::PM10: e.pm10 = v.value; break;
                case DeviceQuantity::Formaldehyde: e.gas = v.value; e.gasKind = GasKind::Formaldehyde; break;
                case DeviceQuantity::Tvoc: e.gas = v.value; e.gasKind = GasKind::Tvoc; break;
                }
            }
            events->push_back(e);
        } else if (code == kResultIdentity && m_Codec->m_TypeCode != m_TypeCode) {
            m_TypeCode = m_Codec->m_TypeCode;
            m_Model = m_Codec->GetModelName();
        }
    }
    const bool gone = m_OnSerial ? m_Codec->m_Serial.IsHungUp() : m_Codec->IsDeviceGone(0);
    if (gone)
        Lose(nowMs, QStringLiteral("unplugged"), events);
    else if (nowMs - m_LastFrameMs >= kSilentMs)
        Lose(nowMs, QStringLiteral("silent for %1 s").arg(kSilentMs / 1000), events);
}

void SensorSession::Lose(int64_t nowMs, const QString& why, std::vector<SensorEvent>* events)
{
    SensorEvent e(SensorEvent::Lost);
    e.text = why;
    events->push_back(e);
    Close();
    m_NextSearchMs = nowMs + kSearchEveryMs;
}
