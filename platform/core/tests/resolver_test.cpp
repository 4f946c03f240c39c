// The resolver asks only this host's own addresses, for real.
#include "core_fixture.h"

#include "core_impl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

// One UDP answer from 127.0.0.1 with the given addresses.
class TinyDns {
public:
    explicit TinyDns(std::vector<uint32_t> answers) : answers_(std::move(answers))
    {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TinyDns()
    {
        thread_.join();
        close(fd_);
    }
    uint16_t Port() const { return port_; }

private:
    void Serve()
    {
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, 3000) <= 0)
            return;
        uint8_t q[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd_, q, sizeof q, 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n < 12)
            return;
        std::vector<uint8_t> a(q, q + n);
        a[2] = 0x81, a[3] = 0x80;
        a[6] = 0, a[7] = static_cast<uint8_t>(answers_.size());
        for (uint32_t ip : answers_) {
            const uint8_t rr[] = {0xc0,
                                  0x0c,
                                  0,
                                  1,
                                  0,
                                  1,
                                  0,
                                  0,
                                  0,
                                  60,
                                  0,
                                  4,
                                  static_cast<uint8_t>(ip >> 24),
                                  static_cast<uint8_t>(ip >> 16),
                                  static_cast<uint8_t>(ip >> 8),
                                  static_cast<uint8_t>(ip)};
            a.insert(a.end(), rr, rr + sizeof rr);
        }
        sendto(fd_, a.data(), a.size(), 0, reinterpret_cast<sockaddr *>(&from), len);
    }
    std::vector<uint32_t> answers_;
    int fd_;
    uint16_t port_;
    std::thread thread_;
};

class ResolverTest : public CoreTest {};

TEST_F(ResolverTest, AsksALocalServerAndReadsItsAddresses)
{
    TinyDns dns({0x5e8c0e0e, 0x5e8c0e0f});
    std::vector<Network::IpAddress> out;
    ReturnT r = Dns::Resolver::GetAddresses("check.example", out, 1000, Log::QUIET,
                                            Network::IpAddress(0x7f000001), dns.Port());
    ASSERT_FALSE(Failed(r));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].ToString(), "94.140.14.14");
}

TEST_F(ResolverTest, SilentServerTimesOut)
{
    std::vector<Network::IpAddress> out;
    const auto t0 = std::chrono::steady_clock::now();
    // Nothing listens there: refused or silent, a failure either way, within the time-out.
    EXPECT_TRUE(Failed(
        Dns::Resolver::GetAddresses("x.example", out, 200, Log::QUIET, Network::IpAddress(0x7f000001), 9)));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
}

TEST_F(ResolverTest, NonLocalTargetIsRefusedUnsent)
{
    std::vector<Network::IpAddress> out;
    const auto t0 = std::chrono::steady_clock::now();
    ReturnT r =
        Dns::Resolver::GetAddresses("x.example", out, 1000, Log::QUIET, Network::IpAddress(0x5e8c0e0e), 53);
    EXPECT_TRUE(Failed(r));
    EXPECT_LT(std::chrono::steady_clock::now() - t0,
              std::chrono::milliseconds(500));  // well under the 1000 ms a sent query would wait
    EXPECT_TRUE(Journaled("dns resolve x.example @94.140.14.14:53 refused: not a local address"));
}

TEST(DnsAnswer, MalformedAnswersAreRefused)
{
    std::vector<uint8_t> q;
    ASSERT_TRUE(Core::DnsBuildQuery("a.b", 0x1234, &q));
    std::vector<Network::IpAddress> out;
    EXPECT_FALSE(Core::DnsParseAnswer(q.data(), q.size(), 0x1234, &out));  // a question, not an answer
    q[2] |= 0x80;
    EXPECT_TRUE(Core::DnsParseAnswer(q.data(), q.size(), 0x1234, &out));
    EXPECT_FALSE(Core::DnsParseAnswer(q.data(), q.size(), 0x4321, &out));  // someone else's id
    q[7] = 1;                                                              // one answer promised, none there
    EXPECT_FALSE(Core::DnsParseAnswer(q.data(), q.size(), 0x1234, &out));
    EXPECT_FALSE(Core::DnsBuildQuery("a..b", 1, &q));
    EXPECT_FALSE(Core::DnsBuildQuery(std::string(64, 'x') + ".b", 1, &q));
}

}  // namespace
