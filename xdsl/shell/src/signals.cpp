#include "signals.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "cli_command.h"
#include "lifecycle_hooks.h"
#include "terminal.h"

namespace {

volatile sig_atomic_t recorded = 0;

const char *signal_name(int signal_number)
{
    return signal_number == SIGINT ? "SIGINT" : signal_number == SIGBUS ? "SIGBUS" : "?";
}

void write_text(const char *text)
{
    ssize_t ignored = write(STDOUT_FILENO, text, std::strlen(text));
    (void)ignored;
}

// Saving and freeing the profile store here could deadlock in the allocator
// or leave the store half written, so the handler only records the signal.
// A bus error raised by the hardware cannot be returned from (the faulting
// access would repeat), so that one ends the process at once with the
// terminal restored; its memory is not trusted enough to be saved.
extern "C" void on_signal(int signal_number, siginfo_t *info, void *)
{
    if (signal_number == SIGBUS && info && info->si_code > 0) {
        char number[12];
        int n = 0;
        for (int v = signal_number; v > 0 && n < 11; v /= 10)
            number[n++] = static_cast<char>('0' + v % 10);
        char text[48] = "Catch signal #";
        size_t at = std::strlen(text);
        while (n > 0)
            text[at++] = number[--n];
        text[at] = '\0';
        write_text(text);
        write_text(": SIGBUS\n");
        cli::restore_stdin_now();
        _exit(0);
    }
    recorded = signal_number;
}

}  // namespace

namespace cli {

void install_signal_handlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = on_signal;
    action.sa_flags = SA_SIGINFO;  // no SA_RESTART: a blocked read returns
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGBUS, &action, nullptr) < 0)
        std::fputs("can't catch signal SIGBUS\n", stderr);
    if (sigaction(SIGINT, &action, nullptr) < 0)
        std::fputs("can't catch signal SIGINT\n", stderr);
}

int pending_signal() { return recorded; }

void save_profiles_and_free()
{
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGBUS);
    sigprocmask(SIG_BLOCK, &block, &old);
    profiles_save_all();
    free_vdsl_profiles_fun();
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void finish_on_signal(int signal_number)
{
    std::fflush(stdout);
    std::printf("Catch signal #%d: %s\n", signal_number, signal_name(signal_number));
    std::fflush(stdout);
    save_profiles_and_free();
    if (cli_interactive)
        restore_stdin();
    std::exit(signal_number == SIGINT ? 2 : 0);
}

}  // namespace cli
