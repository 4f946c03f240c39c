#include "shell_sleep.h"

#include <cerrno>
#include <ctime>

namespace cli {

namespace {
SleepHook hook = nullptr;
}

void sleep_us(unsigned long microseconds)
{
    if (hook) {
        hook(microseconds);
        return;
    }
    timespec left{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

SleepHook set_sleep_hook(SleepHook next)
{
    SleepHook old = hook;
    hook = next;
    return old;
}

}  // namespace cli
