#pragma once
// The simulated sensor itself, with no I/O: frames in, frames out.
//
// The device sends a 0xA5 measurement frame once per second on its own (for a model with a gas
// channel a formaldehyde or TVOC frame follows each one), answers 0xA6 with its identity, 0xB5
// with its 7-byte serial number, 0xAC and 0xAD with packets of its 5-minute history memory, and
// the clear-history request with the 0xFD confirmation. Every frame the host sends is recorded.
//
// Thread-safe: the front ends call it from umockdev's worker thread or their own, tests from
// theirs. Nothing here blocks; time comes from the model's own SimClock, so a test that steps the
// clock decides when measurements fall due.
#include "simclock.h"
#include "simframe.h"
#include "simhistory.h"
#include "simreadings.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

enum class SimGas { Auto, None, Formaldehyde, Tvoc };

// Which history request commands the device understands.
//   Auto: the old 0xAC format for type codes 0, 1, 3 and 7, the 0xAD packet-index format for
//   every other code, as the real families do; a request in the other format goes unanswered.
enum class SimHistoryFormats { Auto, OldOnly, PacketIndexOnly, Both };

// How the device reads the packet number of a USB history request, which carries only bits 0-7
// (position 17 is 0 on that link).
//   Tracking: works out bits 8-9 from the order of the requests (see ResolvePacket).
//   LowByte: takes position 3 as it stands, so a request for packet 300 is answered with 44.
enum class SimUsbPacketNumber { Tracking, LowByte };

struct SensorConfig {
    int typeCode = 130;
    std::array<uint8_t, 4> name{{'L', 'V', '5', '1'}};
    // 0xB5 answers all seven bytes; 0xA6 carries the first six.
    std::array<uint8_t, 7> serialNumber{{0x20, 0x24, 0x05, 0x10, 0x00, 0x42, 0x07}};
    // Positions 10, 11, 15 and 16 of every 0xA5 frame: the identification a host shows as
    // device name once the device has answered 0xB5.
    std::array<uint8_t, 4> frameId{{0x10, 0x00, 0x42, 0x07}};
    SimGas gas = SimGas::Auto;   // Auto: formaldehyde for two-channel type codes
    uint8_t pmStatus = 1;        // status byte of the particulate frames: 1 or 3
    SimReadingSource readings;
    bool sendMeasurements = true;
    int measurementPeriodMs = 1000;
    int answerDelayMs = 0;
    // History memory: historyCount values (at most historyCapacity) are present at start, the
    // last one at the latest 5-minute boundary; one more is stored every 5 minutes of model time.
    int historyCount = 288;
    int historyCapacity = 4032;
    bool recordHistory = true;
    SimHistoryFormats historyFormats = SimHistoryFormats::Auto;
    int announcedCount = -1;   // >= 0: packet 0 announces this instead of the real count
    // The echo of answers to history kinds 2 and 3 (the gas history). The device answers them
    // with echo 1 in the primary layout, so a host that stores echo-1 packets gets the gas
    // values; a device without a gas channel answers with an empty history.
    uint8_t gasHistoryEcho = kSimEchoPrimary;
    SimUsbPacketNumber usbPacketNumber = SimUsbPacketNumber::Tracking;
    // 0: the clock runs in real time; otherwise it starts stepped at this time (ms since 1970).
    int64_t clockStartMs = 0;
};

enum class SimLink { Usb, Serial, Direct };

// A frame that reached the host, as the front end saw it leave: on USB when the IN transfer
// carrying it was handed back to the host, on serial when it was written whole to the port.
struct SimDelivery {
    int64_t wallMs = 0;     // the real time it left (system clock), even on a stepped model clock
    int64_t modelMs = 0;    // the model's clock at that moment
    SimMessage frame{};     // positions 1..19 as sent, after frame faults
    SimLink link = SimLink::Direct;
};

struct SimRequest {
    int64_t timeMs = 0;     // model clock
    SimMessage frame{};     // positions 1..19 as received; position 0 as the link delivered it
    bool valid = false;     // head, tail and checksum right
    SimLink link = SimLink::Direct;
};

class SensorModel {
public:
    explicit SensorModel(SensorConfig config = {});

