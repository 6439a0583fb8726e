// The device model on its own: frames, history packets of both formats and faults.
// History packets are decoded here with a few lines of the test's own.
#include "sensormodel.h"
#include "simtesthelpers.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

constexpr int64_t kStart = 1700000000000;   // 2023-11-14, a stepped clock

SensorConfig Stepped(int type = 130)
{
    SensorConfig c;
    c.typeCode = type;
    c.clockStartMs = kStart;
    c.sendMeasurements = false;
    return c;
}

std::optional<SimMessage> Ask(SensorModel& m, std::array<uint8_t, 20> req)
{
    m.Receive(req.data() + 1);
    return m.NextFrame();
}

SimMessage AskHistory(SensorModel& m, int packet, int kind)
{
    const auto a = Ask(m, TestRequest(0xAD, {{3, uint8_t(packet & 0xFF)}, {4, uint8_t(kind)},
                                             {17, uint8_t(packet >> 8)}}));
    return a ? *a : SimMessage{};
}

// What a host makes of a packet-index download: values and their times.
struct Decoded {
    int announced = 0;
    std::vector<int> values;
    std::vector<int64_t> times;
};

Decoded Download(SensorModel& m, int kind)
{
    Decoded d;
    SimMessage p0 = AskHistory(m, 0, kind);
    d.announced = TestWord(p0.data(), 15);
    const int packets = (d.announced + 11) / 12 * 3;
    std::vector<int> group(12, 0);
    int64_t groupTime = 0;
    for (int p = 0; p < packets; ++p) {
        const SimMessage a = p == 0 ? p0 : AskHistory(m, p, kind);
        const int r = p % 3;
        if (r == 0) {
            uint32_t word = 0;
            for (int b = 0; b < 4; ++b)
                word |= uint32_t(a[size_t(5 + b)]) << (8 * b);
            groupTime = SimDateWordToTime(word);
        }
        const int first = r == 0 ? 9 : 5, slot = r == 0 ? 0 : r == 1 ? 3 : 8, n = r == 0 ? 3 : r == 1 ? 5 : 4;
        for (int s = 0; s < n; ++s)
            group[size_t(slot + s)] = TestWord(a.data(), first + 2 * s);
        if (r == 2) {
            int k = 11;
            while (k >= 0 && (group[size_t(k)] == 0 || group[size_t(k)] == 0xFFFF))
                --k;
            for (int j = 0; j <= k; ++j) {
                d.values.push_back(group[size_t(j)]);
                d.times.push_back(groupTime - k * 300 + (j + 1) * 300);
            }
        }
    }
    return d;
}

std::vector<SimHistoryValue> Ramp(int n, int64_t lastTime)
{
    std::vector<SimHistoryValue> v;
    for (int i = 0; i < n; ++i)
        v.push_back({lastTime - (n - 1 - i) * 300, uint16_t(100 + i), uint16_t(200 + i), uint16_t(30 + i)});
    return v;
}

} // namespace

class TestSensorModel : public QObject {
    Q_OBJECT
private slots:
    void identityAndSerialNumber();
    void badRequestsAreRecordedNotAnswered();
    void measurementsOncePerSecond();
    void packetIndexHistoryRoundTrip_data();
    void packetIndexHistoryRoundTrip();
    void packetNumbersAboveByteRange();
    void usbRequestsCarryTheLowByteOnly_data();
    void usbRequestsCarryTheLowByteOnly();
    void droppedHistoryPackets();
    void gasHistory();
    void oldFormatHistory();
    void formatFollowsTypeCode();
    void countAndClear();
    void historyGrowsWithTheClock();
    void faults();
    void dateWord();
    void readings();
};

void TestSensorModel::identityAndSerialNumber()
{
    SensorConfig cfg = Stepped(121);
    cfg.name = {{'P', 'S', '2', '2'}};
    cfg.serialNumber = {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x0A}};
    SensorModel m(cfg);
    const auto id = Ask(m, TestRequest(0xA6));
    QVERIFY(id);
    const uint8_t* f = id->data();
    QCOMPARE(f[1], uint8_t(0xAA));
    QCOMPARE(f[2], uint8_t(0xA6));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(f + 3), 6), QByteArray("\x11\x22\x33\x44\x55\x66"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(f + 9), 4), QByteArray("PS22"));
    QCOMPARE(f[13], uint8_t(121));
    QCOMPARE(f[18], TestChecksum(f));
    QCOMPARE(f[19], uint8_t(0xAB));

    const auto sn = Ask(m, TestRequest(0xB5));
    QVERIFY(sn);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(sn->data() + 3), 7),
             QByteArray("\x11\x22\x33\x44\x55\x66\x0A"));
    QCOMPARE((*sn)[18], TestChecksum(sn->data()));
    QCOMPARE(m.CountRequests(0xA6), 1);
    QCOMPARE(m.CountRequests(0xB5), 1);
    QVERIFY(!m.NextFrame());
}

