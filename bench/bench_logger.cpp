// The logger's two targets, measured:
//   bench_logger [hours]         resident memory after `hours` (default 24) of one reading per
//                                second through the recording path (readings held for 6 hours
//                                for a clock that is not synchronised, then day files and record
//                                files as the program writes them), on a stepped clock, and the
//                                bytes written per day. Targets: at most 15 MB, at most 3 x the
//                                day files' bytes.
//   bench_logger --cpu [seconds] [outputs]
//                                CPU time of the real vostral-logger recording the simulated
//                                sensor on the serial link for `seconds` (default 60), read
//                                from /proc, and its resident memory then. Target: at most 0.3 %
//                                of one core; with `outputs` also publishing to MQTT, scraped by
//                                Prometheus every second and writing to InfluxDB (servers of its
//                                own on 127.0.0.1): at most 0.5 % and 20 MB.
// Prints the numbers and exits with 1 when a target is missed.
#include "clockkeeper.h"
#include "daylog.h"
#include "readingassembler.h"
#include "runrecorder.h"

#include "freeport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <curl/curl.h>
#include <cstdio>
#include <unistd.h>

namespace {
constexpr double kMB = 1024.0 * 1024.0;

// Resident bytes and CPU seconds (user + system) of a process, from /proc.
double ResidentBytes(const QString& pid)
{
    QFile f(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().split(' ').value(1).toDouble() * double(sysconf(_SC_PAGESIZE));
}

double CpuSeconds(const QString& pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    // The fields after the command name (which may hold spaces): utime and stime are 14 and 15.
    const QByteArray text = f.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// Bytes this process has handed to write() so far (/proc/self/io "wchar").
double BytesWritten()
{
    QFile f(QStringLiteral("/proc/self/io"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toDouble();
    return 0;
}

// Resident bytes of the mappings of the emulation's preloaded library in a process: scaffolding
// of the simulated sensor, which a logger beside a real sensor does not load.
double EmulationBytes(const QString& pid)
{
    QFile f(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    double bytes = 0;
    bool emulation = false;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.isEmpty() && line[0] != ' ' && line.contains('-') && !line.endsWith(':') && !line.contains(": "))
            emulation = line.contains("libumockdev-preload");
        else if (emulation && line.startsWith("Rss:"))
            bytes += line.mid(4).trimmed().split(' ').value(0).toDouble() * 1024;
    }
    return bytes;
}

// A stepped clock that is not synchronised until told.
struct SteppedClock : LoggerClock {
    int64_t mono = 0;
    int64_t wall = 1796774400000; // 2026-12-08 local-ish midnight; any day will do
    bool synced = false;
    int64_t MonotonicMs() const override { return mono; }
    int64_t WallMs() const override { return wall + mono; }
    Sync State() const override { return synced ? Sync::Synchronised : Sync::NotSynchronised; }
};

// The program's recording path on a stepped clock: the first `heldHours` with the clock not
// synchronised (every reading held in memory, the worst a board without a network sees), then
// the rest with the clock known, the day file synced every minute, record files at the run's
// end.
int MemoryRun(int hours, int heldHours)
{
    QTemporaryDir dir;
    const QString self = QString::number(getpid());
    const double before = ResidentBytes(self);
    const double written0 = BytesWritten();
    SteppedClock clock;
    ClockKeeper keeper(clock, heldHours * 3600 + 60);
    ReadingAssembler assembler(false);
    assembler.SetSensor("LV51", "202405100042", false);
    DayLog live(dir.path(), false);
    RunRecorder runs(dir.path(), 1);
    const int64_t seconds = int64_t(hours) * 3600;
    std::vector<LoggerReading> raw, out;
    double heldRss = 0;
    int held = 0;
    for (int64_t s = 0; s < seconds; ++s) {
        clock.mono = s * 1000;
        if (s == int64_t(heldHours) * 3600) {
            heldRss = ResidentBytes(self);
            held = keeper.Held();
            clock.synced = true;
        }
        out.clear();
        raw.clear();
        keeper.Tick(&out);
        assembler.AddPrimary(clock.mono, 10 + double(s % 500) / 10, 13 + double(s % 700) / 10, &raw);
        for (const LoggerReading& r : raw)
            keeper.Add(r, &out);
        for (const LoggerReading& r : out) {
            live.Append(r);
            runs.Add(r);
        }
        if (s % 60 == 0)
            live.Sync();
    }
    runs.Flush();
    const double after = ResidentBytes(self);
    const double written = BytesWritten() - written0;
    double csv = 0;
    for (const QFileInfo& f : QDir(dir.path()).entryInfoList({QStringLiteral("20*.csv")}, QDir::Files))
        csv += double(f.size());
    printf("bytes written per simulated day: %.1f MB for %.1f MB of day files (%.2f x; target: at most 3 x)\n",
           written / kMB * 24 / hours, csv / kMB * 24 / hours, written / csv);
    printf("recording path, %d h of one reading per second: resident %.1f MB before, %.1f MB with %d readings "
           "held for the clock (%d h), %.1f MB after (target: at most 15 MB)\n",
           hours, before / kMB, heldRss / kMB, held, heldHours, after / kMB);
    return after <= 15 * kMB && heldRss <= 15 * kMB && written <= 3 * csv ? 0 : 1;
}

// An HTTP request with libcurl (the logger's own library); the status, 0 without an answer.
long Http(const QByteArray& url, const QByteArray& post = QByteArray())
{
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 2000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t n, void*) { return size * n; });
    if (!post.isNull())
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post.constData());
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    return status;
}

// The servers the outputs talk to, on 127.0.0.1: a mosquitto broker and an InfluxDB 1.x.
struct Servers {
    QTemporaryDir dir;
    QProcess broker, influx;
    int mqtt = FreePort(), http = FreePort(), rpc = FreePort(), metrics = FreePort();

