#include "simlauncher.h"

#include "simsentlog.h"
#include "simtestbed.h"
#include "simusbbus.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

namespace {

volatile sig_atomic_t g_Child = 0;

void Forward(int sig)
{
    if (g_Child > 0)
        kill(pid_t(g_Child), sig);
}

void WriteLog(const std::string& path, const std::vector<SimRequest>& requests)
{
    std::ofstream f(path);
    for (const SimRequest& r : requests) {
        char line[80];
        int n = std::snprintf(line, sizeof(line), "%lld", static_cast<long long>(r.timeMs));
        for (int i = 1; i < kSimMessageLen && n < int(sizeof(line)) - 4; ++i)
            n += std::snprintf(line + n, sizeof(line) - size_t(n), " %02x", r.frame[size_t(i)]);
        f << line << (r.valid ? "" : " bad") << "\n";
    }
}

pid_t Start(const std::vector<std::string>& command)
{
    // The child finds the testbed through $UMOCKDEV_DIR, which the testbed set for us. Everything
    // is prepared before fork: other threads run here, so the child only calls exec.
    std::string preload = "LD_PRELOAD=libumockdev-preload.so.0";
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "LD_PRELOAD=", 11) == 0) {
            // The launcher itself normally runs with the library preloaded already.
            const char* list = *e + 11;
            if (std::strstr(list, "libumockdev-preload.so"))
                preload = *e;
            else if (*list != '\0')
                preload += std::string(":") + list;
        } else {
            env.push_back(*e);
        }
    }
    env.push_back(preload);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const std::string& a : command)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    static const char failed[] = "vostral-sensor-sim: cannot run the program\n";

    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    execvpe(argv[0], argv.data(), envp.data());
    if (write(STDERR_FILENO, failed, sizeof(failed) - 1) < 0) {
        // nothing more to do
    }
    _exit(127);
}

} // namespace

int SimRunLauncher(const SimLaunchOptions& options)
{
    // Shared with the front ends' threads, which may deliver a last frame while they stop.
    auto sentLog = std::make_shared<SimSentLog>();
    std::string error;
    if (!options.sentLogPath.empty() && !sentLog->Open(options.sentLogPath, &error)) {
        std::fprintf(stderr, "vostral-sensor-sim: %s\n", error.c_str());
        return 1;
    }
    std::shared_ptr<SimTestbed> testbed = SimTestbed::Acquire();
    std::unique_ptr<SimUsbBus> bus;
    std::unique_ptr<SimSerialBridge> bridge;
    SimUsbDevice* usbDevice = nullptr;
    SensorModel* model = nullptr;
    if (options.link == SimLaunchOptions::Link::Usb) {
        bus = std::make_unique<SimUsbBus>();
        usbDevice = bus->AddSensor(options.sensor, options.usb);
        if (!usbDevice) {
            std::fprintf(stderr, "vostral-sensor-sim: %s\n", bus->LastError().c_str());
            return 1;
        }
        model = usbDevice->Model();
    } else if (options.link == SimLaunchOptions::Link::Serial) {
        bridge = std::make_unique<SimSerialBridge>(options.sensor, options.serial);
        if (!bridge->IsValid()) {
            std::fprintf(stderr, "vostral-sensor-sim: %s\n", bridge->LastError().c_str());
            return 1;
        }
        model = bridge->Model();
        if (options.loseBytes > 0)
            bridge->LoseBytes(options.loseBytes);
    }
    if (model) {
        if (options.dropAnswers > 0)
            model->DropAnswers(options.dropAnswers);
        if (options.corruptFrames > 0)
            model->CorruptFrames(options.corruptFrames);
        if (!options.sentLogPath.empty())
            model->SetDeliveryObserver([sentLog](const SimDelivery& d) { sentLog->Note(d); });
    }

    struct sigaction sa {};
    sa.sa_handler = &Forward;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);

    const pid_t child = Start(options.command);
    if (child < 0) {
        std::perror("vostral-sensor-sim: fork");
        return 127;
    }
    g_Child = child;

    // No main loop is needed here: umockdev answers the child on its own worker thread and the
    // serial bridge has its own. This loop only waits and fires the timed faults.
    const auto start = std::chrono::steady_clock::now();
    bool silenced = false;
    bool unplugged = false;
    size_t replug = 0;     // the next of options.replugAfterMs
    bool pulled = false;   // ... and it has been pulled, not yet plugged in again
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child || (r < 0 && errno != EINTR))
            break;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start).count();
        if (model && !silenced && options.silentAfterMs >= 0 && elapsed >= options.silentAfterMs) {
            model->SetSilent(true);
            silenced = true;
        }
        if (model && !unplugged && options.unplugAfterMs >= 0 && elapsed >= options.unplugAfterMs) {
            if (usbDevice)
                bus->Remove(usbDevice);
            if (bridge)
                bridge->Unplug();
            unplugged = true;
        }
        const bool replugDue = model && !unplugged && replug < options.replugAfterMs.size();
        if (replugDue && !pulled && elapsed >= options.replugAfterMs[replug]) {
            // A pulled bridge hangs its port up, as a real one does.
            if (usbDevice)
                bus->Remove(usbDevice);
            if (bridge)
                bridge->UnplugAndHangUp();
            pulled = true;
        } else if (replugDue && pulled
                   && elapsed >= options.replugAfterMs[replug] + int64_t(options.replugDelayMs)) {
            const bool ok = usbDevice ? bus->Replug(usbDevice) : bridge->Replug();
            if (!ok)
                std::fprintf(stderr, "vostral-sensor-sim: cannot plug the sensor in again: %s\n",
                             usbDevice ? bus->LastError().c_str() : bridge->LastError().c_str());
            pulled = false;
            ++replug;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    g_Child = 0;
    if (model && !options.logPath.empty())
        WriteLog(options.logPath, model->Requests());
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}
