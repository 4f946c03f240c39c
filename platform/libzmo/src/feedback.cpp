// Feedback to the management core: run its script or replace its file.
#include "zmo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

extern char **environ;

namespace {
constexpr size_t kMaxEnvString = 128 * 1024;

// A control byte inside a field would let a value open a line of its own.
void clean(std::string *s)
{
    for (char &c : *s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            c = '_';
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
template <typename T>
bool one(std::string *out, const std::string &directive, const int *stars, int nstars, T value)
{
    const char *f = directive.c_str();
    auto print = [&](char *buf, size_t size) {
        switch (nstars) {
        case 0:
            return std::snprintf(buf, size, f, value);
        case 1:
            return std::snprintf(buf, size, f, stars[0], value);
        default:
            return std::snprintf(buf, size, f, stars[0], stars[1], value);
        }
    };
    int n = print(nullptr, 0);
    if (n < 0)
        return false;
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    print(buf.data(), buf.size());
    out->assign(buf.data(), static_cast<size_t>(n));
    return true;
}
#pragma GCC diagnostic pop

// Formats one conversion at a time so that each field's output can be
// cleaned while the format's own line ends stay.
bool format_text(std::string *out, const char *format, va_list ap)
{
    const bool whole = std::strcmp(format, "%s") == 0;
    const char *p = format;
    while (*p) {
        if (*p != '%') {
            out->push_back(*p++);
            continue;
        }
        const char *start = p++;
        if (*p == '%') {
            out->push_back('%');
            ++p;
            continue;
        }
        int stars[2] = {0, 0};
        int nstars = 0;
        while (*p && std::strchr("-+ #0'", *p))
            ++p;
        if (*p == '*') {
            stars[nstars++] = va_arg(ap, int);
            ++p;
        } else {
            while (std::isdigit(static_cast<unsigned char>(*p)))
                ++p;
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                stars[nstars++] = va_arg(ap, int);
                ++p;
            } else {
                while (std::isdigit(static_cast<unsigned char>(*p)))
                    ++p;
            }
        }
        char len[3] = {0, 0, 0};
        if (*p == 'h' || *p == 'l') {
            len[0] = *p++;
            if (*p == len[0])
                len[1] = *p++;
        } else if (*p && std::strchr("Ljzt", *p)) {
            len[0] = *p++;
        }
        const char conv = *p;
        if (!conv) {
            errno = EINVAL;
            return false;
        }
        ++p;
        const std::string directive(start, p);
        const std::string l(len);
        std::string piece;
        bool ok;
        switch (conv) {
        case 'd':
        case 'i':
            if (l == "l")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, long));
            else if (l == "ll")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, long long));
            else if (l == "j")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, intmax_t));
            else if (l == "z")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, ssize_t));
            else if (l == "t")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, ptrdiff_t));
            else
                ok = one(&piece, directive, stars, nstars, va_arg(ap, int));
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            if (l == "l")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, unsigned long));
            else if (l == "ll")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, unsigned long long));
            else if (l == "j")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, uintmax_t));
            else if (l == "z")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, size_t));
            else if (l == "t")
                ok = one(&piece, directive, stars, nstars, va_arg(ap, ptrdiff_t));
            else
                ok = one(&piece, directive, stars, nstars, va_arg(ap, unsigned));
            break;
        case 'c':
            ok = l == "l" ? one(&piece, directive, stars, nstars, va_arg(ap, wint_t))
                          : one(&piece, directive, stars, nstars, va_arg(ap, int));
            break;
        case 's':
            ok = l == "l" ? one(&piece, directive, stars, nstars, va_arg(ap, const wchar_t *))
                          : one(&piece, directive, stars, nstars, va_arg(ap, const char *));
            break;
        case 'p':
            ok = one(&piece, directive, stars, nstars, va_arg(ap, void *));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            ok = l == "L" ? one(&piece, directive, stars, nstars, va_arg(ap, long double))
                          : one(&piece, directive, stars, nstars, va_arg(ap, double));
            break;
        default:  // %n and unknown conversions are refused
            errno = EINVAL;
            return false;
        }
        if (!ok)
            return false;
        if (!whole)
            clean(&piece);
        out->append(piece);
    }
    return true;
}

// Keys that the dynamic loader or the script's shell act on before the
// script runs: a value reported from the network must never land in them.
bool steers_the_script(const std::string &key)
{
    static const char *const kNames[] = {
        "PATH",       "IFS",     "ENV",     "BASH_ENV",    "SHELLOPTS",   "BASHOPTS",    "PS4",    "CDPATH",
        "GCONV_PATH", "LOCPATH", "NLSPATH", "HOSTALIASES", "RES_OPTIONS", "LOCALDOMAIN", "TMPDIR", "TZDIR"};
    if (key.compare(0, 3, "LD_") == 0 || key.compare(0, 7, "MALLOC_") == 0 ||
        key.compare(0, 6, "GLIBC_") == 0)
        return true;
    for (const char *n : kNames)
        if (key == n)
            return true;
    return false;
}

bool valid_key(const std::string &key)
{
    if (key.empty() || std::isdigit(static_cast<unsigned char>(key[0])))
        return false;
    for (char c : key)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return !steers_the_script(key);
}

