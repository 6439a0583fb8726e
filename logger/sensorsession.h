#pragma once
// The logger's hold on one sensor: finds it (USB first, then the serial bridge, or as the
// options say), asks who it is, reads its frames, notices when it is gone (unplugged, hung up or
// silent for 10 s) and looks for it again every 2 s, also while another program holds it.
// Tick() does one step of that; the caller runs it every 200 ms and acts on the events it returns.
#include "linkrefusal.h"
#include "loggeroptions.h"
#include "loggerreading.h"
#include "scodeusb.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

struct SensorEvent {
    enum Kind {
        Found,     // identified: model, serial, typeCode, where
        Primary,   // a particulate reading: pm25, pm10 (NaN when the model has none)
        Gas,       // a gas reading: gas, gasKind
        Lost,      // gone: text says why ("unplugged", "silent for 10 s")
        Mismatch,  // sensors answered, none with the --device serial: text lists theirs
        NoAnswer,  // a sensor was opened but did not say who it is
        NotFound,  // a search found no sensor
        Busy,      // a sensor is there but another program holds it: text says where
        Denied,    // a sensor is there but this user may not open it: text says where, group who may
    };
    explicit SensorEvent(Kind k) : kind(k) {}
    Kind kind;
    double pm25 = LoggerReading::kAbsent;
    double pm10 = LoggerReading::kAbsent;
    double gas = LoggerReading::kAbsent;
    GasKind gasKind = GasKind::None;
    QString text;
    QString group;
};

class SensorSession {
public:
    explicit SensorSession(const LoggerOptions& options);
    ~SensorSession();
    SensorSession(const SensorSession&) = delete;
    SensorSession& operator=(const SensorSession&) = delete;

    // One step at time nowMs; appends what happened to *events.
    void Tick(int64_t nowMs, std::vector<SensorEvent>* events);
    // Lets go of the sensor (at exit).
    void Close();
    // The caller held the link for a while (a history download): silence counts from now.
    void Resume(int64_t nowMs) { m_LastFrameMs = nowMs; }

    bool Running() const { return m_State == State::Running; }
    // The identified sensor (valid while Running).
    QByteArray Model() const { return m_Model; }
    QByteArray Serial() const { return m_Serial; }
    int TypeCode() const { return m_TypeCode; }
    QString Where() const { return m_Where; }
    bool HasPm10() const;
    bool HasGas() const;
    // Frames that arrived but could not be decoded (bad checksum, broken layout) since the last call.
    int TakeFramesRefused()
    {
        const int n = m_FramesRefused;
        m_FramesRefused = 0;
        return n;
    }
    // The codec of the running sensor, for a history download (null unless Running).
    SCodeUsb* Codec() { return Running() ? m_Codec.get() : nullptr; }

    enum {
        kSearchEveryMs = 2000,
        kSilentMs = 10000,
        kIdentifyMs = 3000,     // a sensor that does not say who it is by then is let go
        kAskAgainMs = 1000,
        kReadsPerTick = 8,      // frames taken per step at most (one arrives about every 0.5 s)
    };

private:
    enum class State { Searching, Identifying, Running };
    // false with m_Refusal saying why when a sensor was there but could not be taken.
    bool Open();
    void AskIdentity();
    void Identify(int64_t nowMs, std::vector<SensorEvent>* events);
    void Read(int64_t nowMs, std::vector<SensorEvent>* events);
    void Lose(int64_t nowMs, const QString& why, std::vector<SensorEvent>* events);
    bool Matches(const QByteArray& serial) const;

    LoggerOptions m_Options;
    std::unique_ptr<SCodeUsb> m_Codec;
    State m_State = State::Searching;
    int64_t m_NextSearchMs = 0;
    int64_t m_DeadlineMs = 0;
    int64_t m_LastAskMs = 0;
    int64_t m_LastFrameMs = 0;
    bool m_OnSerial = false; // the open link is the serial bridge
    // Identity answers while identifying, by device index: serial number and type code.
    QVector<QByteArray> m_Serials;
    QVector<int> m_Types;
    QByteArray m_Model;
    QByteArray m_Serial;
    int m_TypeCode = -1;
    QString m_Where;
    int m_FramesRefused = 0;
    LinkRefusal m_Refusal;
};
