#include "scodeusb.h"

#include "deviceframe.h"
#include "platformtime.h"

#include <QLoggingCategory>
#include <cstring>

namespace {
Q_LOGGING_CATEGORY(lcCodec, "vostral.codec", QtInfoMsg)

constexpr unsigned char kTransportUsb = 0x02;
constexpr unsigned char kCmdIdentity = 0xA6;
constexpr unsigned char kCmdOldHistory = 0xAC;
constexpr unsigned char kCmdHistory = 0xAD;

constexpr unsigned char kTypeMeasurement = 0xA5;
constexpr unsigned char kTypeIdentity = 0xA6;
constexpr unsigned char kTypeParameter = 0xA9;
constexpr unsigned char kTypeOldHistory = 0xAC;
constexpr unsigned char kTypeHistory = 0xAD;
constexpr unsigned char kTypeSerialNumber = 0xB5;

constexpr int kParamSlots = 5;
constexpr int kRequestGapMs = 20;

// Two uppercase hex digits, leading zero kept.
QByteArray UpperHex(unsigned char byte)
{
    return QByteArray(1, char(byte)).toHex().toUpper();
}
} // namespace

QByteArray BytesToHex(const unsigned char* bytes, int n)
{
    if (!bytes || n <= 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(bytes), n).toHex();
}

SCodeUsb::SCodeUsb() = default;
SCodeUsb::~SCodeUsb() = default;

void SCodeUsb::SetCheckSum(unsigned char* message)
{
    GSerialPort::SetCheckSum(message);
}

int SCodeUsb::HasUsbDevice() const
{
    return m_Devices.isEmpty() ? 0 : 1;
}

QByteArray SCodeUsb::GetDeviceName(int index) const
{
    if (index < 0 || index >= m_Devices.size())
        return QByteArray();
    return m_Devices[index].m_Name;
}

QByteArray SCodeUsb::GetDeviceSN(int index) const
{
    if (index < 0 || index >= m_Devices.size())
        return QByteArray();
    return m_Devices[index].m_SN;
}

// ---- requests ---------------------------------------------------------------------------------

void SCodeUsb::BuildIdentityRequestUsb(unsigned char* message)
{
    Frame_Begin(message, kCmdIdentity);
    message[0] = kTransportUsb;
    SetCheckSum(message);
}

void SCodeUsb::BuildHistoryRequestUsb(unsigned char* message, int typeCode, int packet, int kind)
{
    const bool old = UsesOldHistoryFormat(typeCode);
    Frame_Begin(message, old ? kCmdOldHistory : kCmdHistory);
    message[0] = kTransportUsb;
    message[3] = static_cast<unsigned char>(packet & 0xFF);
    if (!old)
        message[4] = static_cast<unsigned char>(kind & 0xFF);
    SetCheckSum(message);
}

bool SCodeUsb::AskDeviceInfoUsb(int index)
{
    if (!IsDeviceReady(index))
        return false;
    memset(m_Message, 0, sizeof m_Message);
    BuildIdentityRequestUsb(m_Message);
    WriteData(index, m_Message);
    return true;
}

bool SCodeUsb::AskHistoryDataUsb(int index, int packet, int kind)
{
    if (!IsDeviceReady(index))
        return false;
    memset(m_Message, 0, sizeof m_Message);
    BuildHistoryRequestUsb(m_Message, m_TypeCode, packet, kind);
    WriteData(index, m_Message);
    return true;
}

bool SCodeUsb::AskDeviceInfo()
{
    memset(m_Message, 0, sizeof m_Message);
    if (IsSerialActive()) {
        m_Serial.AskDeviceInfo(m_Message, kFrameMessageLength);
        Platform_SleepMs(kRequestGapMs);
        m_Serial.AskDeviceSN(m_Message, kFrameMessageLength);
        Platform_SleepMs(kRequestGapMs);
    } else if (IsDeviceReady(0)) {
        AskDeviceInfoUsb(0);
        Platform_SleepMs(kRequestGapMs);
    }
    return true;
}

// ---- poll and decoding ------------------------------------------------------------------------

