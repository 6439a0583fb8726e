// Writes the seed corpora of the fuzz targets: sessions of frames as the simulated sensor sends
// them in answer to the program's own requests, byte streams cut from those frames, record files
// written by the program's own writer, and text files for the import.
//
//   fuzz_seedgen <folder>     writes <folder>/<target>/<seed> for every target
#include "deviceframe.h"
#include "grecorddatapro.h"
#include "scodeusb.h"
#include "sensormodel.h"
#include "tracfile.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <vector>

namespace {
using Bytes = std::vector<unsigned char>;

QString g_Root;

bool WriteSeed(const char* target, const char* name, const Bytes& bytes)
{
    const QString dir = g_Root + "/" + target;
    QDir().mkpath(dir);
    QFile f(dir + "/" + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

QString SeedPath(const char* target, const char* name)
{
    QDir().mkpath(g_Root + "/" + target);
    return g_Root + "/" + target + "/" + name;
}

// ---- frames as the device sends them ----------------------------------------------------------

constexpr int64_t kClockStart = 1700000000000LL; // model time, ms since 1970

SensorConfig Model(int typeCode, int historyCount, bool measurements)
{
    SensorConfig c;
    c.typeCode = typeCode;
    c.historyCount = historyCount;
    c.sendMeasurements = measurements;
    c.clockStartMs = kClockStart;
    c.readings = SimReadingSource::Plausible(7);
    return c;
}

SimMessage FromProgram(const unsigned char* message20)
{
    SimMessage m{};
    std::copy(message20, message20 + kFrameMessageLength, m.begin());
    return m;
}

SimMessage IdentityRequest()
{
    unsigned char msg[kFrameMessageLength];
    SCodeUsb::BuildIdentityRequestUsb(msg);
    return FromProgram(msg);
}

SimMessage PlainRequest(unsigned char command, int pos5)
{
    unsigned char msg[kFrameMessageLength];
    Frame_Begin(msg, command);
    msg[5] = static_cast<unsigned char>(pos5);
    Frame_SetCheckSum(msg);
    return FromProgram(msg);
}

SimMessage HistoryRequest(int typeCode, int packet, int kind)
{
    unsigned char msg[kFrameMessageLength];
    SCodeUsb::BuildHistoryRequestUsb(msg, typeCode, packet, kind);
    if (packet > 0xFF && !SCodeUsb::UsesOldHistoryFormat(typeCode)) {
        // As on the serial link, which carries bits 8-15 of the packet number in position 17.
        msg[0] = 0;
        msg[17] = static_cast<unsigned char>(packet >> 8);
        Frame_SetCheckSum(msg);
    }
    return FromProgram(msg);
}

void Take(SensorModel& model, std::vector<SimMessage>& out)
{
    while (auto f = model.NextFrame())
        out.push_back(*f);
}

// Identity (and, on the serial link, serial number), then `seconds` of measurement frames.
std::vector<SimMessage> LiveSession(SensorModel& model, bool serial, int seconds)
{
    std::vector<SimMessage> out;
    model.Receive(IdentityRequest());
    if (serial)
        model.Receive(PlainRequest(0xB5, 0));
    Take(model, out);
    for (int s = 0; s < seconds; ++s) {
        model.Clock().Advance(1000);
        Take(model, out);
    }
    return out;
}

// Answers to the requests of a whole packet-index download (or the old format's packets).
std::vector<SimMessage> HistorySession(SensorModel& model, int typeCode, int kind, int packets)
{
    std::vector<SimMessage> out;
    for (int p = 0; p < packets; ++p) {
        model.Receive(HistoryRequest(typeCode, p, kind));
        Take(model, out);
    }
    return out;
}

Bytes DecoderSeed(unsigned char config, const std::vector<SimMessage>& frames, int shortTail = 0)
{
    Bytes b{config};
    for (const SimMessage& m : frames)
        b.insert(b.end(), m.begin(), m.end());
    if (shortTail > 0 && !frames.empty())
        b.insert(b.end(), frames.front().begin(), frames.front().begin() + shortTail);
    return b;
}

Bytes Wire(const std::vector<SimMessage>& frames)
{
    Bytes b;
    for (const SimMessage& m : frames)
        b.insert(b.end(), m.begin() + 1, m.end());
    return b;
}

// A raw serial seed: the stream in chunks of the given sizes, in turn.
Bytes SerialSeed(unsigned char mode, const Bytes& stream, std::initializer_list<int> sizes)
{
    Bytes b{mode};
    const std::vector<int> cut(sizes);
    size_t at = 0;
    for (size_t k = 0; at < stream.size(); ++k) {
        const size_t n = std::min<size_t>(size_t(cut[k % cut.size()]), stream.size() - at);
        b.push_back(static_cast<unsigned char>(n));
        b.insert(b.end(), stream.begin() + long(at), stream.begin() + long(at + n));
        at += n;
    }
    return b;
}

// A clean serial seed: each frame's type and data, after `noise` bytes of noise.
Bytes CleanSerialSeed(const std::vector<SimMessage>& frames, int noise)
{
    Bytes b{0x01, 0x5C};
    for (const SimMessage& m : frames) {
        b.push_back(static_cast<unsigned char>(noise));
        b.insert(b.end(), m.begin() + 2, m.begin() + 18);
    }
    return b;
}

bool WriteFrameSeeds()
{
    bool ok = true;
    constexpr unsigned char kUsb = 0x00, kSerial = 0x01, kDownload = 0x09;

    SensorModel lv51(Model(130, 25, true));
    const std::vector<SimMessage> usbLive = LiveSession(lv51, false, 6);
    ok &= WriteSeed("decoder", "usb-identity-readings", DecoderSeed(kUsb, usbLive));
    ok &= WriteSeed("decoder", "usb-short-read", DecoderSeed(kUsb, usbLive, 7));

    SensorModel twoChannel(Model(10, 0, true));
    ok &= WriteSeed("decoder", "usb-formaldehyde", DecoderSeed(kUsb, LiveSession(twoChannel, false, 4)));

    SensorConfig tvocConfig = Model(132, 0, true);
    tvocConfig.gas = SimGas::Tvoc;
    tvocConfig.name = {{0xFF, 0xFF, 0xFF, 0xFF}};
    SensorModel tvoc(tvocConfig);
    const std::vector<SimMessage> serialLive = LiveSession(tvoc, true, 5);
    ok &= WriteSeed("decoder", "serial-identity-sn-tvoc", DecoderSeed(kSerial, serialLive));

    SensorModel history(Model(130, 25, false));
    const std::vector<SimMessage> pm25 = HistorySession(history, 130, 1, 9);
    const std::vector<SimMessage> pm10 = HistorySession(history, 130, 5, 9);
    std::vector<SimMessage> both = pm10;
    both.insert(both.end(), pm25.begin(), pm25.end());
    ok &= WriteSeed("decoder", "serial-history-pm10-pm25", DecoderSeed(kSerial, both));
    ok &= WriteSeed("decoder", "download-pm25", DecoderSeed(kDownload, pm25));
    ok &= WriteSeed("decoder", "download-pm10", DecoderSeed(kDownload | 0x20, pm10));

    // A full memory: the primary array reaches its 4032 values, and a few packets more.
    SensorModel full(Model(130, 4032, false));
    ok &= WriteSeed("decoder", "serial-history-full", DecoderSeed(kSerial, HistorySession(full, 130, 1, 1011)));
    ok &= WriteSeed("decoder", "download-full", DecoderSeed(kDownload, HistorySession(full, 130, 1, 1005)));

    std::vector<SimMessage> control;
    history.Receive(HistoryRequest(130, 0, 0xFE));
    history.Receive(PlainRequest(0xAD, 1)); // clear history
    Take(history, control);
    ok &= WriteSeed("decoder", "serial-count-and-clear", DecoderSeed(kSerial, control));

    SensorModel old(Model(0, 30, false));
    const std::vector<SimMessage> oldPackets = HistorySession(old, 0, 1, 5);
    ok &= WriteSeed("decoder", "usb-old-history", DecoderSeed(kUsb, oldPackets));
    ok &= WriteSeed("decoder", "download-old", DecoderSeed(kDownload | 0x80, oldPackets));

    // Serial byte streams of the same frames, cut in several ways and with noise around them.
    const Bytes live = Wire(serialLive);
    ok &= WriteSeed("serial", "frames-whole", SerialSeed(0x00, live, {19}));
    ok &= WriteSeed("serial", "frames-odd-chunks", SerialSeed(0x02, live, {7, 1, 30, 19, 2}));
    Bytes noisy{0x00, 0xAB, 0xAA, 0x13};
    noisy.insert(noisy.end(), live.begin(), live.end());
    noisy.insert(noisy.end(), {0xAA, 0xAA, 0xA5, 0x01});
    ok &= WriteSeed("serial", "frames-noise", SerialSeed(0x04, noisy, {5, 40}));
    SensorModel corrupting(Model(130, 0, true));
    corrupting.CorruptFrames(2, 18, 0x01); // wrong checksums
    ok &= WriteSeed("serial", "frames-bad-checksum", SerialSeed(0x00, Wire(LiveSession(corrupting, true, 3)), {23}));
    corrupting.CorruptFrames(1, 19, 0xFF); // a lost tail
    ok &= WriteSeed("serial", "frames-bad-tail", SerialSeed(0x06, Wire(LiveSession(corrupting, true, 2)), {11}));
    ok &= WriteSeed("serial", "history-burst", SerialSeed(0x00, Wire(both), {255}));
    ok &= WriteSeed("serial", "clean-live", CleanSerialSeed(serialLive, 3));
    ok &= WriteSeed("serial", "clean-history", CleanSerialSeed(pm25, 0));
    return ok;
}

// ---- record files by the program's own writer -------------------------------------------------

bool SaveStore(GRecordDataPro& store, const char* name, int channel)
{
    store.m_pTrac->start_time = 1464862272; // 2016-06-02 10:11:12 UTC
    return store.SaveBinFile(SeedPath("tracfile", name), channel) > 0;
}

bool WriteRecordFileSeeds()
{
    bool ok = true;
    const SimReadingSource readings = SimReadingSource::Plausible(3);
    auto reading = [&](int i) {
        const SimScaledReading r = SimScale(readings.At(i));
        TAG_T_SPM25Data d;
        d.usBase = 400;
        d.usDelta = r.pm25 / 4;
        d.usValue1 = r.pm25;
        d.usValue2 = r.pm10;
        return d;
    };

    GRecordDataPro live;
    for (int i = 0; i < 3; ++i)
        live.AddRealData(reading(i), 10);
    ok &= SaveStore(live, "live-3", 0);

    GRecordDataPro longer;
    for (int i = 0; i < 400; ++i)
        longer.AddRealData(reading(i), 10);
    ok &= SaveStore(longer, "live-400", 0);

    GRecordDataPro gas;
    for (int i = 0; i < 20; ++i) {
        TAG_T_SPM25Data d;
        d.usValue1 = SimScale(readings.At(i)).gas;
        gas.AddRealData(d, 1000);
    }
    ok &= SaveStore(gas, "gas-20", 1);

    // Records two seconds apart, as after the container halved its resolution.
    GRecordDataPro halved;
    for (int i = 0; i < 10; ++i)
        halved.AddRealData(reading(i), 10);
    halved.m_pTrac->sec_per_record = 2;
    ok &= SaveStore(halved, "halved-10", 0);

    // A downloaded history, 300 s apart.
    SensorModel model(Model(130, 30, false));
    SCodeUsb codec;
    codec.m_Serial.m_LinkFlag = 1; // so that the decoder creates the device entry
    for (const SimMessage& m : HistorySession(model, 130, 1, 9)) {
        SimMessage copy = m;
        codec.DecodePM25ReadData(0, copy.data(), kFrameMessageLength, nullptr);
    }
    GRecordChannel channel;
    channel.Create();
    channel.StoreHistory(codec, 0, QDateTime::fromSecsSinceEpoch(1464862272), 300);
    ok &= SaveStore(*channel.m_pHisData, "history-300", 0);

    // The older header without a channel: the same records behind 24 bytes.
    QFile v3(SeedPath("tracfile", "live-3"));
    if (v3.open(QIODevice::ReadOnly)) {
        QByteArray bytes = v3.readAll();
        bytes[4] = 1;
        bytes.remove(20, 4);
        ok &= WriteSeed("tracfile", "version1-3", Bytes(bytes.begin(), bytes.end()));
    } else {
        ok = false;
    }
    // A header with no records (the writer itself refuses to write one).
    Bytes empty = {'T', 'R', 'A', 'C', 3, 0, 0, 0};
    empty.resize(28, 0);
    empty[24] = 1;
    ok &= WriteSeed("tracfile", "no-records", empty);
    return ok;
}

// ---- text files for the import ----------------------------------------------------------------

bool WriteText(const char* name, const QByteArray& text)
{
    return WriteSeed("textimport", name, Bytes(text.begin(), text.end()));
}

bool WriteTextSeeds()
{
    bool ok = true;
    const QByteArray header = "number\ttime       \tPM25Value\tPM10Value\t\r\n";
    ok &= WriteText("three-rows.xls", "Date:2016.06.02-10:11:12\r\nData Count:3\r\n\r\n" + header
                                          + "1    \t10:11:12\t35.2       \t41\r\n"
                                            "2    \t10:11:13\t35.5       \t41.3\r\n"
                                            "3    \t10:11:14\t12.35       \t0\r\n");
    ok &= WriteText("five-minutes.xls", "Date:2016.06.02-10:00:00\nData Count:10\nDevice LV51\n" + header
                                            + "1\t10:00:00\t1\t2\n2\t10:05:00\t3\t4\n7\t10:30:00\t5\t6\n"
                                              "11\t10:50:00\t7\t8\n");
    ok &= WriteText("same-time.xls", "Date:2016.06.02-10:00:00\nData Count:2\n" + header
                                         + "1\t10:00:00\t1\t2\n2\t10:00:00\t3\t4\n");

    // What the text export writes: the import must refuse it (no "Date:" line).
    GRecordDataPro store;
    for (int i = 0; i < 3; ++i) {
        TAG_T_SPM25Data d;
        d.usValue1 = uint16_t(350 + i);
        d.usValue2 = uint16_t(410 + i);
        store.AddRealData(d, 10);
    }
    SCodeUsb codec;
    ok &= store.SaveTextFile(codec, SeedPath("textimport", "export.xls"), 0, 300, 2, nullptr, nullptr);
    return ok;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    g_Root = QString::fromLocal8Bit(argv[1]);
    const bool ok = WriteFrameSeeds() && WriteRecordFileSeeds() && WriteTextSeeds();
    if (!ok)
        fprintf(stderr, "%s: could not write every seed\n", argv[0]);
    return ok ? 0 : 1;
}
