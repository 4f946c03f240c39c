// Records the shell's waits instead of sleeping them, for as long as it lives.
#pragma once

#include <vector>

#include "shell_sleep.h"

namespace shelltest {

class SleepRecorder {
public:
    SleepRecorder() { previous_ = cli::set_sleep_hook(record); }
    ~SleepRecorder() { cli::set_sleep_hook(previous_); }
    SleepRecorder(const SleepRecorder &) = delete;
    SleepRecorder &operator=(const SleepRecorder &) = delete;

    // Microseconds of each wait, in order; cleared by the test when it likes.
    static std::vector<unsigned long> &waits()
    {
        static std::vector<unsigned long> w;
        return w;
    }

private:
    static void record(unsigned long us) { waits().push_back(us); }
    cli::SleepHook previous_;
};

}  // namespace shelltest
