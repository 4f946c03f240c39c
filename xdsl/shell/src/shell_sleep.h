// Every wait of the shell goes through here: the board sleeps as written,
// tests may put a hook in its place to see or shorten the waits.
#pragma once

namespace cli {

using SleepHook = void (*)(unsigned long microseconds);

void sleep_us(unsigned long microseconds);
// Installs hook (nullptr: real sleeps again); returns the previous one.
SleepHook set_sleep_hook(SleepHook hook);

}  // namespace cli
