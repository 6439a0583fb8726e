#include "platformtime.h"

#include <chrono>
#include <thread>

namespace {
std::function<void(int)>& Sleeper()
{
    static std::function<void(int)> fn;
    return fn;
}
std::function<int64_t()>& Clock()
{
    static std::function<int64_t()> fn;
    return fn;
}
} // namespace

void Platform_SleepMs(int ms)
{
    if (Sleeper()) {
        Sleeper()(ms);
        return;
    }
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t Platform_NowMs()
{
    if (Clock())
        return Clock()();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

QDateTime Platform_CurrentDateTime()
{
    return QDateTime::fromMSecsSinceEpoch(Platform_NowMs());
}

void Platform_SetSleep(std::function<void(int)> sleeper)
{
    Sleeper() = std::move(sleeper);
}

void Platform_SetNow(std::function<int64_t()> clock)
{
    Clock() = std::move(clock);
}
