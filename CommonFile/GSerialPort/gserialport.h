#pragma once
// Serial link: finds the USB-serial bridge (vendor 0x1A86, product 0x7523) among the serial
// ports, opens it at 9600 baud 8N1, writes request frames and cuts the received byte stream
// into 19-byte frames (head 0xAA ... tail 0xAB) for the codec.
#include <QSerialPort>
#include <QString>
#include <QVector>

struct TAG_T_SPortEntry {
    QString m_Name;
    int m_ProductId = 0;
    int m_VendorId = 0;
};

class GSerialPort {
public:
    enum {
        kRxCapacity = 2000,
        kFrameLength = 19,
        kBridgeVendor = 0x1A86,
        kBridgeProduct = 0x7523,
    };

    GSerialPort();
    ~GSerialPort();
    GSerialPort(const GSerialPort&) = delete;
    GSerialPort& operator=(const GSerialPort&) = delete;

    int ScanPorts();
    int OpenDevicePort();
    // Opens the named port read-write at 9600 baud 8N1 without flow control.
    bool OpenPort(const QString& name);
    // Index of the first entry with the bridge's vendor and product id, or -1.
    static int FindBridge(const QVector<TAG_T_SPortEntry>& ports);
    // length when a frame was delivered into buffer positions 1..19, 0 otherwise.
    int ReadBufFromPort(unsigned char* buffer, int length);

    bool AskDeviceInfo(unsigned char* message, int length);
    bool AskDeviceSN(unsigned char* message, int length);
    bool AskHistoryData(int packet, int kind, int gasIsTvoc);
    bool ClearHistoryData();
    static void SetCheckSum(unsigned char* message);

    // The receive FIFO without the port, so that framing can be tested on plain byte arrays.
    // Appends what fits (bytes beyond the capacity are dropped) and returns the number kept.
    int RxAppend(const char* data, int n);
    // Takes the next whole frame into buffer positions 1..19; returns length or 0.
    // Bytes that cannot start a frame (head 0xAA, tail 0xAB eighteen bytes on) are dropped, so
    // the stream resynchronises; a partial frame at the end waits for more bytes.
    int RxTakeFrame(unsigned char* buffer, int length);

    // The bridge was pulled while the port was open: the port hung up and has been closed.
    bool IsHungUp() const { return m_HungUp; }

    QVector<TAG_T_SPortEntry> m_PortList;
    int m_LinkFlag = -1;
    QSerialPort m_Port;
    int m_RxCount = 0;
    unsigned char* m_RxBuf = nullptr;
    bool m_HungUp = false;

private:
    void WriteFrame(const unsigned char* message);
    bool SendRequest(unsigned char* message, int length, unsigned char command);
    int FrameStartAt(int candidate) const;
    void RxDrop(int n);
    void CloseIfHungUp();
};