// The process environment plus each KEY=value line of the text.
std::vector<std::string> script_environment(const std::string &text)
{
    std::vector<std::string> added;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos)
            eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos || !valid_key(line.substr(0, eq)))
            continue;
        // The kernel refuses a longer string at exec; the script still reads it on stdin.
        if (line.size() >= kMaxEnvString)
            continue;
        std::string value = line.substr(eq + 1);
        clean(&value);
        added.push_back(line.substr(0, eq + 1) + value);
    }
    std::vector<std::string> env;
    for (char **e = environ; e && *e; ++e) {
        const char *eq = std::strchr(*e, '=');
        bool replaced = false;
        if (eq) {
            const size_t keylen = static_cast<size_t>(eq - *e) + 1;  // "KEY="
            for (const auto &a : added)
                replaced = replaced || a.compare(0, keylen, *e, keylen) == 0;
        }
        if (!replaced)
            env.emplace_back(*e);
    }
    env.insert(env.end(), added.begin(), added.end());
    return env;
}

bool is_executable(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, X_OK) == 0;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool run_script(const char *const *words, const std::string &text, int timeout_ms)
{
    std::vector<std::string> env = script_environment(text);
    std::vector<char *> envp;
    for (auto &e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<char *> argv;
    for (const char *const *w = words; *w; ++w)
        argv.push_back(const_cast<char *>(*w));
    argv.push_back(nullptr);

    // A socket rather than a pipe: MSG_NOSIGNAL spares us SIGPIPE when the
    // script does not read its input.
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return false;
    Fd ours(sv[0]), theirs(sv[1]);
    zmo_time_t deadline;
    zmo_time_get_monotonic_plus_msec(&deadline, timeout_ms);

    long max_fd = sysconf(_SC_OPEN_MAX);
    if (max_fd < 0 || max_fd > 65536)
        max_fd = 65536;

    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        // Own process group, so the time-out kills whatever the script started.
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        sigset_t all;
        sigemptyset(&all);
        sigprocmask(SIG_SETMASK, &all, nullptr);
        if (dup2(sv[1], 0) < 0)
            _exit(127);
            // The caller's sockets and files stay the caller's: a script that leaves
            // something running must not keep them open.
#ifdef SYS_close_range
        if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
            for (long fd = 3; fd < max_fd; ++fd)
                close(static_cast<int>(fd));
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);
    theirs.reset();
    fcntl(ours.get(), F_SETFL, fcntl(ours.get(), F_GETFL) | O_NONBLOCK);
    Fd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));

    size_t sent = 0;
    bool writing = true;
    if (text.empty()) {
        shutdown(ours.get(), SHUT_WR);
        writing = false;
    }
    int status = 0;
    for (;;) {
        pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid)
            break;
        if (w < 0 && errno != EINTR)
            return false;
        int64_t left = zmo_time_left_monotonic_msec(&deadline);
        if (left <= 0) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            errno = ETIMEDOUT;
            return false;
        }
        struct pollfd fds[2];
        nfds_t n = 0;
        if (pidfd.get() >= 0)
            fds[n++] = {pidfd.get(), POLLIN, 0};
        if (writing)
            fds[n++] = {ours.get(), POLLOUT, 0};
        int wait_ms = static_cast<int>(left < 1000 ? left : 1000);
        if (pidfd.get() < 0 && wait_ms > 10)
            wait_ms = 10;  // no pidfd: look again soon
        poll(fds, n, wait_ms);
        if (writing) {
            ssize_t k = send(ours.get(), text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (k > 0)
                sent += static_cast<size_t>(k);
            if (sent == text.size() || (k < 0 && errno != EAGAIN && errno != EINTR)) {
                shutdown(ours.get(), SHUT_WR);
                writing = false;
            }
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    errno = EIO;
    return false;
}

bool replace_file(const char *path, const std::string &text)
{
    std::string tmp = std::string(path) + ".XXXXXX";
    Fd fd(mkstemp(&tmp[0]));
    if (fd.get() < 0)
        return false;
    bool ok = fchmod(fd.get(), 0644) == 0;
    for (size_t off = 0; ok && off < text.size();) {
        ssize_t n = write(fd.get(), text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            off += static_cast<size_t>(n);
    }
    int err = errno;
    if (close(fd.release()) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp.c_str(), path) == 0)
        return true;
    if (ok)
        err = errno;
    unlink(tmp.c_str());
    errno = err;
    return false;
}
}  // namespace

extern "C" int zmo_feedback(int timeout_ms, int flags, const char *const *words, const char *format, ...)
{
    (void)flags;
    if (!words || !words[0] || !*words[0] || !format || timeout_ms < 0) {
        errno = EINVAL;
        return 0;
    }
    try {
        std::string text;
        va_list ap;
        va_start(ap, format);
        bool ok = format_text(&text, format, ap);
        va_end(ap);
        if (!ok)
            return 0;
        return is_executable(words[0]) ? run_script(words, text, timeout_ms) : replace_file(words[0], text);
    } catch (...) {
        errno = ENOMEM;
        return 0;
    }
}
