#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "zmo.h"

namespace {
// A tiny core: answers HELLO and AUTH, and streams two events to EVENTS.
struct FakeCore : ::testing::Test {
    std::string path;
    int listener = -1;
    std::thread server;
    std::atomic<bool> stop{false};
    bool two_at_once = false;  // both events in one write
    int slow_auths = 0;        // the first so many AUTH answers come 400 ms late

    void SetUp() override
    {
        path = "/tmp/zmo-core-test-" + std::to_string(getpid()) + ".sock";
        unlink(path.c_str());
        listener = socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path.c_str());
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        ASSERT_EQ(listen(listener, 4), 0);
        setenv("ZMO_CORE_SOCKET", path.c_str(), 1);
        server = std::thread([this] { serve(); });
    }
    void TearDown() override
    {
        stop = true;
        shutdown(listener, SHUT_RDWR);
        server.join();
        close(listener);
        unlink(path.c_str());
        unsetenv("ZMO_CORE_SOCKET");
    }

    static bool line(int fd, std::string *out)
    {
        out->clear();
        char c;
        while (recv(fd, &c, 1, 0) == 1) {
            if (c == '\n')
                return true;
            out->push_back(c);
        }
        return false;
    }
    static void put(int fd, const std::string &s) { send(fd, s.data(), s.size(), MSG_NOSIGNAL); }

    void serve()
    {
        while (!stop) {
            int fd = accept(listener, nullptr, nullptr);
            if (fd < 0)
                return;
            std::string req;
            while (line(fd, &req)) {
                if (req.rfind("HELLO ", 0) == 0)
                    put(fd, "OK\n");
                else if (req.rfind("AUTH ", 0) == 0 && slow_auths > 0 && slow_auths--) {
                    usleep(400000);
                    put(fd, req == "AUTH cli admin p%20w%25" ? "OK granted\n" : "OK denied\n");
                } else if (req == "AUTH cli admin p%20w%25")
                    put(fd, "OK granted\n");
                else if (req.rfind("AUTH ", 0) == 0)
                    put(fd, "OK denied\n");
                else if (req == "EVENTS") {
                    put(fd, "OK\n");
                    std::string xml = "<event><name>ConfigurationSaved</name></event>";
                    std::string ev = "EVENT config " + std::to_string(xml.size()) + "\n" + xml;
                    if (two_at_once) {
                        put(fd, ev + ev);
                        continue;
                    }
                    // The first event arrives in two pieces.
                    put(fd, ev.substr(0, 10));
                    usleep(20000);
                    put(fd, ev.substr(10) + "EVENT bad 5\n<a><b");
                } else
                    put(fd, "ERR unknown\n");
            }
            close(fd);
        }
    }
};

TEST_F(FakeCore, AuthenticateSendsEscapedWords)
{
    zmo_core_t *core = zmo_core_open("cloud:ci", 200, 0x10000);
    ASSERT_NE(core, nullptr);
    int granted = -1;
    ASSERT_TRUE(zmo_core_authenticate(core, "admin", "p w%", "cli", &granted));
    EXPECT_EQ(granted, 1);
    ASSERT_TRUE(zmo_core_authenticate(core, "admin", "wrong", "cli", &granted));
    EXPECT_EQ(granted, 0);
    zmo_core_close(core);
}

// A late answer must not become the answer to the next request.
TEST_F(FakeCore, ALateGrantIsNotTheNextVerdict)
{
    slow_auths = 1;
    zmo_core_t *core = zmo_core_open("cloud:ci", 200, 0x10000);
    ASSERT_NE(core, nullptr);
    int granted = -1;
    EXPECT_EQ(zmo_core_authenticate(core, "admin", "p w%", "cli", &granted), 0);
    // The core is busy with the late answer for a while; then a new
    // connection carries the next request.
    int sent = 0;
    for (int i = 0; i < 20 && !sent; ++i) {
        sent = zmo_core_authenticate(core, "admin", "wrong", "cli", &granted);
        if (!sent)
            usleep(100000);
    }
    ASSERT_EQ(sent, 1);
    EXPECT_EQ(granted, 0);
    ASSERT_TRUE(zmo_core_authenticate(core, "admin", "p w%", "cli", &granted));
    EXPECT_EQ(granted, 1);
    zmo_core_close(core);
}

TEST_F(FakeCore, EventsArriveWholeAndBadOnesAreDropped)
{
    zmo_core_event_connection_t *conn = zmo_core_event_connection_open(15000);
    ASSERT_NE(conn, nullptr);
    int fd = zmo_core_event_connection_fd(conn);
    zmo_core_event_t *ev = nullptr;
    for (int i = 0; i < 100 && !ev; ++i) {
        struct pollfd p = {fd, POLLIN, 0};
        poll(&p, 1, 100);
        ev = zmo_core_event_connection_get(conn);
        if (!ev) {
            EXPECT_EQ(errno, EAGAIN);
        }
    }
    ASSERT_NE(ev, nullptr);
    EXPECT_STREQ(zmo_core_event_type(ev), "config");
    EXPECT_STREQ(zmo_xml_node_value(zmo_xml_node_first_child(zmo_core_event_root(ev), "name")),
                 "ConfigurationSaved");
    zmo_core_event_free(ev);
    errno = 0;
    EXPECT_EQ(zmo_core_event_connection_get(conn), nullptr);
    EXPECT_EQ(errno, EBADMSG);
    EXPECT_EQ(zmo_core_event_connection_get(conn), nullptr);  // idle
    zmo_core_event_connection_close(conn);
}

// The caller polls the descriptor and takes one event per wake-up: a second
// event that came in the same read must still wake it.
TEST_F(FakeCore, EventsInOneReadEachWakeThePoller)
{
    two_at_once = true;
    // Closed on every path, or the fake core would wait on it for ever.
    std::unique_ptr<zmo_core_event_connection_t, void (*)(zmo_core_event_connection_t *)> conn(
        zmo_core_event_connection_open(15000), zmo_core_event_connection_close);
    ASSERT_NE(conn, nullptr);
    struct pollfd p = {zmo_core_event_connection_fd(conn.get()), POLLIN, 0};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(poll(&p, 1, 2000), 1) << "event " << i << " never announced";
        zmo_core_event_t *ev = nullptr;
        // The write may arrive in pieces; the descriptor is readable until it is whole.
        for (int tries = 0; tries < 100 && !ev; ++tries) {
            ev = zmo_core_event_connection_get(conn.get());
            if (!ev) {
                ASSERT_EQ(errno, EAGAIN);
                poll(&p, 1, 100);
            }
        }
        ASSERT_NE(ev, nullptr);
        EXPECT_STREQ(zmo_core_event_type(ev), "config");
        zmo_core_event_free(ev);
    }
    EXPECT_EQ(poll(&p, 1, 50), 0);
}

TEST(Core, OpenFailsWithoutACore)
{
    setenv("ZMO_CORE_SOCKET", "/tmp/zmo-core-test-nobody-listens.sock", 1);
    errno = 0;
    EXPECT_EQ(zmo_core_open("x", 200, 0), nullptr);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(zmo_core_event_connection_open(200), nullptr);
    unsetenv("ZMO_CORE_SOCKET");
}
}  // namespace
