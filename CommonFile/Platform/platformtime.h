#pragma once
// The operating system's millisecond sleep and wall clock.
// Every wait and every "now" of the program goes through these two functions, so that a test
// can replace them with a stepped clock: a 1005-packet history download or a 15-day run then
// takes seconds instead of hours, while the program still waits exactly as it would for real.
#include <QDateTime>
#include <cstdint>
#include <functional>

// Sleeps for ms milliseconds (or advances the replaced clock by that much).
void Platform_SleepMs(int ms);

// Milliseconds since 1970-01-01 00:00 UTC.
int64_t Platform_NowMs();

// The current local date and time, from Platform_NowMs.
QDateTime Platform_CurrentDateTime();

// Replacements for tests; an empty function restores the real one.
void Platform_SetSleep(std::function<void(int ms)> sleeper);
void Platform_SetNow(std::function<int64_t()> clock);
