// Time-axis and tracker labels, including the stamped history labelling of type 130 devices.
// Registered several times with different TZ: labels are local clock time.
#include "grecorddatapro.h"
#include "gtimescaledraw.h"

#include <QtTest>

namespace {

const QDateTime kMidnight(QDate(2024, 3, 15), QTime(0, 0));
const QString kTwoLine15 = QStringLiteral("   00:00  \n2024/03/15");

QString StampText(uint32_t stamp)
{
    return QDateTime::fromSecsSinceEpoch(stamp).toString(QStringLiteral("MM-dd \nhh:mm"));
}

} // namespace

class TestTimeLabels : public QObject {
    Q_OBJECT

    GRecordChannel mChannels[2];

private slots:
    void cleanup()
    {
        g_RecordData = nullptr;
        for (GRecordChannel& ch : mChannels) {
            ch.m_Source = 0;
            ch.m_TypeCode = 0;
            ch.m_HisTimes.clear();
        }
    }

    void zoneIsApplied()
    {
        const QByteArray tz = qgetenv("TZ");
        const int offset = kMidnight.offsetFromUtc();
        if (tz == "Pacific/Kiritimati")
            QCOMPARE(offset, 14 * 3600);
        else if (tz == "America/St_Johns")
            QCOMPARE(offset, -(2 * 3600 + 1800)); // daylight time in mid-March
        else if (tz == "UTC")
            QCOMPARE(offset, 0);
    }

    void clockLabels_data()
    {
        QTest::addColumn<QDateTime>("base");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("expected");

        QTest::newRow("axis: one hour") << kMidnight << 3600.0 << 0 << "01:00";
        QTest::newRow("axis: base itself is midnight") << kMidnight << 0.0 << 0 << kTwoLine15;
        QTest::newRow("axis: next midnight") << kMidnight << 86400.0 << 0 << "   00:00  \n2024/03/16";
        QTest::newRow("axis: counts back") << kMidnight << -60.0 << 0 << "23:59";
        QTest::newRow("axis: previous midnight") << kMidnight << -86400.0 << 0 << "   00:00  \n2024/03/14";
        QTest::newRow("axis: midnight reached from 23:30")
            << QDateTime(QDate(2024, 3, 15), QTime(23, 30)) << 1800.0 << 0 << "   00:00  \n2024/03/16";
        QTest::newRow("axis: seconds are not shown") << kMidnight << 3659.0 << 0 << "01:00";
        QTest::newRow("day steps: always two lines") << kMidnight << 3600.0 << 2 << "   01:00  \n2024/03/15";
        QTest::newRow("day steps: midnight") << kMidnight << 0.0 << 2 << kTwoLine15;
        QTest::newRow("tracker: fraction cut") << kMidnight << 59.9 << 1 << "00:00:59";
        QTest::newRow("tracker: midnight with date") << kMidnight << 0.0 << 1 << "2024/03/15 00:00";
        QTest::newRow("tracker: cut toward zero") << kMidnight << -0.9 << 1 << "2024/03/15 00:00";
        QTest::newRow("tracker: negative whole second") << kMidnight << -1.0 << 1 << "23:59:59";
        QTest::newRow("tracker: h m s") << kMidnight << 3661.0 << 1 << "01:01:01";
        QTest::newRow("unknown mode is the tracker form") << kMidnight << 30.0 << 7 << "00:00:30";
        QTest::newRow("unknown mode at midnight") << kMidnight << 0.0 << -1 << "2024/03/15 00:00";
    }

    void clockLabels()
    {
        QFETCH(QDateTime, base);
        QFETCH(double, value);
        QFETCH(int, mode);
        QFETCH(QString, expected);
        QCOMPARE(GTimeToStr(base, value, mode), expected);
    }

