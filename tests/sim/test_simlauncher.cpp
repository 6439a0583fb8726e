// The launcher end to end: it hosts the sensor and a child program finds it, and its options.
#include "simlauncher.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run Launch(const QStringList& args, int timeoutMs = 20000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The launcher preloads umockdev's library into itself and its child.
    env.remove("LD_PRELOAD");
    env.remove("UMOCKDEV_DIR");
    p.setProcessEnvironment(env);
    p.start(SIM_LAUNCHER, args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

std::vector<std::string> Args(std::initializer_list<const char*> list)
{
    return std::vector<std::string>(list.begin(), list.end());
}

} // namespace

class TestSimLauncher : public QObject {
    Q_OBJECT
private slots:
    void childFindsTheSensor_data();
    void childFindsTheSensor();
    void noLinkShowsNothing();
    void secondClientAfterOneDiedWaiting();
    void childExitCodeAndSignals();
    void sentLogHoldsWhatArrived();
    void parsesOptions();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
};

void TestSimLauncher::childFindsTheSensor_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("script");   // %1: the child; empty: run the child alone
    QTest::addColumn<QString>("out");
    const QString usb = "--type 130 --name LV51 --readings plausible --hid-held -- %1 usb-identify";
    const QString serial = "--link serial --type 121 --name PS22 -- %1 serial-identify";
    QTest::newRow("usb") << usb.split(' ') << QString() << "name=LV51 type=130";
    QTest::newRow("serial") << serial.split(' ') << QString() << "name=PS22 type=121";
    // Out from 1 s to 3 s: found before, gone in between, found again by a fresh discovery.
    const QString replug = "--replug-after 1000 --replug-delay 2000 ";
    const QString script = "%1 %2; sleep 1.5; %1 count; sleep 2; exec %1 %2";
    QTest::newRow("usb replugged") << (replug + usb).split(' ') << script.arg("%1", "usb-identify")
                                   << "name=LV51 type=130\nusb=0 serial=0\nname=LV51 type=130";
    QTest::newRow("serial replugged") << (replug + serial).split(' ')
                                      << script.arg("%1", "serial-identify")
                                      << "name=PS22 type=121\nusb=0 serial=0\nname=PS22 type=121";
    // Out from 1 s to 3 s and from 5 s to 7 s.
    const QString twice = "%1 %2; sleep 1.5; %1 count; sleep 2; %1 %2; sleep 2; %1 count; sleep 2; exec %1 %2";
    QTest::newRow("usb replugged twice") << ("--replug-after 1000,5000 --replug-delay 2000 " + usb).split(' ')
                                         << twice.arg("%1", "usb-identify")
                                         << "name=LV51 type=130\nusb=0 serial=0\nname=LV51 type=130\n"
                                            "usb=0 serial=0\nname=LV51 type=130";
}

void TestSimLauncher::childFindsTheSensor()
{
    QFETCH(QStringList, args);
    QFETCH(QString, script);
    QFETCH(QString, out);
    args.replaceInStrings("%1", SIM_CHILD);
    if (!script.isEmpty())
        args = args.mid(0, args.indexOf("--") + 1) + QStringList{"/bin/sh", "-c", script.arg(SIM_CHILD)};
    const Run r = Launch(args);
    QCOMPARE(r.code, 42);
    QCOMPARE(r.out.trimmed(), out);
    // Taking the device away (at exit, or to plug it in again) sends its uevents without complaint.
    QCOMPARE(r.err, QString());
}

void TestSimLauncher::noLinkShowsNothing()
{
    const Run r = Launch({"--link", "none", "--", SIM_CHILD, "count"});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out.trimmed(), QString("usb=0 serial=0"));
}

void TestSimLauncher::secondClientAfterOneDiedWaiting()
{
    // The first client dies with an IN transfer pending; the device must serve the next one.
    const QString script = QString("%1 usb-hang & sleep 0.5; kill -9 $!; wait $!; %1 usb-identify")
                               .arg(SIM_CHILD);
    const Run r = Launch({"--", "/bin/sh", "-c", script});
    QCOMPARE(r.code, 42);
    QVERIFY(r.out.contains("ready"));
    QVERIFY(r.out.contains("name=LV51 type=130"));
}

void TestSimLauncher::childExitCodeAndSignals()
{
    QCOMPARE(Launch({"--link", "none", "--", "/bin/sh", "-c", "exit 7"}).code, 7);
    QCOMPARE(Launch({"--link", "none", "--", "/bin/sh", "-c", "kill -TERM $$"}).code, 128 + 15);
    QCOMPARE(Launch({"--link", "none", "--", "/nonexistent/program"}).code, 127);

    // A launcher told to stop passes that on to its child.
    QProcess p;
    p.start(SIM_LAUNCHER, {"--link", "none", "--", "/bin/sleep", "30"});
    QVERIFY(p.waitForStarted());
    QTest::qWait(300);
    p.terminate();
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 128 + 15);
}

