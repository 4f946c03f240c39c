// A child for the service and process tests: what it got and how it dies.
//   child argv FILE WORD...      writes each word and a zero byte to FILE, waits
//   child daemon PIDFILE [MS]    writes its pid after MS, runs until SIGTERM
//   child stubborn PIDFILE       ignores SIGTERM
//   child hup PIDFILE LOG        notes "reload" per SIGHUP and "term" at SIGTERM
//   child print CODE WORD...     prints the words and exits with CODE
//   child urg PIDFILE            exits with 42 at SIGURG
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
volatile sig_atomic_t g_hups = 0, g_term = 0;
void OnHup(int) { ++g_hups; }
void OnTerm(int) { g_term = 1; }

void WritePid(const char *path)
{
    std::string tmp = std::string(path) + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f)
        std::exit(3);
    std::fprintf(f, "%d\n", static_cast<int>(getpid()));
    std::fclose(f);
    std::rename(tmp.c_str(), path);
}

void Note(const char *path, const char *what)
{
    FILE *f = std::fopen(path, "a");
    if (!f)
        return;
    std::fprintf(f, "%s\n", what);
    std::fclose(f);
}
}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const std::string mode = argv[1];
    if (mode == "argv" && argc >= 3) {
        FILE *f = std::fopen(argv[2], "w");
        if (!f)
            return 3;
        for (int i = 3; i < argc; ++i)
            std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, f);
        std::fclose(f);
        signal(SIGTERM, OnTerm);
        while (!g_term)
            pause();
        return 0;
    }
    if (mode == "daemon" && argc >= 3) {
        signal(SIGTERM, OnTerm);
        if (argc >= 4)
            usleep(static_cast<useconds_t>(std::atoi(argv[3])) * 1000);
        WritePid(argv[2]);
        while (!g_term)
            pause();
        return 0;
    }
    if (mode == "stubborn" && argc >= 3) {
        signal(SIGTERM, SIG_IGN);
        WritePid(argv[2]);
        for (;;)
            pause();
    }
    if (mode == "hup" && argc >= 4) {
        struct sigaction sa {};
        sa.sa_handler = OnHup;
        sigaction(SIGHUP, &sa, nullptr);
        sa.sa_handler = OnTerm;
        sigaction(SIGTERM, &sa, nullptr);
        WritePid(argv[2]);
        int seen = 0;
        while (!g_term) {
            pause();
            while (seen < g_hups) {
                Note(argv[3], "reload");
                ++seen;
            }
        }
        Note(argv[3], "term");
        return 0;
    }
    if (mode == "urg" && argc >= 3) {
        signal(SIGURG, [](int) { _exit(42); });
        WritePid(argv[2]);
        for (;;)
            pause();
    }
    if (mode == "print" && argc >= 3) {
        for (int i = 3; i < argc; ++i)
            std::printf("%s\n", argv[i]);
        return std::atoi(argv[2]);
    }
    return 2;
}