    bool Start()
    {
        QFile conf(dir.filePath("m.conf")), influxConf(dir.filePath("i.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\n").arg(mqtt).toUtf8());
        conf.close();
        influxConf.open(QIODevice::WriteOnly);
        influxConf.write(QStringLiteral("reporting-disabled = true\nbind-address = \"127.0.0.1:%1\"\n[meta]\n  dir = \"%2/meta\"\n"
                                        "[data]\n  dir = \"%2/data\"\n  wal-dir = \"%2/wal\"\n  query-log-enabled = false\n"
                                        "[monitor]\n  store-enabled = false\n[http]\n  bind-address = \"127.0.0.1:%3\"\n  log-enabled = false\n")
                             .arg(rpc).arg(dir.path()).arg(http).toUtf8());
        influxConf.close();
        broker.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), conf.fileName()});
        broker.waitForStarted();
        influx.setStandardOutputFile(QProcess::nullDevice());
        influx.setStandardErrorFile(QProcess::nullDevice());
        influx.start(QStringLiteral("/usr/bin/influxd"), {QStringLiteral("-config"), influxConf.fileName()});
        const QByteArray base = "http://127.0.0.1:" + QByteArray::number(http);
        for (int i = 0; i < 200 && Http(base + "/ping") != 204; ++i)
            QThread::msleep(100);
        const long created = Http(base + "/query", "q=CREATE DATABASE air");
        if (broker.state() != QProcess::Running || created != 200)
            printf("mosquitto %s, InfluxDB's CREATE DATABASE: %ld\n", broker.state() == QProcess::Running ? "running" : "not running", created);
        return broker.state() == QProcess::Running && created == 200;
    }
    QStringList LoggerArgs() const
    {
        return {QStringLiteral("--mqtt"), QStringLiteral("mqtt://127.0.0.1:%1").arg(mqtt), QStringLiteral("--prometheus"),
                QString::number(metrics), QStringLiteral("--influx"), QStringLiteral("http://127.0.0.1:%1/write?db=air").arg(http)};
    }
    ~Servers()
    {
        for (QProcess* p : {&broker, &influx}) {
            p->terminate();
            p->waitForFinished(10000);
        }
    }
};

// outputs: MQTT, Prometheus (scraped every second) and InfluxDB on as well.
int CpuRun(int seconds, bool outputs)
{
    const QString bin = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    QTemporaryDir dir;
    Servers servers;
    if (outputs && !servers.Start()) {
        printf("cannot start mosquitto and influxd\n");
        return 1;
    }
    QProcess sim;
    sim.start(bin + QStringLiteral("/sim/vostral-sensor-sim"),
              QStringList{QStringLiteral("--link"), QStringLiteral("serial"), QStringLiteral("--readings"), QStringLiteral("plausible"),
                          QStringLiteral("--"), bin + QStringLiteral("/logger/vostral-logger"), QStringLiteral("--out"), dir.path(),
                          QStringLiteral("--clock-wait"), QStringLiteral("0")}
                  + (outputs ? servers.LoggerArgs() : QStringList()));
    if (!sim.waitForStarted())
        return 1;
    QThread::sleep(3); // found and identified
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(sim.processId()));
    const QString logger = children.open(QIODevice::ReadOnly) ? QString::fromLatin1(children.readAll().trimmed()) : QString();
    const double cpu0 = CpuSeconds(logger);
    int scraped = 0;
    for (int s = 0; s < seconds; ++s) {
        QThread::sleep(1);
        if (outputs)
            scraped += Http("http://127.0.0.1:" + QByteArray::number(servers.metrics) + "/metrics") == 200;
    }
    const double cpu = CpuSeconds(logger) - cpu0;
    const double rss = ResidentBytes(logger) - EmulationBytes(logger);
    ::kill(pid_t(sim.processId()), SIGTERM);
    sim.waitForFinished(10000);
    const double share = 100.0 * cpu / seconds;
    const double target = outputs ? 0.5 : 0.3;
    printf("vostral-logger on the serial link for %d s%s: %.2f s of CPU = %.3f %% of one core (target: at most "
           "%.1f %%), resident %.2f MB (without the emulation's preloaded library)%s\n",
           seconds, outputs ? qPrintable(QStringLiteral(" with MQTT, Prometheus (%1 scrapes) and InfluxDB").arg(scraped)) : "", cpu,
           share, target, rss / kMB, outputs ? " (target: at most 20 MB)" : "");
    return logger.isEmpty() || share > target || (outputs && rss > 20 * kMB) ? 1 : 0;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--cpu"))
        return CpuRun(args.size() > 2 ? args[2].toInt() : 60, args.contains(QStringLiteral("outputs")));
    return MemoryRun(args.size() > 1 ? args[1].toInt() : 24, 6);
}
