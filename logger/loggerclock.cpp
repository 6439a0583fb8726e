#include "loggerclock.h"

#include <sys/timex.h>
#include <ctime>

namespace {
int64_t Ms(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class SystemClock : public LoggerClock {
public:
    int64_t MonotonicMs() const override { return Ms(CLOCK_BOOTTIME); }
    int64_t WallMs() const override { return Ms(CLOCK_REALTIME); }
    Sync State() const override
    {
        // modes 0 only reads; systemd-timesyncd, chrony and ntpd clear TIME_ERROR once they
        // have set the clock.
        timex t{};
        const int state = adjtimex(&t);
        if (state < 0)
            return Sync::Unknown;
        return state == TIME_ERROR ? Sync::NotSynchronised : Sync::Synchronised;
    }
};
} // namespace

LoggerClock& Logger_SystemClock()
{
    static SystemClock clock;
    return clock;
}