void TestSensorModel::badRequestsAreRecordedNotAnswered()
{
    SensorModel m(Stepped());
    std::array<uint8_t, 20> badSum = TestRequest(0xA6);
    badSum[18] ^= 1;
    std::array<uint8_t, 20> badTail = TestRequest(0xA6);
    badTail[19] = 0;
    QVERIFY(!Ask(m, badSum));
    QVERIFY(!Ask(m, badTail));
    QVERIFY(!Ask(m, TestRequest(0xA7)));   // a command the device does not know
    const std::vector<SimRequest> r = m.Requests();
    QCOMPARE(int(r.size()), 3);
    QVERIFY(!r[0].valid && !r[1].valid && r[2].valid);
    QCOMPARE(r[0].timeMs, kStart);
}

void TestSensorModel::measurementsOncePerSecond()
{
    SensorConfig cfg = Stepped(10);   // two channels
    cfg.sendMeasurements = true;
    cfg.gas = SimGas::Tvoc;
    cfg.pmStatus = 3;
    cfg.frameId = {{0x1A, 0x2B, 0x3C, 0x4D}};
    cfg.readings = SimReadingSource::Ramp({10.0, 13.0, 0.1}, {0.5, 0.6, 0.01});
    SensorModel m(cfg);
    auto f = m.NextFrame();
    QVERIFY(f);
    QCOMPARE((*f)[3], uint8_t(3));
    QCOMPARE(TestWord(f->data(), 8), 100);
    QCOMPARE(TestWord(f->data(), 12), 130);
    QVERIFY(TestWord(f->data(), 4) >= TestWord(f->data(), 6));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(f->data()) + 10, 2), QByteArray("\x1A\x2B"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(f->data()) + 15, 2), QByteArray("\x3C\x4D"));
    QCOMPARE((*f)[18], TestChecksum(f->data()));
    f = m.NextFrame();
    QVERIFY(f);
    QCOMPARE((*f)[3], uint8_t(33));
    QCOMPARE(TestWord(f->data(), 8), 100);
    QVERIFY(!m.NextFrame());
    QCOMPARE(m.MsUntilNextFrame(), int64_t(1000));

    m.Clock().Advance(1000);
    f = m.NextFrame();
    QVERIFY(f);
    QCOMPARE(TestWord(f->data(), 8), 105);
    m.NextFrame();
    // Ten seconds nobody asked: one reading now, not ten.
    m.Clock().Advance(10000);
    QVERIFY(m.NextFrame());
    QVERIFY(m.NextFrame());
    QVERIFY(!m.NextFrame());
    QCOMPARE(m.MeasurementsSent(), int64_t(3));
}

void TestSensorModel::packetIndexHistoryRoundTrip_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("one partial group") << 5;
    QTest::newRow("25 values, 9 packets") << 25;
    QTest::newRow("whole groups") << 36;
    QTest::newRow("full memory") << 4032;
}

void TestSensorModel::packetIndexHistoryRoundTrip()
{
    QFETCH(int, count);
    SensorModel m(Stepped());
    const int64_t last = kStart / 1000 / 300 * 300;
    const std::vector<SimHistoryValue> h = Ramp(count, last);
    m.SetHistory(h);
    const Decoded pm25 = Download(m, 1);
    QCOMPARE(pm25.announced, count);
    QCOMPARE(int(pm25.values.size()), count);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(pm25.values[size_t(i)], int(h[size_t(i)].pm25));
        QCOMPARE(pm25.times[size_t(i)], h[size_t(i)].time);
    }
    const Decoded pm10 = Download(m, 5);
    QCOMPARE(pm10.values.back(), int(h.back().pm10));
    QCOMPARE(AskHistory(m, 0, 5)[4], uint8_t(5));
    QCOMPARE(AskHistory(m, 1, 1)[4], uint8_t(1));
}

