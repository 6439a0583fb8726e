#include "gserialport.h"

#include "deviceframe.h"

#include <QLoggingCategory>
#include <QSerialPortInfo>

namespace {
Q_LOGGING_CATEGORY(lcSerial, "vostral.serial", QtInfoMsg)

constexpr unsigned char kAskIdentity = 0xA6;
constexpr unsigned char kAskSerialNumber = 0xB5;
constexpr unsigned char kAskHistory = 0xAD;
constexpr int kBaudRate = 9600;
constexpr int kKindSecondary = 2;
constexpr int kKindTvoc = 3;
} // namespace

GSerialPort::GSerialPort() : m_RxBuf(new unsigned char[kRxCapacity]()) {}

GSerialPort::~GSerialPort()
{
    if (m_Port.isOpen())
        m_Port.close();
    delete[] m_RxBuf;
}

int GSerialPort::ScanPorts()
{
    m_PortList.clear();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        TAG_T_SPortEntry entry;
        entry.m_Name = info.portName();
        entry.m_ProductId = info.productIdentifier();
        entry.m_VendorId = info.vendorIdentifier();
        m_PortList.append(entry);
    }
    return m_PortList.size();
}

int GSerialPort::FindBridge(const QVector<TAG_T_SPortEntry>& ports)
{
    for (int i = 0; i < ports.size(); ++i) {
        if (ports[i].m_VendorId == kBridgeVendor && ports[i].m_ProductId == kBridgeProduct)
            return i;
    }
    return -1;
}

int GSerialPort::OpenDevicePort()
{
    if (ScanPorts() == 0)
        return 0;
    const int found = FindBridge(m_PortList);
    if (found < 0)
        return 0;
    return OpenPort(m_PortList[found].m_Name) ? 1 : 0;
}

bool GSerialPort::OpenPort(const QString& name)
{
    m_Port.setPortName(name);
    if (!m_Port.open(QIODevice::ReadWrite))
        return false;
    // Results ignored: a pseudo-terminal or a bridge may refuse a setting it does not need.
    m_Port.setBaudRate(kBaudRate, QSerialPort::AllDirections);
    m_Port.setDataBits(QSerialPort::Data8);
    m_Port.setParity(QSerialPort::NoParity);
    m_Port.setStopBits(QSerialPort::OneStop);
    m_Port.setFlowControl(QSerialPort::NoFlowControl);
    return true;
}

void GSerialPort::SetCheckSum(unsigned char* message)
{
    if (message)
        Frame_SetCheckSum(message);
}

void GSerialPort::WriteFrame(const unsigned char* message)
{
    // Position 0 is never sent on this link. A closed port (the USB link is active) swallows
    // the request; nothing waits for the bytes to leave.
    if (m_Port.isOpen())
        m_Port.write(reinterpret_cast<const char*>(message) + 1, kFrameLength);
}

bool GSerialPort::SendRequest(unsigned char* message, int length, unsigned char command)
{
    unsigned char local[kFrameMessageLength];
    unsigned char* msg = (message && length >= kFrameMessageLength) ? message : local;
    Frame_Begin(msg, command);
    SetCheckSum(msg);
    WriteFrame(msg);
    return true;
}

bool GSerialPort::AskDeviceInfo(unsigned char* message, int length)
{
    return SendRequest(message, length, kAskIdentity);
}

bool GSerialPort::AskDeviceSN(unsigned char* message, int length)
{
    return SendRequest(message, length, kAskSerialNumber);
}

bool GSerialPort::AskHistoryData(int packet, int kind, int gasIsTvoc)
{
    unsigned char msg[kFrameMessageLength];
    Frame_Begin(msg, kAskHistory);
    msg[3] = static_cast<unsigned char>(packet & 0xFF);
    msg[4] = static_cast<unsigned char>((gasIsTvoc == 1 && kind == kKindSecondary) ? kKindTvoc : kind);
    msg[17] = static_cast<unsigned char>((packet >> 8) & 0xFF);
    SetCheckSum(msg);
    WriteFrame(msg);

    if (lcSerial().isDebugEnabled()) {
        QByteArray line("s=");
        for (int pos = 1; pos < kFrameMessageLength; ++pos)
            line += QByteArray::number(msg[pos], 16).rightJustified(2, '0') + ' ';
        qCDebug(lcSerial).noquote() << line.trimmed();
        qCDebug(lcSerial) << "==============";
    }
    return true;
}

bool GSerialPort::ClearHistoryData()
{
    unsigned char msg[kFrameMessageLength];
    Frame_Begin(msg, kAskHistory);
    msg[5] = 0x01;
    SetCheckSum(msg);
    WriteFrame(msg);
    return true;
}
