#include "terminal.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

struct termios saved;
bool have_saved = false;

int special(cc_t c) { return (!have_saved || c == _POSIX_VDISABLE) ? -1 : static_cast<int>(c); }

}  // namespace

extern "C" void restore_stdin(void)
{
    if (!have_saved)
        return;
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &saved) < 0)
        std::fputs("Error restoring stdin settings\n", stdout);
}

namespace cli {

void enter_raw_mode()
{
    if (tcgetattr(STDIN_FILENO, &saved) < 0) {
        std::fputs("Error getting stdin attr\n", stdout);
        return;
    }
    have_saved = true;
    struct termios raw = saved;
    // ISIG stays, so Ctrl-C still raises SIGINT.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) < 0)
        std::fputs("Error setting stdin\n", stdout);
}

int erase_char() { return special(saved.c_cc[VERASE]); }

int kill_char() { return special(saved.c_cc[VKILL]); }

void restore_stdin_now()
{
    if (have_saved)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

}  // namespace cli