    // The host sent one frame (19 bytes: head .. tail).
    void Receive(const uint8_t* frame19, SimLink link = SimLink::Direct);
    void Receive(const SimMessage& message, SimLink link = SimLink::Direct);

    // The next frame the device sends now, if one is due: queued answers first, then the
    // secondary reading of the last measurement, then a new measurement when one is due.
    // Measurements that fell due while nobody asked are not piled up: at most one is pending.
    std::optional<SimMessage> NextFrame();
    // Milliseconds until NextFrame would give something (0: now, -1: nothing expected).
    int64_t MsUntilNextFrame();

    SimClock& Clock() { return m_Clock; }
    SensorConfig Config() const;
    bool HasGasChannel() const;

    // Faults
    void DropAnswers(int n);                        // the next n answers are not sent
    // XOR the byte at message position (1..19) of each of the next n frames with mask.
    void CorruptFrames(int n, int position = 1, uint8_t mask = 0xFF);
    void SetSilent(bool silent);                    // sends nothing at all while set
    void SetSendMeasurements(bool on);
    void SetAnswerDelayMs(int ms);
    // The answers to these history packets (as the device resolved them) are not sent, once each.
    void DropHistoryPackets(const std::vector<int>& packets);
    void Unplug();                                  // the front ends take the device away
    // ... and plug it back: history and clock carry on, as on a device that keeps its memory.
    void Replug();
    bool IsUnplugged() const;

    // Readings
    void SetReadings(const SimReadingSource& source);
    int64_t MeasurementsSent() const;
    SimScaledReading LastMeasurement() const;

    // History memory
    std::vector<SimHistoryValue> History();
    void SetHistory(const std::vector<SimHistoryValue>& values);
    void SetAnnouncedCount(int announced);
    int HistoryClears() const;

    // Everything the host sent, in order
    std::vector<SimRequest> Requests() const;
    int CountRequests(uint8_t command) const;
    void ClearRequests();
    int64_t FramesSent() const;

    // Called by the front ends for every frame that really reached the host (NextFrame alone
    // does not mean that: a bridge with nobody listening drops what it was given). The observer
    // runs on the front end's thread (umockdev's worker or the bridge's), outside the model's lock.
    void Delivered(const SimMessage& frame, SimLink link);
    void SetDeliveryObserver(std::function<void(const SimDelivery&)> observer);

private:
    struct Pending {
        int64_t readyMs;
        SimMessage frame;
    };
    void Answer(const SimMessage& frame, int64_t now);
    void Dispatch(const SimMessage& request, SimLink link, int64_t now);
    void DispatchHistory(const SimMessage& request, SimLink link, int64_t now);
    int ResolvePacket(const SimMessage& request, SimLink link, int64_t now);
    void AnswerPacket(int packet, const SimMessage& frame, int64_t now);
    bool Understands(uint8_t command) const;
    void CatchUpHistory(int64_t now);
    void FillHistory(int64_t now);
    SimMessage MeasurementFrame(const SimScaledReading& r) const;
    SimMessage GasFrame(const SimScaledReading& r) const;
    SimMessage Deliver(SimMessage frame);
    SimGas GasKind() const;

    SimClock m_Clock;
    mutable std::mutex m_Lock;
    SensorConfig m_Config;
    SimHistory m_History;
    std::deque<Pending> m_Answers;
    std::optional<SimMessage> m_Secondary;
    std::vector<SimRequest> m_Requests;
    int64_t m_NextMeasurementMs = 0;
    int64_t m_NextHistoryMs = 0;     // when the next 5-minute value is stored
    int64_t m_SampleIndex = 0;
    int64_t m_HistoryIndex = 0;      // reading index of the next history value
    int64_t m_FramesSent = 0;
    SimScaledReading m_Last{};
    int m_DropAnswers = 0;
    int m_CorruptFrames = 0;
    int m_CorruptPosition = 1;
    uint8_t m_CorruptMask = 0xFF;
    int m_HistoryClears = 0;
    int m_LastPacket = -1;           // the history packet served last
    uint8_t m_LastKind = 0;          // ... the kind it was asked for
    int64_t m_LastPacketMs = 0;      // ... and when (model clock)
    std::multiset<int> m_DropPackets;
    std::shared_ptr<const std::function<void(const SimDelivery&)>> m_Observer;
    bool m_Silent = false;
    bool m_Unplugged = false;
};