    void scaleDrawLabelsWithItsBaseAndMode()
    {
        const GTimeScaleDraw axis(kMidnight.addSecs(-15), 0);
        const QwtText text = axis.label(3615);
        QCOMPARE(text.text(), QStringLiteral("01:00"));
        QCOMPARE(GTimeScaleDraw(kMidnight, 2).label(60).text(), QStringLiteral("   00:01  \n2024/03/15"));
    }

    void valuesOutsideTheIntRangeDoNotBreakLabels()
    {
        for (double v : {1e300, -1e300, qQNaN(), qInf()})
            QVERIFY(!GTimeToStr(kMidnight, v, 0).isNull());
        QCOMPARE(GTimeToStr(kMidnight, qQNaN(), 0), kTwoLine15);
    }

    void historyLabelsPickTheSlotStamp_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("stamp");
        QTest::newRow("-299.9 cuts to slot 0") << -299.9 << 0;
        QTest::newRow("0") << 0.0 << 0;
        QTest::newRow("299.9") << 299.9 << 0;
        QTest::newRow("300") << 300.0 << 1;
        QTest::newRow("599.9") << 599.9 << 1;
        QTest::newRow("600") << 600.0 << 2;
        QTest::newRow("900 is past the end") << 900.0 << 2;
        QTest::newRow("far past the end") << 1e7 << 2;
        QTest::newRow("-300 gives the last") << -300.0 << 2;
        QTest::newRow("far below zero") << -1e7 << 2;
        QTest::newRow("beyond int range") << 1e300 << 2;
    }

    void historyLabelsPickTheSlotStamp()
    {
        QFETCH(double, value);
        QFETCH(int, stamp);
        // distinct minutes so that every stamp has its own label
        const QVector<uint32_t> stamps = {1710496800u, 1710496800u + 420, 1710496800u + 5 * 3600 + 13 * 60};
        mChannels[0].m_Source = 2;
        mChannels[0].m_TypeCode = 130;
        mChannels[0].m_HisTimes = stamps;
        g_RecordData = mChannels;
        // base time and mode play no part
        for (int mode : {0, 1, 2})
            QCOMPARE(GTimeToStr(QDateTime(), value, mode), StampText(stamps[stamp]));
        if (qgetenv("TZ") == "UTC" && stamp == 0)
            QCOMPARE(GTimeToStr(kMidnight, value, 0), QStringLiteral("03-15 \n10:00"));
    }

    void historyLabelsWithoutStampsShowZero()
    {
        mChannels[0].m_Source = 2;
        mChannels[0].m_TypeCode = 130;
        g_RecordData = mChannels;
        QCOMPARE(GTimeToStr(kMidnight, 600, 0), QStringLiteral("0"));
        QCOMPARE(GTimeToStr(kMidnight, -600, 1), QStringLiteral("0"));
    }

    void historyLabellingNeedsChannel0HistoryOfType130()
    {
        const QVector<uint32_t> stamps = {1710496800u};
        for (GRecordChannel& ch : mChannels) {
            ch.m_Source = 2;
            ch.m_TypeCode = 130;
            ch.m_HisTimes = stamps;
        }
        // no channel array
        QCOMPARE(GTimeToStr(kMidnight, 3600, 0), QStringLiteral("01:00"));

        g_RecordData = mChannels;
        QCOMPARE(GTimeToStr(kMidnight, 3600, 0), StampText(stamps[0]));
        mChannels[0].m_TypeCode = 129;
        QCOMPARE(GTimeToStr(kMidnight, 3600, 0), QStringLiteral("01:00"));
        mChannels[0].m_TypeCode = 130;
        mChannels[0].m_Source = 1;
        QCOMPARE(GTimeToStr(kMidnight, 3600, 0), QStringLiteral("01:00"));
        // channel 1 alone in history never switches the labelling
        mChannels[0].m_Source = 0;
        QCOMPARE(GTimeToStr(kMidnight, 3600, 1), QStringLiteral("01:00:00"));
    }
};

QTEST_MAIN(TestTimeLabels)
#include "test_timelabels.moc"