void TestSensorModel::packetNumbersAboveByteRange()
{
    SensorModel m(Stepped());
    m.SetHistory(Ramp(4032, kStart / 1000 / 300 * 300));
    // Packet 0x102 is the first of group 86: bits 8-9 travel in position 17.
    const SimMessage p = AskHistory(m, 0x102, 1);
    QCOMPARE(p[3], uint8_t(0x02));
    QCOMPARE(p[17], uint8_t(0x01));
    QCOMPARE(TestWord(p.data(), 9), 100 + 86 * 12);
    QCOMPARE(TestWord(p.data(), 15), 0);   // only packet 0 announces the count
    // A request with only the low byte (as the USB link sends it) gets packet 2.
    QCOMPARE(TestWord(AskHistory(m, 0x02, 1).data(), 5), 100 + 8);
    m.SetAnnouncedCount(5000);
    QCOMPARE(TestWord(AskHistory(m, 0, 1).data(), 15), 5000);
}

namespace {
// The packet number an answer carries: position 3 and bits 0-1 of position 17.
int AnsweredPacket(const SimMessage& a)
{
    return (a[17] & 0x03) * 256 + a[3];
}

// A history request as it travels on `link`: on USB without position 17.
SimMessage AskOn(SensorModel& m, SimLink link, int packet, int kind = 1)
{
    const uint8_t high = link == SimLink::Usb ? 0 : uint8_t(packet >> 8);
    const auto req = TestRequest(0xAD, {{3, uint8_t(packet & 0xFF)}, {4, uint8_t(kind)}, {17, high}});
    m.Receive(req.data() + 1, link);
    const auto a = m.NextFrame();
    return a ? *a : SimMessage{};
}

std::vector<int> Range(int from, int to)
{
    std::vector<int> v;
    for (int p = from; p <= to; ++p)
        v.push_back(p);
    return v;
}

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

void TestSensorModel::usbRequestsCarryTheLowByteOnly_data()
{
    QTest::addColumn<int>("count");       // values in the memory
    QTest::addColumn<int>("link");        // SimLink
    QTest::addColumn<std::vector<int>>("asked");     // packet numbers the host means; -ms: a pause
    QTest::addColumn<std::vector<int>>("answered");  // packet numbers the device answers
    const int usb = int(SimLink::Usb), serial = int(SimLink::Serial);
    QTest::newRow("full download") << 4031 << usb << Range(0, 1004) << Range(0, 1004);
    QTest::newRow("two downloads in a row")
        << 4031 << usb << Concat(Range(0, 1004), Range(0, 300)) << Concat(Range(0, 1004), Range(0, 300));
    QTest::newRow("a short download, then a long one")
        << 4031 << usb << Concat(Range(0, 8), Range(0, 270)) << Concat(Range(0, 8), Range(0, 270));
    QTest::newRow("requests the device never heard")
        << 4031 << usb << std::vector<int>{0, 1, 2, 250, 260, 500, 600, 601}
        << std::vector<int>{0, 1, 2, 250, 260, 500, 600, 601};
    QTest::newRow("the same packet again") << 4031 << usb << Concat(Range(0, 300), {300, 301})
                                           << Concat(Range(0, 300), {300, 301});
    // 256 groups end at packet 767: the next request for low byte 0 is a new download.
    QTest::newRow("download ending at 767, then another")
        << 3072 << usb << Concat(Range(0, 767), Range(0, 2)) << Concat(Range(0, 767), Range(0, 2));
    QTest::newRow("download ending at 255, another of the same kind later")
        << 4031 << usb << Concat(Range(0, 255), {-6000, 0, 1}) << Concat(Range(0, 255), {0, 1});
    QTest::newRow("serial carries the high bits") << 4031 << serial << std::vector<int>{0x102, 0, 0x300, 5}
                                                  << std::vector<int>{0x102, 0, 0x300, 5};
}

void TestSensorModel::usbRequestsCarryTheLowByteOnly()
{
    QFETCH(int, count);
    QFETCH(int, link);
    QFETCH(std::vector<int>, asked);
    QFETCH(std::vector<int>, answered);
    SensorModel m(Stepped());
    m.SetHistory(Ramp(count, kStart / 1000 / 300 * 300));
    std::vector<int> got;
    for (int packet : asked) {
        if (packet < 0) {
            m.Clock().Advance(-packet);
            continue;
        }
        const SimMessage a = AskOn(m, SimLink(link), packet);
        QCOMPARE(a[2], uint8_t(0xAD));
        got.push_back(AnsweredPacket(a));
        // The values are those of the packet meant: the first slot of group g holds 100 + 12 g.
        const int group = got.back() / 3;
        if (got.back() % 3 == 0 && 12 * group < count)
            QCOMPARE(TestWord(a.data(), 9), 100 + 12 * group);
    }
    QCOMPARE(got, answered);
}

void TestSensorModel::droppedHistoryPackets()
{
    SensorModel m(Stepped());
    m.SetHistory(Ramp(36, kStart / 1000 / 300 * 300));
    m.DropHistoryPackets({1, 5});
    std::vector<int> got;
    for (int packet : Range(0, 8)) {
        const auto req = TestRequest(0xAD, {{3, uint8_t(packet)}, {4, 1}});
        m.Receive(req.data() + 1, SimLink::Usb);
        if (const auto a = m.NextFrame())
            got.push_back(AnsweredPacket(*a));
    }
    QCOMPARE(got, (std::vector<int>{0, 2, 3, 4, 6, 7, 8}));
    // Once each: asked again, the packet is answered.
    QCOMPARE(AnsweredPacket(AskOn(m, SimLink::Serial, 5)), 5);
    QCOMPARE(m.CountRequests(0xAD), 10);
}

void TestSensorModel::gasHistory()
{
    SensorModel gas(Stepped(10));
    gas.SetHistory(Ramp(12, kStart / 1000 / 300 * 300));
    for (int kind : {2, 3}) {
        const SimMessage p = AskHistory(gas, 0, kind);
        QCOMPARE(p[4], uint8_t(1));   // answered in the primary layout
        QCOMPARE(TestWord(p.data(), 9), 30);
    }
    SensorModel pmOnly(Stepped(130));
    const SimMessage p = AskHistory(pmOnly, 0, 2);
    QCOMPARE(p[2], uint8_t(0xAD));
    QCOMPARE(TestWord(p.data(), 15), 0);
}

void TestSensorModel::oldFormatHistory()
{
    SensorModel m(Stepped(1));
    m.SetHistory(Ramp(30, kStart / 1000 / 300 * 300));
    auto p = Ask(m, TestRequest(0xAC));
    QVERIFY(p);
    QCOMPARE((*p)[2], uint8_t(0xAC));
    QCOMPARE(TestWord(p->data(), 16), 30);
    for (int s = 0; s < 6; ++s)
        QCOMPARE(TestWord(p->data(), 4 + 2 * s), 100 + s);
    p = Ask(m, TestRequest(0xAC, {{3, 4}}));
    QCOMPARE((*p)[3], uint8_t(4));
    QCOMPARE(TestWord(p->data(), 4), 124);
    QCOMPARE(TestWord(p->data(), 14), 129);
    QCOMPARE(TestWord(p->data(), 16), 0);
    p = Ask(m, TestRequest(0xAC, {{3, 5}}));
    QCOMPARE(TestWord(p->data(), 4), 0);   // beyond the stored values
}

void TestSensorModel::formatFollowsTypeCode()
{
    SensorModel old(Stepped(3));
    QVERIFY(!Ask(old, TestRequest(0xAD, {{4, 1}})));
    SensorModel fresh(Stepped(130));
    QVERIFY(!Ask(fresh, TestRequest(0xAC)));
    SensorConfig both = Stepped(130);
    both.historyFormats = SimHistoryFormats::Both;
    SensorModel m(both);
    QVERIFY(Ask(m, TestRequest(0xAC)));
    QVERIFY(Ask(m, TestRequest(0xAD, {{4, 1}})));
}

void TestSensorModel::countAndClear()
{
    SensorModel m(Stepped());
    m.SetHistory(Ramp(25, kStart / 1000 / 300 * 300));
    SimMessage c = AskHistory(m, 0, 0xFE);
    QCOMPARE(c[4], uint8_t(0xFE));
    QCOMPARE(int(c[3]), 7);   // in fours, rounded up
    m.Receive(TestRequest(0xAD, {{5, 1}}).data() + 1, SimLink::Usb);   // defined on serial only
    QVERIFY(!m.NextFrame() && m.HistoryClears() == 0 && m.History().size() == 25);
    const auto cleared = Ask(m, TestRequest(0xAD, {{5, 1}}));
    QVERIFY(cleared);
    QCOMPARE((*cleared)[4], uint8_t(0xFD));
    QCOMPARE((*cleared)[18], TestChecksum(cleared->data()));
    QCOMPARE(m.HistoryClears(), 1);
    QVERIFY(m.History().empty());
    QCOMPARE(TestWord(AskHistory(m, 0, 1).data(), 15), 0);
}

void TestSensorModel::historyGrowsWithTheClock()
{
    SensorConfig cfg = Stepped();
    cfg.historyCount = 10;
    cfg.historyCapacity = 12;
    cfg.readings = SimReadingSource::Ramp({1.0, 1.3, 0.0}, {1.0, 1.0, 0.0});
    SensorModel m(cfg);
    std::vector<SimHistoryValue> h = m.History();
    QCOMPARE(int(h.size()), 10);
    QCOMPARE(h.back().time % 300, int64_t(0));
    QVERIFY(h.back().time <= kStart / 1000);
    QCOMPARE(h[0].pm25, uint16_t(10));
    m.Clock().Advance(600 * 1000);
    h = m.History();
    QCOMPARE(int(h.size()), 12);
    QCOMPARE(h.back().pm25, uint16_t(120));
    m.Clock().Advance(int64_t(1000) * 300 * 1000);   // long away: memory stays full
    h = m.History();
    QCOMPARE(int(h.size()), 12);
    QCOMPARE(h.back().time - h.front().time, int64_t(11 * 300));
}

void TestSensorModel::faults()
{
    SensorModel m(Stepped());
    m.DropAnswers(1);
    QVERIFY(!Ask(m, TestRequest(0xA6)));
    QVERIFY(Ask(m, TestRequest(0xA6)));

    m.CorruptFrames(1, 1, 0xFF);
    QCOMPARE((*Ask(m, TestRequest(0xA6)))[1], uint8_t(0x55));
    QCOMPARE((*Ask(m, TestRequest(0xA6)))[1], uint8_t(0xAA));

    m.SetAnswerDelayMs(50);
    QVERIFY(!Ask(m, TestRequest(0xA6)));
    m.Clock().Advance(50);
    QVERIFY(m.NextFrame());
    m.SetAnswerDelayMs(0);

    m.SetSilent(true);
    QVERIFY(!Ask(m, TestRequest(0xA6)));
    m.SetSilent(false);
    QVERIFY(!m.NextFrame());   // what fell due while silent is gone

    m.Unplug();
    QVERIFY(!Ask(m, TestRequest(0xA6)));
    QCOMPARE(m.CountRequests(0xA6), 7);   // recorded, answered or not
}

void TestSensorModel::dateWord()
{
    qputenv("TZ", "UTC");
    tzset();
    struct tm t {};
    t.tm_year = 2016 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_min = 30;
    t.tm_sec = 42;
    const time_t when = timegm(&t);
    const uint32_t w = SimDateWord(when);
    QCOMPARE(w & 0xFF, 0x1Cu);
    QCOMPARE((w >> 8) & 0xFF, 0x07u);
    QCOMPARE((w >> 16) & 0xFF, 0x0Eu);
    QCOMPARE(w >> 24, 0x1Eu);
    QCOMPARE(SimDateWordToTime(w), when - 42);
}

void TestSensorModel::readings()
{
    const SimReadingSource p = SimReadingSource::Plausible(7);
    for (int i = 0; i < 20000; i += 7) {
        const SimReading r = p.At(i);
        QVERIFY(r.pm25 >= 15 && r.pm25 <= 90);
        QVERIFY(r.pm10 >= r.pm25 * 1.2 && r.pm10 <= r.pm25 * 1.4);
        QVERIFY(r.gas >= 0.02 && r.gas <= 0.12);
    }
    SimReadingSource s;
    QVERIFY(SimReadingSource::Parse("script:10/13/0.05;20.5", &s));
    QCOMPARE(s.At(0).gas, 0.05);
    QCOMPARE(s.At(3).pm25, 20.5);
    QVERIFY(SimReadingSource::Parse("ramp:10,0.5,4", &s));
    QCOMPARE(s.At(5).pm25, 10.5);
    const SimScaledReading big = SimScale({7000.0, -3.0, 0.0456});
    QCOMPARE(big.pm25, uint16_t(65535));
    QCOMPARE(big.pm10, uint16_t(0));
    QCOMPARE(big.gas, uint16_t(46));
}

QTEST_GUILESS_MAIN(TestSensorModel)
#include "test_sensormodel.moc"
