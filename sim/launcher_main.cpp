// vostral-sensor-sim: runs a program with a simulated air-quality sensor plugged in.
#include "simlauncher.h"

#include <cstdio>

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
    return SimRunLauncher(options);
}