void TestSimLauncher::sentLogHoldsWhatArrived()
{
    // The log holds exactly what reached the child, in order: nothing that fell due before it
    // opened the device (a bridge drops those), nothing lost; it may stop reading just before a
    // last frame leaves.
    const QRegularExpression line("^\\d{13} \\d{13} (pm|gas) (\\d+) \\d+$");
    for (const QString link : {"usb", "serial"}) {
        QTemporaryFile f;
        QVERIFY(f.open());
        const Run r = Launch({"--link", link, "--type", "121", "--readings", "ramp:0,0.1", "--sent-log",
                              f.fileName(), "--", "/bin/sh", "-c",
                              QString("sleep 1.5; exec %1 read-%2 2500").arg(SIM_CHILD, link)});
        QStringList sent;
        const QStringList lines = QString(f.readAll()).split('\n', Qt::SkipEmptyParts);
        for (const QString& l : lines) {
            const QRegularExpressionMatch m = line.match(l);
            QVERIFY2(m.hasMatch(), qPrintable(l));
            if (m.captured(1) == "pm")
                sent << m.captured(2);
        }
        const QStringList got = r.out.split(' ', Qt::SkipEmptyParts);
        QVERIFY2(r.code == 0 && got.size() >= 2 && sent.mid(0, got.size()) == got
                     && sent.size() <= got.size() + 1 && lines.size() > sent.size(),   // gas lines too
                 qPrintable(link + ": sent " + sent.join(' ') + ", got " + got.join(' ')));
    }
}

void TestSimLauncher::parsesOptions()
{
    SimLaunchOptions o;
    std::string error;
    QVERIFY(SimParseLaunchOptions(Args({"--link", "serial", "--type", "10", "--name", "AB",
                                        "--serial", "0102030405060a", "--readings", "constant:12.5",
                                        "--history", "30", "--announce", "5000", "--vid", "0x16c0",
                                        "--pid", "05df", "--drop-answers", "2", "--unplug-after", "100",
                                        "--replug-after", "200,300", "--replug-delay", "50",
                                        "--sent-log", "sent.txt",
                                        "--usb-packet-number", "low-byte",
                                        "--", "prog", "--type", "x"}),
                                  &o, &error));
    QCOMPARE(int(o.link), int(SimLaunchOptions::Link::Serial));
    QCOMPARE(o.sensor.typeCode, 10);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(o.sensor.name.data()), 4), QByteArray("AB  "));
    QCOMPARE(o.sensor.serialNumber[6], uint8_t(0x0A));
    QCOMPARE(o.sensor.readings.At(0).pm25, 12.5);
    QCOMPARE(o.sensor.historyCount, 30);
    QCOMPARE(o.sensor.announcedCount, 5000);
    QCOMPARE(o.usb.vendorId, uint16_t(0x16C0));
    QCOMPARE(o.usb.productId, uint16_t(0x05DF));
    QCOMPARE(o.dropAnswers, 2);
    QCOMPARE(o.unplugAfterMs, 100);
    QCOMPARE(o.replugAfterMs, std::vector<int>({200, 300}));
    QCOMPARE(o.sentLogPath, std::string("sent.txt"));
    QCOMPARE(o.replugDelayMs, 50);
    QCOMPARE(int(o.sensor.usbPacketNumber), int(SimUsbPacketNumber::LowByte));
    QCOMPARE(o.command, Args({"prog", "--type", "x"}));
}

void TestSimLauncher::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no program") << QStringList{"--type", "130"};
    QTest::newRow("type out of range") << QStringList{"--type", "256", "--", "x"};
    QTest::newRow("name too long") << QStringList{"--name", "LV510", "--", "x"};
    QTest::newRow("serial odd length") << QStringList{"--serial", "0102030", "--", "x"};
    QTest::newRow("serial not hex") << QStringList{"--serial", "01020304050g", "--", "x"};
    QTest::newRow("unknown link") << QStringList{"--link", "bluetooth", "--", "x"};
    QTest::newRow("unknown packet number") << QStringList{"--usb-packet-number", "high", "--", "x"};
    QTest::newRow("bad readings") << QStringList{"--readings", "ramp:1", "--", "x"};
    QTest::newRow("comma decimal") << QStringList{"--readings", "constant:1,5x", "--", "x"};
    QTest::newRow("missing value") << QStringList{"--history"};
    QTest::newRow("unknown option") << QStringList{"--colour", "red", "--", "x"};
    QTest::newRow("negative replug delay") << QStringList{"--replug-delay", "-1", "--", "x"};
    QTest::newRow("replug times falling") << QStringList{"--replug-after", "5000,4000", "--", "x"};
    // The second pull would come while the device is still out (back at 3000).
    QTest::newRow("replug while out") << QStringList{"--replug-after", "1000,2500", "--", "x"};
    QTest::newRow("replug list gap") << QStringList{"--replug-after", "1000,,9000", "--", "x"};
    QTest::newRow("port with slash") << QStringList{"--port", "../ttyS0", "--", "x"};
}

void TestSimLauncher::rejectsBadOptions()
{
    QFETCH(QStringList, args);
    std::vector<std::string> v;
    for (const QString& a : args)
        v.push_back(a.toStdString());
    SimLaunchOptions o;
    std::string error;
    QVERIFY(!SimParseLaunchOptions(v, &o, &error));
    QVERIFY(!error.empty());
}

QTEST_GUILESS_MAIN(TestSimLauncher)
#include "test_simlauncher.moc"
