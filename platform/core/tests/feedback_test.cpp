// Feedback forwarders: what a run hands over, and what it cannot.
#include "core_fixture.h"

#include "core_impl.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

namespace {

struct Sink : FeedbackListener {
    std::mutex m;
    std::vector<Feedback> got;
    void OnFeedback(const Feedback &f) override
    {
        std::lock_guard<std::mutex> g(m);
        got.push_back(f);
    }
};

class FeedbackTest : public CoreTest {
protected:
    // Runs the forwarder at path with words and input on its stdin.
    int RunForwarder(const std::string &path, const std::string &words, const std::string &input)
    {
        const std::string in = dir_ + "/input";
        std::ofstream(in, std::ios::binary) << input;
        return std::system((host_->Path(path) + " " + words + " < " + in).c_str());
    }
};

TEST_F(FeedbackTest, RegisterPutsAnExecutableForwarderAtThePath)
{
    Sink s;
    ASSERT_FALSE(Failed(s.Register("/var/run/madwimax-wimax0")));
    struct stat st;
    ASSERT_EQ(stat(host_->Path("/var/run/madwimax-wimax0").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    ASSERT_EQ(RunForwarder("/var/run/madwimax-wimax0", "stats wimax0", "FW=1.2\nRSSI=-60\nnot a pair\n"), 0);
    ASSERT_TRUE(host_->WaitJournal("feedback /var/run/madwimax-wimax0", 5000));
    ASSERT_TRUE(host_->Drain());
    ASSERT_EQ(s.got.size(), 1u);
    EXPECT_EQ(s.got[0].Words(), (StringVector{"stats", "wimax0"}));
    EXPECT_EQ(s.got[0].Get("FW"), "1.2");
    EXPECT_EQ(s.got[0].Get("RSSI"), "-60");
    EXPECT_EQ(s.got[0].Values().size(), 2u);
    s.Unregister();
    EXPECT_NE(stat(host_->Path("/var/run/madwimax-wimax0").c_str(), &st), 0);
}

// A value or a word with a line end in it must not become a key of its own.
TEST_F(FeedbackTest, NoKeyIsInjected)
{
    Sink s;
    ASSERT_FALSE(Failed(s.Register("/var/run/fb-test")));
    const std::string input = std::string("BSSID=aa\rSTATE=owned\n") + "FW=x\x1b[2J\n" +
                              "LD_PRELOAD=/tmp/x.so\n" + "1BAD=1\n" + "=empty\n" + "GOOD=\"quoted $(x)\"\n";
    ASSERT_EQ(RunForwarder("/var/run/fb-test", "'if-up\nSTATE=owned' wimax0", input), 0);
    ASSERT_TRUE(host_->WaitJournal("feedback /var/run/fb-test", 5000));
    ASSERT_TRUE(host_->Drain());
    ASSERT_EQ(s.got.size(), 1u);
    const Feedback &f = s.got[0];
    EXPECT_EQ(f.Word(0), "if-up_STATE=owned");
    EXPECT_FALSE(f.Has("STATE"));
    EXPECT_EQ(f.Get("BSSID"), "aa_STATE=owned");
    EXPECT_EQ(f.Get("FW"), "x_[2J");
    EXPECT_EQ(f.Get("GOOD"), "\"quoted $(x)\"");
    EXPECT_EQ(f.Get("LD_PRELOAD"), "/tmp/x.so");  // a value here, never an environment
    EXPECT_FALSE(f.Has("1BAD"));
    EXPECT_EQ(f.Values().size(), 4u);
}

// A caller that never closes the forwarder's input does not hold it: it
// delivers what came within its time.
TEST_F(FeedbackTest, SilentInputDoesNotHoldTheForwarder)
{
    Sink s;
    ASSERT_FALSE(Failed(s.Register("/var/run/slow")));
    const std::string cmd = "{ (echo K=v; exec sleep 4) | " + host_->Path("/var/run/slow") +
                            " if-down x; } </dev/null >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    // Its input stays open for 4 s; it gives up reading after 2.
    EXPECT_TRUE(host_->WaitJournal("feedback /var/run/slow", 3500));
    ASSERT_TRUE(host_->Drain());
    ASSERT_EQ(s.got.size(), 1u);
    EXPECT_EQ(s.got[0].Get("K"), "v");
}

TEST_F(FeedbackTest, ARunForAnotherPathReachesNobody)
{
    Sink s;
    ASSERT_FALSE(Failed(s.Register("/var/run/one")));
    Sink t;
    ASSERT_FALSE(Failed(t.Register("/var/run/two")));
    ASSERT_EQ(RunForwarder("/var/run/two", "x", ""), 0);
    ASSERT_TRUE(host_->WaitJournal("feedback /var/run/two", 5000));
    ASSERT_TRUE(host_->Drain());
    EXPECT_TRUE(s.got.empty());
    EXPECT_EQ(t.got.size(), 1u);
}

TEST(FeedbackWire, RoundTripAndRefusals)
{
    const String msg = Core::FeedbackEncode("/p", {"a", "b c"}, {{"K", "v"}, {"bad key", "x"}});
    String path;
    Feedback f;
    ASSERT_TRUE(Core::FeedbackDecode(reinterpret_cast<const uint8_t *>(msg.data()), msg.size(), &path, &f));
    EXPECT_EQ(path, "/p");
    EXPECT_EQ(f.Words(), (StringVector{"a", "b c"}));
    EXPECT_EQ(f.Values().size(), 1u);  // the core checks keys again
    // Every truncation, and one byte too many, is refused.
    for (size_t n = 0; n < msg.size(); ++n)
        EXPECT_FALSE(Core::FeedbackDecode(reinterpret_cast<const uint8_t *>(msg.data()), n, &path, &f)) << n;
    const String longer = msg + "x";
    EXPECT_FALSE(
        Core::FeedbackDecode(reinterpret_cast<const uint8_t *>(longer.data()), longer.size(), &path, &f));
    // A count that promises more than the message holds.
    String huge = Core::FeedbackEncode("/p", {}, {});
    huge[huge.size() - 8] = 0x7f;
    EXPECT_FALSE(
        Core::FeedbackDecode(reinterpret_cast<const uint8_t *>(huge.data()), huge.size(), &path, &f));
}

}  // namespace

namespace {

// Anyone who reaches the socket may send anything: a flood of short,
// truncated and oversized datagrams, then one good run, which still arrives.
TEST_F(FeedbackTest, FloodOfMalformedDatagramsLeavesTheListenerWorking)
{
    Sink s;
    ASSERT_FALSE(Failed(s.Register("/var/run/flood")));
    const std::string sock = host_->Path("/var/run/zmocore.feedback");
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", sock.c_str());
    const String good = Core::FeedbackEncode("/var/run/flood", {"w"}, {{"K", "v"}});
    std::vector<uint8_t> junk(70000, 0xff);
    std::srand(7);
    for (int i = 0; i < 5000; ++i) {
        size_t n;
        const void *p;
        String cut;
        switch (i % 4) {
        case 0:
            n = static_cast<size_t>(std::rand()) % 64, p = junk.data();
            break;
        case 1:
            cut = good.substr(0, static_cast<size_t>(std::rand()) % good.size()), n = cut.size(),
            p = cut.data();
            break;
        case 2:
            n = junk.size(), p = junk.data();
            break;  // larger than any message
        default:
            cut = good;
            cut[static_cast<size_t>(std::rand()) % cut.size()] ^= 0x55;
            n = cut.size(), p = cut.data();
        }
        sendto(fd, p, n, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);  // drops when full are fine
    }
    // The good one, until it gets through the backlog.
    bool delivered = false;
    for (int i = 0; i < 200 && !delivered; ++i) {
        sendto(fd, good.data(), good.size(), 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        host_->Drain();
        std::lock_guard<std::mutex> g(s.m);
        delivered = !s.got.empty();
    }
    close(fd);
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(Journaled("feedback refused: malformed message"));
}

}  // namespace
