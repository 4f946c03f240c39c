// The pipe framework and its interfaces reached over TCP (ncacn_ip_tcp) by
// real DCE/RPC clients: each listening port serves one pipe name, each
// connection is a logged-on client with that pipe open, and the bytes of
// the connection are what the client writes to and reads from the pipe.
//
//   rpc_pipe_probe PORT:PIPE:admin|plain... [-- name;path;remark...]
//
// The shares after "--" are the hooks' configured shares. A write the pipe
// refuses closes the connection, as the SMB carrier would fail the write.
// SIGTERM ends it cleanly, so that the sanitizers' leak check runs.
#include "cmnetbios.h"
#include "cmsd.h"
#include "cmstring.h"
#include "csauth.h"
#include "csdb.h"
#include "csdcerpc.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csshares.h"
#include "syfiles.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <list>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t gStop;

struct Listener {
    int fd;
    std::string pipe;
    bool admin;
};

struct Connection {
    int fd;
    uint32_t address = 0x0100007F;
    int token = 0;  // the connection's identity in the database
    CSFile *pipe = nullptr;
    uint16_t uid = 0;
};

uint8_t gBuffer[1 << 16];

int listenOn(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    return fd;
}

void serve(Connection &c)
{
    csDispatchSetSocket(&c.token);
    csDispatchSetSocketIp(&c.address);
    csDispatchSetNtError(1);
}

bool open(Connection &c, const Listener &l)
{
    serve(c);
    CSSession *s = csGetNewSession();
    CSUser *u = s ? csGetNewUser(s) : nullptr;
    if (!u)
        return false;
    s->dialect = CS_DIALECT_SMB311;
    cmAnsiToUnicode(u->name, l.admin ? "admin" : "plain");
    u->loggedOn = u->authenticated = 1;
    u->token.domain = *cmSdGetComputerSid();
    u->token.ridCount = 2;
    u->token.rids[0] = l.admin ? uint32_t(-1001) : 1002u;
    u->token.rids[1] = 513;
    CSTree *t = csGetNewTree(u);
    if (!t)
        return false;
    t->share = csGetShareByIndex(0);
    CMWchar path[32];
    cmAnsiToUnicodeN(path, ("\\" + l.pipe).c_str(), 31);
    CSName *n = csGetNameByName(path);
    if (!n)
        n = csGetNewName(path, u->uid);
    c.pipe = n ? csGetNewFile(t, n, 0) : nullptr;
    c.uid = u->uid;
    return c.pipe && csDcerpcOpenPipe(path + 1, c.pipe) == 1;
}

void close(Connection &c)
{
    serve(c);
    if (c.pipe && csGetFileByJustFid(c.pipe->fid) == c.pipe)
        csReleaseFile(c.pipe->fid);
    if (csGetUserByUid(c.uid))
        csReleaseUserAndDisconnect(c.uid, 0);
    ::close(c.fd);
}

bool sendAll(int fd, const uint8_t *p, size_t n)
{
    while (n) {
        ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

// One read of the connection: false when it is to be closed.
bool take(Connection &c)
{
    ssize_t n = recv(c.fd, gBuffer, sizeof gBuffer, 0);
    if (n <= 0)
        return false;
    serve(c);
    // Another client's call may have released this one (its session deleted).
    if (!c.pipe || csGetFileByJustFid(c.pipe->fid) != c.pipe) {
        c.pipe = nullptr;
        return false;
    }
    const uint32_t status = csDcerpcWrite(c.pipe, gBuffer, uint32_t(n), 0);
    if (status != 0 && status != CS_RPC_LATE) {
        std::fprintf(stderr, "probe: write refused 0x%08x\n", status);
        return false;
    }
    for (;;) {
        uint32_t got = csDcerpcRead(c.pipe, gBuffer, sizeof gBuffer, nullptr);
        if (got == 0)
            break;
        if (!sendAll(c.fd, gBuffer, got))
            return false;
    }
    // As the server does once a request is answered; the pipe may go with
    // it, and the client then sees the end.
    csDcerpcRunDeferredReleases();
    if (csGetFileByJustFid(c.pipe->fid) != c.pipe) {
        c.pipe = nullptr;
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<Listener> listeners;
    std::vector<std::string> shares;
    bool sharesFollow = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            sharesFollow = true;
            continue;
        }
        if (sharesFollow) {
            shares.push_back(a);
            continue;
        }
        size_t p1 = a.find(':'), p2 = a.rfind(':');
        if (p1 == std::string::npos || p2 == p1) {
            std::fprintf(stderr, "usage: %s PORT:PIPE:admin|plain... [-- name;path;remark...]\n", argv[0]);
            return 2;
        }
        listeners.push_back(Listener{listenOn(uint16_t(std::stoi(a.substr(0, p1)))),
                                     a.substr(p1 + 1, p2 - p1 - 1), a.substr(p2 + 1) == "admin"});
    }
    signal(SIGTERM, [](int) { gStop = 1; });
    signal(SIGINT, [](int) { gStop = 1; });
    if (udInit() != 0 || cmNetBiosInit() != 0 || syInit() != 1 || cmSdInit() != 0 || csAuthInit() != 1) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    {
        std::ofstream f(UD_CONFIG_DIR "cs_cfg.txt");
        for (const std::string &s : shares)
            f << s << "\n";
    }
    if (csInitDatabase(nullptr, nullptr) != 0 || csDcerpcInit() != 0) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::list<Connection> connections;
    while (!gStop) {
        std::vector<pollfd> fds;
        for (const Listener &l : listeners)
            fds.push_back(pollfd{l.fd, POLLIN, 0});
        for (const Connection &c : connections)
            fds.push_back(pollfd{c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR)
            break;
        size_t i = 0;
        for (const Listener &l : listeners) {
            if (fds[i++].revents & POLLIN) {
                int fd = accept(l.fd, nullptr, nullptr);
                if (fd < 0)
                    continue;
                connections.emplace_back();
                Connection &c = connections.back();
                c.fd = fd;
                if (!open(c, l)) {
                    std::fprintf(stderr, "probe: no room for a client\n");
                    close(c);
                    connections.pop_back();
                }
            }
        }
        auto it = connections.begin();
        for (size_t k = listeners.size(); k < fds.size(); ++k) {
            Connection &c = *it;
            if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) && !take(c)) {
                close(c);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Connection &c : connections)
        close(c);
    csCloseDatabase();
    csDcerpcStop();
    cmSdExit();
    syStop();
    cmNetBiosExit();
    udStop();
    std::printf("stopped\n");
    return 0;
}
