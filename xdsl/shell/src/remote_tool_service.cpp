// The remote tool's service: a listener on TCP 5001 and one connection
// process at a time (the newest wins), serving framed requests.
#include "remote_tool.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli_command.h"
#include "cli_print.h"
#include "lifecycle_hooks.h"
#include "signals.h"
#include "vdsl_request.h"

namespace {

constexpr uint32_t kDebugLevel = CLI_LEVEL_TERMINAL;
constexpr size_t kPathMax = 4096;

enum class Io { Ok, Closed, Failed };

// Every read is whole: a frame split over several segments is still one frame.
Io recv_whole(int fd, void *buffer, size_t size)
{
    auto *p = static_cast<unsigned char *>(buffer);
    size_t got = 0;
    while (got < size) {
        ssize_t n = recv(fd, p + got, size - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            cli_print(CLI_LEVEL_ORDINARY, "Client closed connection\n\n");
            return Io::Closed;
        }
        cli_print(CLI_LEVEL_ORDINARY, "recv() failed: Error \"%s\"\n", std::strerror(errno));
        return Io::Failed;
    }
    return Io::Ok;
}

bool send_whole(int fd, const void *data, size_t size)
{
    const auto *p = static_cast<const unsigned char *>(data);
    while (size > 0) {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            cli_print(CLI_LEVEL_ORDINARY, "send() failed: Error \"%s\"\n", std::strerror(errno));
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool reply2(int fd, unsigned char a, unsigned char b)
{
    const unsigned char r[2] = {a, b};
    return send_whole(fd, r, sizeof r);
}

uint32_t addr24(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

// Texts of a payload end at their zero byte or at the last received byte:
// the buffer holds one zero beyond every payload.
struct Request {
    unsigned char bytes[RT_MAX_PAYLOAD + 1];
    size_t length;
    const char *text(size_t at) const
    {
        return at < length ? reinterpret_cast<const char *>(bytes + at) : "";
    }
};

bool read_word(int fd, const Request &r)
{
    unsigned char reply[4] = {0xFF, r.bytes[1], r.bytes[2], r.bytes[3]};
    int mem = rt_memory_type(r.bytes[5]);
    unsigned char word[3];
    if (mem >= 0 && dsp_mem_read_word(r.bytes[1] - 1, addr24(r.bytes + 2), mem, word) == 0) {
        reply[0] = 0x00;
        std::memcpy(reply + 1, word, 3);
    }
    return send_whole(fd, reply, sizeof reply);
}

bool write_word(int fd, const Request &r)
{
    int mem = rt_memory_type(r.bytes[8]);
    bool ok = mem >= 0 && dsp_mem_write_word(r.bytes[1] - 1, addr24(r.bytes + 2), mem, r.bytes + 5) == 0;
    return reply2(fd, ok ? 0x00 : 0xFF, r.bytes[1]);
}

bool read_mib(int fd, const Request &r)
{
    static unsigned char answer[VDSL_BLOCK_SIZE];
    static unsigned char reply[RT_MAX_PAYLOAD];
    std::memset(answer, 0, sizeof answer);
    int rc = mib_get_logic(r.bytes[1] - 1, r.text(2), answer);
    if (rc == 0) {
        cli_print(kDebugLevel, "=================\nMIB value: %s\n=================\n",
                  reinterpret_cast<const char *>(answer + VDSL_ANSWER_TEXT));
        cli_print(kDebugLevel, "in debug_enable: GetMIBData==DSL_ERR_OK\n\n");
    } else {
        cli_print(kDebugLevel, "in debug_enable: GetMIBData!=DSL_ERR_OK\n\n");
    }
    size_t n = rt_mib_read_reply(rc, answer, sizeof answer, r.bytes[3], reply);
    return send_whole(fd, reply, n);
}

bool write_mib(int fd, const Request &r)
{
    const char *oid = r.text(2);
    size_t value_at = 2 + std::strlen(oid) + 1;
    int rc = mib_set_logic(r.bytes[1] - 1, oid, r.text(value_at));
    cli_print(kDebugLevel, rc == 0 ? "in debug_enable: SetMIBData==DSL_ERR_OK\n\n"
                                   : "in debug_enable: SetMIBData!=DSL_ERR_OK\n\n");
    return reply2(fd, rt_status_byte(rc, 0x00), r.bytes[1]);
}

bool run_command(int fd, const Request &r)
{
    std::string line = r.text(1);
    int rc = 0;
    if (line != "null") {
        if (chdir("/") != 0)
            cli_print(CLI_LEVEL_ORDINARY, "chdir(/) failed: %s", std::strerror(errno));
        char buffer[CLI_LINE_SIZE];
        std::snprintf(buffer, sizeof buffer, "%s", line.c_str());
        rc = execute_command_line(buffer);
    }
    return reply2(fd, rc == 0 ? 0x00 : 0xFF, r.bytes[1]);
}

bool check_header(int fd, const Request &r)
{
    // Only port 1 is served; the port rule prints and refuses the others.
    unsigned char block[VDSL_BLOCK_HEAD] = {0};
    int rc = vdsl_port_request(r.bytes[1] - 1, VDSL_CHECK_BINDRV, block, sizeof block);
    return reply2(fd, rt_status_byte(rc, 0x01), r.bytes[1]);
}

// File transfer to the tool; false when the connection is lost.
bool send_file(int fd, const Request &r)
{
    char path[kPathMax];
    int file = rt_first_word(r.text(1), r.length > 1 ? r.length - 1 : 0, path, sizeof path) == 0
                   ? open(path, O_RDONLY | O_CLOEXEC)
                   : -1;
    if (file < 0)
        return reply2(fd, 0xFF, 0xFF);
    if (!reply2(fd, 0x00, 0xFF)) {
        close(file);
        return false;
    }
    unsigned char ack[2] = {0x00, 0xFF};
    bool alive = true;
    for (;;) {
        unsigned char frame[RT_FILE_FRAME] = {0};
        size_t count = 0;
        while (count < RT_FILE_DATA) {
            ssize_t n = read(file, frame + 1 + count, RT_FILE_DATA - count);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            count += static_cast<size_t>(n);
        }
        frame[0] = static_cast<unsigned char>(count);
        if (!send_whole(fd, frame, sizeof frame)) {
            alive = false;
            break;
        }
        if (recv_whole(fd, ack, sizeof ack) != Io::Ok) {
            alive = false;
            break;
        }
        if (ack[0] != 0x00 || ack[1] != 0xFF || count < RT_FILE_DATA)
            break;
    }
    close(file);
    return alive && reply2(fd, 0x00, ack[1]);
}

// File transfer from the tool; false when the connection is lost.
bool receive_file(int fd, const Request &r)
{
    char path[kPathMax];
    int file = rt_first_word(r.text(1), r.length > 1 ? r.length - 1 : 0, path, sizeof path) == 0
                   ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                   : -1;
    if (file < 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Can't open file \"%s\"\n", r.text(1));
        return true;
    }
    bool alive = true;
    for (;;) {
        unsigned char frame[RT_FILE_FRAME];
        if (recv_whole(fd, frame, sizeof frame) != Io::Ok) {
            alive = false;
            break;
        }
        // A count over 127 is no frame of this protocol: the transfer ends.
        int count = rt_file_frame_count(frame);
        if (count < 0)
            break;
        if (count > 0 && write(file, frame + 1, static_cast<size_t>(count)) != count)
            cli_print(CLI_LEVEL_ORDINARY, "write() failed: Error \"%s\"", std::strerror(errno));
        if (!reply2(fd, 0x00, 0xFF)) {
            alive = false;
            break;
        }
        if (count < RT_FILE_DATA)
            break;
    }
    close(file);
    unsigned char trailer[2];
    return alive && recv_whole(fd, trailer, sizeof trailer) == Io::Ok;
}

bool dispatch(int fd, const Request &r)
{
    switch (r.bytes[0]) {
    case RT_OP_READ_WORD:
        return read_word(fd, r);
    case RT_OP_WRITE_WORD:
        return write_word(fd, r);
    case RT_OP_READ_MIB:
        return read_mib(fd, r);
    case RT_OP_WRITE_MIB:
        return write_mib(fd, r);
    case RT_OP_COMMAND:
        return run_command(fd, r);
    case RT_OP_SEND_FILE:
        return send_file(fd, r);
    case RT_OP_RECEIVE_FILE:
        return receive_file(fd, r);
    case RT_OP_CHECK_HEADER:
        return check_header(fd, r);
    default:
        cli_print(CLI_LEVEL_ORDINARY, "debug_enable: No such command.\n\n");
        return true;
    }
}

// Reaps every ended connection process; true while child has not been
// reaped, so it is still our own and a SIGKILL reaches no stranger.
bool child_running(pid_t child)
{
    bool gone = false;
    int status;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0)
        gone = gone || pid == child;
    return child > 0 && !gone;
}

}  // namespace

extern "C" int rt_serve_connection(int fd)
{
    static Request r;
    for (;;) {
        unsigned char head[2];
        if (recv_whole(fd, head, sizeof head) != Io::Ok)
            return 0;
        r.length = rt_payload_length(head);
        // An empty payload carries no opcode: nothing to answer.
        if (r.length == 0)
            continue;
        std::memset(r.bytes, 0, sizeof r.bytes);
        if (recv_whole(fd, r.bytes, r.length) != Io::Ok)
            return 0;
        if (r.bytes[0] == RT_OP_END) {
            reply2(fd, 0x00, r.bytes[1]);
            return 1;
        }
        if (!dispatch(fd, r))
            return 0;
    }
}

extern "C" int run_remote_tool_service(void)
{
    // Ended connection processes are reaped here rather than ignored, so the
    // pid kept for the next SIGKILL never names a stranger.
    std::signal(SIGCHLD, SIG_DFL);
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        cli_print(CLI_LEVEL_ORDINARY, "socket() failed: Error \"%s\"\n", std::strerror(errno));
        return -1;
    }
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(RT_SERVICE_PORT);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "bind() failed: Error \"%s\"\n", std::strerror(errno));
        close(listener);
        return -1;
    }
    if (listen(listener, 5) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "listen() failed: Error \"%s\"\n", std::strerror(errno));
        close(listener);
        return -1;
    }
    linger lg{1, 0};
    setsockopt(listener, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    cli_print(CLI_LEVEL_ORDINARY, "debug_enable:Server is listening\n");
    cli_print(CLI_LEVEL_ORDINARY, "Listening on port %d\n", RT_SERVICE_PORT);

    pid_t child = -1;
    for (;;) {
        sockaddr_in peer{};
        socklen_t peer_len = sizeof peer;
        int fd = accept4(listener, reinterpret_cast<sockaddr *>(&peer), &peer_len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            cli_print(CLI_LEVEL_ORDINARY, "accept() error: Error \"%s\"\n", std::strerror(errno));
            close(listener);
            return -1;
        }
        if (child_running(child)) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        child = -1;
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid < 0) {
            cli_print(CLI_LEVEL_ORDINARY, "fork() failed!!");
            close(fd);
            continue;
        }
        if (pid == 0) {
            close(listener);
            char ip[INET_ADDRSTRLEN] = "?";
            inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
            cli_print(CLI_LEVEL_ORDINARY, "accepted connection from %s, port %d\n", ip, ntohs(peer.sin_port));
            int ended = rt_serve_connection(fd);
            close(fd);
            if (!ended)
                cli::save_profiles_and_free();
            std::fflush(stdout);
            _exit(0);
        }
        child = pid;
        close(fd);
    }
}
