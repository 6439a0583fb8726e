// What a history download keeps when answers go missing on the way: dropped by the device
// (over USB) or broken by a byte lost on the serial line.
#include "historyrig.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

// The answers of one packet of a 36-value memory (three groups) go missing. What the download
// keeps follows the decoding rules: a group whose closing packet is missing adds nothing, and a
// group that misses its first or middle packet keeps those slots from the group before (for the
// first packet, its date word too, and so its stamps); in the first group the slots stay zero.
void AddLossRows()
{
    QTest::addColumn<int>("lost");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<std::vector<int>>("values");   // memory index of each value, -1: zero
    QTest::addColumn<std::vector<int>>("stamps");   // memory index whose time each value carries
    QTest::newRow("packet 0") << 0 << false << std::vector<int>{} << std::vector<int>{};
    QTest::newRow("middle packet of the first group")
        << 1 << true << Join({{0, 1, 2, -1, -1, -1, -1, -1}, IndexRange(8, 35)}) << IndexRange(0, 35);
    QTest::newRow("first packet of a group")
        << 3 << true << Join({IndexRange(0, 11), {0, 1, 2}, IndexRange(15, 35)})
        << Join({IndexRange(0, 11), IndexRange(0, 11), IndexRange(24, 35)});
    QTest::newRow("middle packet of a group")
        << 4 << true << Join({IndexRange(0, 14), IndexRange(3, 7), IndexRange(20, 35)}) << IndexRange(0, 35);
    QTest::newRow("closing packet of a group")
        << 5 << true << Join({IndexRange(0, 11), IndexRange(24, 35)})
        << Join({IndexRange(0, 11), IndexRange(24, 35)});
    QTest::newRow("last packet") << 8 << true << IndexRange(0, 23) << IndexRange(0, 23);
}

} // namespace

class TestE2eHistoryLoss : public QObject {
    Q_OBJECT

private slots:
    void droppedAnswersLeaveTheirGaps_data() { AddLossRows(); }
    void droppedAnswersLeaveTheirGaps()
    {
        QFETCH(int, lost);
        QFETCH(bool, answered);
        QFETCH(std::vector<int>, values);
        QFETCH(std::vector<int>, stamps);
        HistoryRig rig;
        QVERIFY(rig.Open(E2eLink::Usb, E2eSensor(130, 36, true)));
        rig.model->DropHistoryPackets({lost});
        QCOMPARE(rig.codec.ReadHistoryData(0, 1, 0), answered);
        const QString diff = CompareHistory(rig.codec, rig.Memory(), values, stamps);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        // A missing answer is waited for, then skipped: every packet is still asked for once.
        QCOMPARE(int(HistoryRequests(*rig.model).size()), answered ? 9 : 1);
    }

    // A byte lost on the line costs the frame it was in and nothing else: the download ends as
    // if that packet's answer had never been sent.
    void lostByteCostsOnlyItsFrame_data() { AddLossRows(); }
    void lostByteCostsOnlyItsFrame()
    {
        QFETCH(int, lost);
        QFETCH(bool, answered);
        QFETCH(std::vector<int>, values);
        QFETCH(std::vector<int>, stamps);
        HistoryRig rig;
        // No readings on the line, so that the next frame after a request is its answer.
        QVERIFY(rig.Open(E2eLink::Serial, E2eSensor(130, 36, false)));
        bool armed = false;
        rig.onWait = [&] {
            // The request for packet `lost` is still in the program's write buffer here.
            if (!armed && rig.codec.m_HisPacketCount == lost) {
                rig.bridge->LoseBytes(1, 10);
                armed = true;
            }
        };
        QCOMPARE(rig.codec.ReadHistoryData(0, 1, 0), answered);
        QVERIFY(armed);
        const QString diff = CompareHistory(rig.codec, rig.Memory(), values, stamps);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QCOMPARE(rig.codec.m_HisPacketCount, answered ? 8 : 0);
    }

};

QTEST_GUILESS_MAIN(TestE2eHistoryLoss)
#include "test_e2e_historyloss.moc"
