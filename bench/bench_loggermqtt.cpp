// The logger's MQTT publishing against Debian's mosquitto on 127.0.0.1 (started here):
//   BM_Latency          Publish() of a reading until a subscriber on the same broker has it:
//                       median, 99th percentile and worst of 1000 readings (ms), QoS 0 and 1.
//   BM_OutageMemory     resident memory (VmRSS) before and after a 10-minute broker outage at
//                       one reading per second: 600 Publish() calls with the broker down, the
//                       readings' clock driven forward 1 s each. Second argument: real seconds
//                       the outage lasts (0: the calls come at once; 8: spread out, so the
//                       client's reconnection attempts at 1, 2 and 4 s happen in between).
#include "mqttpublisher.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <mosquitto.h>

#include <arpa/inet.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

double ResidentMB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

bool Listening(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

// An anonymous broker on 127.0.0.1 that can be stopped and started again on the same port.
struct Broker {
    int port = FreePort();
    std::string conf = "/tmp/bench_loggermqtt_" + std::to_string(getpid()) + ".conf";
    pid_t pid = 0;

    Broker()
    {
        FILE* f = fopen(conf.c_str(), "w");
        fprintf(f, "listener %d 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest none\n", port);
        fclose(f);
        Start();
    }
    ~Broker()
    {
        Stop();
        unlink(conf.c_str());
    }
    void Start()
    {
        const char* argv[] = {"/usr/sbin/mosquitto", "-c", conf.c_str(), nullptr};
        posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ);
        for (int i = 0; i < 500 && !Listening(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void Stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        pid = 0;
    }
};

// A consumer: notes when each message arrives.
struct Subscriber {
    mosquitto* m;
    std::mutex mutex;
    std::condition_variable arrived;
    int count = 0;
    Clock::time_point last;

    explicit Subscriber(int port)
    {
        m = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(m, [](mosquitto*, void* s, const mosquitto_message*) {
            auto* self = static_cast<Subscriber*>(s);
            std::lock_guard<std::mutex> lock(self->mutex);
            self->last = Clock::now();
            ++self->count;
            self->arrived.notify_all();
        });
        mosquitto_connect(m, "127.0.0.1", port, 30);
        mosquitto_subscribe(m, nullptr, "vostral/+/state", 1);
        mosquitto_loop_start(m);
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the subscription is in place
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, true);
        mosquitto_destroy(m);
    }
    int Count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
    // When message number n arrived; nothing if it did not within a second.
    bool WaitFor(int n, Clock::time_point* at)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!arrived.wait_for(lock, std::chrono::seconds(1), [&] { return count >= n; }))
            return false;
        *at = last;
        return true;
    }
};

MqttOptions Options(int port, int qos)
{
    MqttOptions o;
    o.enabled = true;
    o.host = "127.0.0.1";
    o.port = port;
    o.qos = qos;
    return o;
}

LoggerReading Reading(int64_t timeMs)
{
    LoggerReading r;
    r.timeMs = timeMs;
    r.pm25 = 12.3;
    r.pm10 = 20.1;
    r.gas = 0.012;
    r.gasKind = GasKind::Formaldehyde;
    r.model = "LV51";
    return r;
}

bool WaitUntil(const std::function<bool()>& done, int seconds)
{
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!done() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

void BM_Latency(benchmark::State& state)
{
    const int qos = int(state.range(0));
    Broker broker;
    Subscriber consumer(broker.port);
    MqttPublisher publisher(Options(broker.port, qos), {});
    publisher.SensorOnline("0123456789ab", "LV51", GasKind::Formaldehyde, true);
    if (!WaitUntil([&] { return publisher.Connected(); }, 10)) {
        state.SkipWithError("no connection to the broker");
        return;
    }
    std::vector<double> ms;
    int64_t timeMs = 1796716801000LL;
    for (auto _ : state) {
        ms.clear();
        for (int i = 0; i < 1000; ++i) {
            const int n = consumer.Count() + 1;
            const auto t0 = Clock::now();
            publisher.Publish(Reading(timeMs += 1000));
            Clock::time_point at;
            if (!consumer.WaitFor(n, &at))
                continue; // counted as lost below
            ms.push_back(std::chrono::duration<double, std::milli>(at - t0).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(2)); // readings come one by one
        }
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms.empty() ? -1 : ms[ms.size() / 2];
    state.counters["p99_ms"] = ms.empty() ? -1 : ms[ms.size() * 99 / 100];
    state.counters["max_ms"] = ms.empty() ? -1 : ms.back();
    state.counters["lost"] = double(1000 - int(ms.size()));
    state.counters["dropped"] = double(publisher.Dropped());
}
BENCHMARK(BM_Latency)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_OutageMemory(benchmark::State& state)
{
    const int qos = int(state.range(0));
    const int outageSec = int(state.range(1));
    Broker broker;
    MqttPublisher publisher(Options(broker.port, qos), {});
    publisher.SensorOnline("0123456789ab", "LV51", GasKind::Formaldehyde, true);
    if (!WaitUntil([&] { return publisher.Connected(); }, 10)) {
        state.SkipWithError("no connection to the broker");
        return;
    }
    int64_t timeMs = 1796716801000LL;
    for (int i = 0; i < 60; ++i) { // a minute of readings before: the publishing path is warm
        publisher.Publish(Reading(timeMs += 1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double before = ResidentMB();
    double after = 0, during = 0, reconnectSec = 0;
    for (auto _ : state) {
        broker.Stop();
        WaitUntil([&] { return !publisher.Connected(); }, 10);
        const auto start = Clock::now();
        for (int i = 0; i < 600; ++i) { // ten minutes of readings, one per simulated second
            publisher.Publish(Reading(timeMs += 1000));
            if (outageSec)
                std::this_thread::sleep_until(start + std::chrono::milliseconds(outageSec * 1000 * (i + 1) / 600));
        }
        during = ResidentMB();
        broker.Start();
        const auto back = Clock::now();
        WaitUntil([&] { return publisher.Connected(); }, 70);
        reconnectSec = std::chrono::duration<double>(Clock::now() - back).count();
        publisher.Publish(Reading(timeMs += 1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        after = ResidentMB();
    }
    state.counters["rss_before_MB"] = before;
    state.counters["rss_outage_end_MB"] = during;
    state.counters["rss_after_MB"] = after;
    state.counters["growth_MB"] = after - before;
    state.counters["dropped"] = double(publisher.Dropped());
    state.counters["reconnect_s"] = reconnectSec;
}
BENCHMARK(BM_OutageMemory)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 8})
    ->Args({1, 8})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
