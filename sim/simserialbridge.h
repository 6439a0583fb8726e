#pragma once
// A simulated sensor behind an emulated USB-serial bridge (umockdev): a tty with a USB parent
// and the udev properties Qt's port discovery reads (ID_VENDOR_ID, ID_MODEL_ID, DEVNAME), backed
// by a pseudo-terminal whose far end this class drives from its own thread.
//
// The device end reads the host's 19-byte requests (resynchronising on 0xAA .. 0xAB), checks the
// line settings the host set (9600 baud, 8 data bits, no parity, 1 stop bit, no flow control,
// raw mode) and records every violation, and writes the sensor's frames paced at the line speed
// (about 20 ms per frame, on the model's clock: in real time, or as fast as a stepped clock moves
// on). Nothing is sent while no program has the port open: a bridge drops what it cannot deliver.
// Faults act on the byte stream: lost, corrupted or inserted bytes, unplug.
//
//   SimSerialBridge bridge(cfg);                 // 1a86:7523, a port name unique to the process
//   QSerialPort port(QString::fromStdString(bridge.PortName()));
//   ... bridge.Model()->Requests(); bridge.LineViolations(); bridge.Unplug();
#include "sensormodel.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

struct SimSerialOptions {
    uint16_t vendorId = 0x1A86;
    uint16_t productId = 0x7523;
    std::string portName;                 // empty: ttyUSB<pid>x<n>, unique within the machine
    std::string description = "USB2.0-Serial";
    std::string manufacturer = "1a86";
    // Leave the line cooked at 38400 baud before the program opens it, so that a program that
    // does not set raw mode and 9600 baud itself is caught.
    bool startCooked = true;
};

struct SimSerialWrite {
    int64_t timeUs = 0;           // steady clock
    std::vector<uint8_t> bytes;   // as written to the line, after byte faults
};

class SimSerialBridge {
public:
    explicit SimSerialBridge(const SensorConfig& config = {}, const SimSerialOptions& options = {});
    ~SimSerialBridge();
    SimSerialBridge(const SimSerialBridge&) = delete;
    SimSerialBridge& operator=(const SimSerialBridge&) = delete;

    bool IsValid() const { return m_Fd >= 0; }
    std::string LastError() const { return m_Error; }
    SensorModel* Model() const { return m_Model.get(); }
    std::string PortName() const { return m_Name; }
    std::string SystemLocation() const { return "/dev/" + m_Name; }

    // Byte faults on what the device sends
    // The n bytes that follow the next `after` bytes sent are lost.
    void LoseBytes(int n, int after = 0);
    void CorruptBytes(int n, uint8_t mask = 0xFF);
    void InsertGarbage(const std::vector<uint8_t>& bytes);   // sent before the next frame
    // The bridge is pulled: the device stops and the port disappears from the list. umockdev
    // leaves the pseudo-terminal's far end open, so the open port just goes quiet.
    void Unplug();
    // The same, and the open port hangs up as a real one does (its reads end at once). Qt may
    // then list the dead port again under umockdev: tests of discovery use Unplug.
    void UnplugAndHangUp();
    // Plugs the bridge in again (pulling it first, with a hang-up, if it is still in): the same
    // port name and sensor, a new pseudo-terminal behind the tty, listed again. A port opened
    // before stays dead; the program opens the port anew. False with LastError.
    bool Replug();

    bool ClientConnected() const;
    // Distinct line-setting violations seen while the port was open, in order of discovery.
    std::vector<std::string> LineViolations() const;
    // Checks the current line settings now (empty when right).
    std::vector<std::string> CheckLine() const;
    std::vector<SimSerialWrite> Writes() const;
    int64_t BytesReceived() const;
    int64_t GarbageReceived() const;   // bytes skipped while looking for a request frame

private:
    bool Plug();
    void Run();
    void Receive();
    void Send(int64_t nowUs);
    // True when the bytes went out whole, none lost or altered on the way.
    bool WriteBytes(std::vector<uint8_t> bytes, int64_t nowUs, int64_t lineUs);
    int64_t LineNowUs(int64_t nowUs);
    void NoteViolations();

    std::shared_ptr<SimTestbed> m_Testbed;
    std::unique_ptr<SensorModel> m_Model;
    SimSerialOptions m_Options;
    std::string m_Name;
    std::string m_SysPath;
    std::string m_UsbPath;   // the bridge chip, the tty's parent
    std::string m_Error;
    std::string m_Entry;    // the bridge and its tty in umockdev's text format
    UMockdevIoctlBase* m_Handler = nullptr;
    int m_Fd = -1;
    bool m_OwnFd = false;   // a pseudo-terminal of ours (after a replug), not umockdev's
    std::vector<int> m_DeadFds;   // ours, unplugged, closed with the bridge
    bool m_Added = false;   // the tty is in the testbed
    std::thread m_Thread;
    std::atomic<bool> m_Stop{false};
    // Shared with the ioctl handler, which umockdev's worker thread may run a little longer.
    std::shared_ptr<std::atomic<bool>> m_Unplugged = std::make_shared<std::atomic<bool>>(false);
    // Handlers of earlier plug-ins, each with its unplugged flag.
    std::vector<std::pair<UMockdevIoctlBase*, std::shared_ptr<std::atomic<bool>>>> m_Retired;

    mutable std::mutex m_Lock;
    bool m_Connected = false;
    int64_t m_ConnectedUs = 0;
    int64_t m_NextSendUs = 0;        // when the line is free again, on the line's clock
    bool m_LineOnModelClock = false;
    int m_LoseAfter = 0;
    int m_Lose = 0;
    int m_Corrupt = 0;
    uint8_t m_CorruptMask = 0xFF;
    std::vector<uint8_t> m_Garbage;
    std::vector<uint8_t> m_Rx;
    std::vector<std::string> m_Violations;
    std::vector<SimSerialWrite> m_Writes;
    int64_t m_BytesReceived = 0;
    int64_t m_GarbageReceived = 0;
};
