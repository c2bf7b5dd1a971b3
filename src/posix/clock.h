// The monotonic clock the Linux backend times its waits by.
#pragma once

#include <time.h>

// Milliseconds on the monotonic clock.
inline long long now_ms() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}
