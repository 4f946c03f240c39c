#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "agent.h"
#include "cloud.h"
#include "fake_scgi.h"

namespace {

TEST(MasterReply, Forms)
{
    struct Case {
        const char *reply;
        const char *address;  // null: refused
    } cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n10.0.0.1:5683", "10.0.0.1:5683"},
        {"HTTP/1.0 200 OK\r\n\r\n10.0.0.1", nullptr},
        {"HTTP/1.0 200 OK\r\n\r\n10.0.0.1:5683\r\n", nullptr},
        {"HTTP/1.0 200 OK\r\n\r\n", nullptr},
        {"HTTP/1.0 404 Not Found\r\n\r\n10.0.0.1:5683", nullptr},
        {"HTTP/1.0 200 OK\r\n\r\nmaster:5683", nullptr},
        {"HTTP/1.0 200 OK\r\n\r\n10.0.0.1:99999", nullptr},
        {"\r\n\r\n200 OK", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply);
        zmo_ip_sockaddr_t sa;
        int rc = master_reply_parse(c.reply, std::strlen(c.reply), &sa);
        EXPECT_EQ(rc == 0, c.address != nullptr);
        if (c.address) {
            char text[32];
            EXPECT_STREQ(address_format(&sa, text, sizeof text), c.address);
        }
    }
}

// A master on a loopback port that answers every connection with reply.
class FakeMaster {
public:
    std::string reply = "HTTP/1.0 200 OK\r\n\r\n10.1.2.3:5683";
    std::string request;
    int hold_ms = 0;  // keep the connection open this long after replying

    FakeMaster()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = std::to_string(ntohs(a.sin_port));
        listen(fd_, 4);
    }
    ~FakeMaster()
    {
        if (t_.joinable())
            t_.join();
        close(fd_);
    }
    void serve_once()
    {
        t_ = std::thread([this] {
            int c = accept(fd_, nullptr, nullptr);
            char buf[1024];
            ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n > 0)
                request.assign(buf, static_cast<size_t>(n));
            send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
            close(c);
        });
    }
    const std::string &port() const { return port_; }

private:
    int fd_;
    std::string port_;
    std::thread t_;
};

TEST(MasterLookup, RequestCarriesIdTypeAndTheReconnectMark)
{
    std::snprintf(g_agent.cid, sizeof g_agent.cid, "%s", "0123abcd-0000-4000-8000-00000000beef");
    g_agent.type = AGENT_TYPE_CLIENT;
    FakeMaster m;
    m.serve_once();
    zmo_ip_sockaddr_t sa;
    ASSERT_EQ(master_lookup("127.0.0.1", m.port().c_str(), 1, &sa), 0);
    char text[32];
    EXPECT_STREQ(address_format(&sa, text, sizeof text), "10.1.2.3:5683");
    EXPECT_EQ(m.request,
              "GET /?cid=0123abcd-0000-4000-8000-00000000beef&type=client&error=reconnect HTTP/1.0\r\n"
              "Host: 127.0.0.1:" +
                  m.port() + "\r\n\r\n");
    g_agent.type = AGENT_TYPE_ROUTER;
}

TEST(MasterLookup, AMasterThatNeverClosesEndsAtTheDeadline)
{
    FakeMaster m;
    m.hold_ms = 12000;
    m.serve_once();
    zmo_ip_sockaddr_t sa;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(master_lookup("127.0.0.1", m.port().c_str(), 0, &sa), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(11));
}

TEST(SystemReport, MemoryShare)
{
    struct Case {
        const char *text;
        int percent;  // -1: refused
    } cases[] = {
        {"50/100", 50}, {"1024/2048", 50}, {"0/10", 0}, {"4294967295/4294967295", 100},
        {"1/0", -1},    {"1/", -1},        {"/1", -1},  {"a/1", -1},
        {"1/2/3", -1},  {"-1/2", -1},      {"12", -1},  {"", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        uint8_t p = 0;
        EXPECT_EQ(memory_percent(c.text, &p), c.percent < 0 ? -1 : 0);
        if (c.percent >= 0) {
            EXPECT_EQ(p, c.percent);
        }
    }
}

TEST(SystemReport, ATotalOfZeroSkipsTheReport)
{
    FakeScgi core;
    std::string body;
    core.reply = [&](const ScgiRequest &) { return "Status: 200 OK\r\n\r\n" + body; };
    // No endpoint here: a report that tried to send would fail.
    g_agent.endpoint = nullptr;
    body = "{\"cpuload\": 5, \"memory\": \"10/0\"}";
    EXPECT_EQ(report_system("10.0.0.1:5683"), 0);
    body = "{\"cpuload\": 5, \"memory\": \"10/20\"}";
    EXPECT_EQ(report_system("10.0.0.1:5683"), -1);
    body = "{\"cpuload\": 500, \"memory\": \"10/20\"}";
    EXPECT_EQ(report_system("10.0.0.1:5683"), -1);
    body = "{\"cpuload\": 5, \"memory\": \"10\"}";
    EXPECT_EQ(report_system("10.0.0.1:5683"), -1);
    // Lists the core can't give are no failure.
    body = "not json";
    EXPECT_EQ(report_interfaces("10.0.0.1:5683"), 0);
    EXPECT_EQ(report_hosts("10.0.0.1:5683"), 0);
}

}  // namespace