unsigned char SCodeUsb::ReadPM25Data(int index, TAG_T_SPM25Data* out)
{
    m_ReadLen = 0;
    if (IsSerialActive()) {
        m_ReadLen = m_Serial.ReadBufFromPort(m_Message, kFrameMessageLength);
        if (m_ReadLen == 0)
            return kResultNothing;
    } else {
        m_ReadLen = ReadData(index, m_Message, kFrameMessageLength);
    }
    return DecodePM25ReadData(index, m_Message, m_ReadLen, out);
}

unsigned char SCodeUsb::DecodePM25ReadData(int index, unsigned char* message, int length,
                                           TAG_T_SPM25Data* out)
{
    if (!message || length <= 0)
        return kResultNothing;
    // A short message is read as if its missing bytes were zero, never beyond its end.
    unsigned char padded[kFrameMessageLength] = {};
    const unsigned char* msg = message;
    if (length < kFrameMessageLength) {
        memcpy(padded, message, size_t(length));
        msg = padded;
    }
    if (msg[kFramePosHead] != kFrameHead)
        return kResultNothing;

    switch (msg[kFramePosType]) {
    case kTypeMeasurement:
        return DecodeMeasurement(index, msg, out);
    case kTypeIdentity:
        return DecodeIdentity(index, msg);
    case kTypeSerialNumber:
        return DecodeSerialNumber(index, msg);
    case kTypeParameter: {
        const int slot = msg[4];
        if (slot < kParamSlots) {
            m_ParamTable[slot][0] = Frame_Word(msg, 5);
            m_ParamTable[slot][1] = Frame_Word(msg, 7);
        }
        return kResultParameter;
    }
    case kTypeOldHistory:
        return DecodeOldHistoryPacket(msg);
    case kTypeHistory:
        return DecodeHistoryPacket(msg);
    default:
        return kResultNothing;
    }
}

unsigned char SCodeUsb::DecodeMeasurement(int index, const unsigned char* msg, TAG_T_SPM25Data* out)
{
    if (out) {
        const uint16_t minuend = Frame_Word(msg, 4);
        out->usBase = Frame_Word(msg, 6);
        out->usDelta = minuend > out->usBase ? uint16_t(minuend - out->usBase) : 0;
        out->usValue1 = Frame_Word(msg, 8);
        out->usAux = Frame_Word(msg, 10);
        out->usValue2 = Frame_Word(msg, 12);
    }
    // Devices that sent a 0xB5 frame carry their name in every measurement.
    if (m_IdMode == 4 && index >= 0 && index < m_Devices.size())
        m_Devices[index].m_Name = UpperHex(msg[10]) + UpperHex(msg[11]) + "-" + UpperHex(msg[15])
                                  + UpperHex(msg[16]);
    return msg[3];
}

unsigned char SCodeUsb::DecodeIdentity(int index, const unsigned char* msg)
{
    const QByteArray sn = BytesToHex(msg + 3, 6);
    const QByteArray name(reinterpret_cast<const char*>(msg + 9), 4);
    if (m_Devices.isEmpty()) {
        // Serial link: the identity frame creates the device entry. A device that has no name
        // yet sends 0xFF bytes.
        TAG_T_SDeviceInfo info;
        info.m_Name = msg[9] == 0xFF ? QByteArray("ffff") : name;
        info.m_SN = sn;
        m_Devices.append(info);
    } else if (index >= 0 && index < m_Devices.size()) {
        m_Devices[index].m_Name = name;
        m_Devices[index].m_SN = sn;
    }
    m_TypeCode = msg[13];
    qCDebug(lcCodec) << "identity: type" << m_TypeCode << "name" << name.toHex() << "sn" << sn;
    return kResultIdentity;
}

unsigned char SCodeUsb::DecodeSerialNumber(int index, const unsigned char* msg)
{
    if (m_Devices.isEmpty())
        m_Devices.append(TAG_T_SDeviceInfo());
    if (index >= 0 && index < m_Devices.size())
        m_Devices[index].m_SN = BytesToHex(msg + 3, 7);
    m_IdMode = 4;
    return kResultSerialNumber;
}
