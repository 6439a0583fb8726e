// The replaceable clock: tests step it, production code sees real time.
#include "platformtime.h"

#include <QtTest>

class TestPlatformTime : public QObject {
    Q_OBJECT

private slots:
    void steppedClockReplacesSleepAndNow()
    {
        int64_t now = 1000000;
        Platform_SetNow([&] { return now; });
        Platform_SetSleep([&](int ms) { now += ms; });
        Platform_SleepMs(30);
        QCOMPARE(Platform_NowMs(), int64_t(1000030));
        QCOMPARE(Platform_CurrentDateTime().toMSecsSinceEpoch(), qint64(1000030));
        Platform_SetNow({});
        Platform_SetSleep({});
        QVERIFY(Platform_NowMs() > 1700000000000LL);
    }
};

QTEST_GUILESS_MAIN(TestPlatformTime)
#include "test_platformtime.moc"
