// Standard input's terminal settings: raw mode for the line editor and
// their restoration.
#pragma once

extern "C" void restore_stdin(void);

namespace cli {

// Saves the settings and applies the raw working copy (interactive set-up
// steps 2 to 4); failures print their message and are otherwise ignored.
void enter_raw_mode();

// The terminal's erase and kill characters, or -1 when there are none.
int erase_char();
int kill_char();

// Async-signal-safe restore for a fatal signal.
void restore_stdin_now();

}  // namespace cli
