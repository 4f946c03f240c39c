// Configuration manager access: /bin/cfgmgr runs as its own process with an
// argument vector, so keys and values reach it as single arguments whatever
// characters they hold.
#include "cfgmgr_access.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cfgmgr_program.h"
#include "cli_print.h"

extern char **environ;

namespace {

const char *program = CFGMGR_PROGRAM;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

int wait_child(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts the program with the given arguments. With out_fd the child's
// standard output is a pipe whose read end is handed back.
pid_t spawn(const std::vector<std::string> &args, Fd *out_fd)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program));
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int fds[2] = {-1, -1};
    if (out_fd) {
        if (pipe2(fds, O_CLOEXEC) < 0) {
            posix_spawn_file_actions_destroy(&actions);
            return -1;
        }
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    }
    std::fflush(stdout);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (out_fd) {
        close(fds[1]);
        if (rc != 0)
            close(fds[0]);
        else
            out_fd->reset(fds[0]);
    }
    return rc == 0 ? pid : -1;
}

// Reads the child's whole output (so it never blocks on a full pipe) and
// hands each line to on_line; a line of more than limit characters (its
// newline not counted) is reported as such.
template <typename F> void read_lines(int fd, size_t limit, F on_line)
{
    std::string line;
    bool too_long = false;
    char chunk[512];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; i++) {
            char c = chunk[i];
            if (!too_long) {
                if (c != '\n' && line.size() >= limit)
                    too_long = true;
                else
                    line.push_back(c);
            }
            if (c == '\n') {
                on_line(line, too_long);
                line.clear();
                too_long = false;
            }
        }
    }
    if (!line.empty() || too_long)
        on_line(line, too_long);
}

bool refuse_key(const char *key)
{
    if (cfgmgr_key_is_valid(key))
        return false;
    cli_print(CLI_LEVEL_ERROR, "Configuration key \"%s\" refused: only letters, digits and '_'.",
              key ? key : "");
    return true;
}

// A C library whose posix_spawn forks (the board's, or a process under an
// emulator) can't report a failed exec to the caller: the child exits 127.
constexpr int kNotRun = 127;

int run_plain(const std::vector<std::string> &args)
{
    pid_t pid = spawn(args, nullptr);
    if (pid < 0)
        return -1;
    int status = wait_child(pid);
    return status == kNotRun ? -1 : status;
}

}  // namespace

namespace cli {

const char *set_cfgmgr_program(const char *path)
{
    const char *old = program;
    program = path ? path : CFGMGR_PROGRAM;
    return old;
}

}  // namespace cli

extern "C" int cfgmgr_key_is_valid(const char *key)
{
    if (!key || !*key)
        return 0;
    for (const char *p = key; *p; p++) {
        char c = *p;
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok)
            return 0;
    }
    return 1;
}

extern "C" enum cfgmgr_read_result cfgmgr_read(const char *key, char *buffer, size_t capacity)
{
    if (capacity == 0)
        return CFGMGR_READ_FAILED;
    buffer[0] = '\0';
    if (refuse_key(key))
        return CFGMGR_READ_FAILED;
    Fd out;
    pid_t pid = spawn({"-r", key}, &out);
    if (pid < 0)
        return CFGMGR_READ_FAILED;
    enum cfgmgr_read_result result = CFGMGR_READ_ABSENT;
    bool first = true;
    read_lines(out.get(), capacity - 1, [&](const std::string &line, bool too_long) {
        if (!first)
            return;
        first = false;
        if (too_long) {
            result = CFGMGR_READ_TOO_LONG;
            return;
        }
        // A value that fills the buffer leaves its newline out.
        size_t n = line.size() < capacity - 1 ? line.size() : capacity - 1;
        std::memcpy(buffer, line.data(), n);
        buffer[n] = '\0';
        result = CFGMGR_READ_OK;
    });
    out.reset();
    if (wait_child(pid) == kNotRun)
        return CFGMGR_READ_FAILED;
    return result;
}

extern "C" int cfgmgr_read_many(const char *const *keys, size_t count, size_t line_limit,
                                void (*on_line)(void *context, size_t index, const char *line), void *context)
{
    if (count == 0)
        return 0;
    std::string joined;
    for (size_t i = 0; i < count; i++) {
        if (refuse_key(keys[i]))
            return -1;
        if (i)
            joined += ',';
        joined += keys[i];
    }
    Fd out;
    pid_t pid = spawn({"-r", joined}, &out);
    if (pid < 0)
        return -1;
    size_t index = 0;
    read_lines(out.get(), line_limit, [&](const std::string &line, bool too_long) {
        std::string text = too_long ? std::string() : line;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (index < count)
            on_line(context, index, text.c_str());
        index++;
    });
    out.reset();
    if (wait_child(pid) == kNotRun)
        return -1;
    return static_cast<int>(index < count ? index : count);
}

extern "C" int cfgmgr_write(const char *key, const char *value)
{
    if (refuse_key(key))
        return -1;
    if (!value)
        value = "";
    if (std::strpbrk(value, "\r\n")) {
        cli_print(CLI_LEVEL_ERROR, "Value of %s refused: it holds a line break.", key);
        return -1;
    }
    return run_plain({"-w", std::string(key) + "=" + value});
}

extern "C" int cfgmgr_remove(const char *key)
{
    if (refuse_key(key))
        return -1;
    return run_plain({"-d", key});
}

extern "C" char *cfgmgr_value_trim(char *line)
{
    auto space = [](char c) { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; };
    size_t n = std::strlen(line);
    bool only_space = true;
    for (size_t i = 0; i < n; i++)
        only_space = only_space && space(line[i]);
    // An empty stored value reads as "\n", which callers tell apart from a
    // missing key: a line of white space only stays as it is.
    if (only_space)
        return line;
    while (n > 0 && (line[n - 1] == '?' || space(line[n - 1])))
        n--;
    line[n] = '\0';
    return line;
}
