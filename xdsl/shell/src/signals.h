// SIGINT and SIGBUS in the interactive modes and in silent mode: the handler only records the
// signal; the main path saves the profiles and ends the process.
#pragma once

namespace cli {

// Installs on_signal for SIGBUS and SIGINT (without SA_RESTART, so a
// blocking read returns); prints "can't catch signal ..." on failure.
void install_signal_handlers();

// The recorded signal, or 0.
int pending_signal();

// Ends the process for a recorded signal: message, profiles saved with the
// signals blocked, store freed, terminal restored (interactive modes);
// exit 2 (SIGINT) or 0.
[[noreturn]] void finish_on_signal(int signal_number);

// Saves the changed profiles and frees the store with SIGINT and SIGBUS
// blocked, so no signal lands while the store changes.
void save_profiles_and_free();

}  // namespace cli
