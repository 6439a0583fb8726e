// vostral-sensor-sim: runs a program with a simulated air-quality sensor plugged in.
#include "simlauncher.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {
const char kPreload[] = "libumockdev-preload.so.0";

// The launcher sends the uevents of a plug or unplug through libudev, which finds the emulated
// devices only with umockdev's preload library in this process too (without it, an unplug never
// reaches the program's hot-plug monitor). Starts the launcher again with the library preloaded
// once; a failed exec goes on without it.
void PreloadUmockdev(char** argv)
{
    const char* current = std::getenv("LD_PRELOAD");
    if (current && std::strstr(current, kPreload))
        return;
    std::string preload = kPreload;
    if (current && *current)
        preload += std::string(":") + current;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    execv("/proc/self/exe", argv);
}
}

int main(int argc, char** argv)
{
    SimLaunchOptions options;
    std::string error;
    if (!SimParseLaunchOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::fprintf(stderr, "vostral-sensor-sim: %s\n%s", error.c_str(), SimLaunchUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SimLaunchUsage().c_str(), stdout);
        return 0;
    }
    PreloadUmockdev(argv);
    return SimRunLauncher(options);
}
