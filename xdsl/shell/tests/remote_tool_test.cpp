// The remote tool's frames and one connection served over a socket pair,
// with the fake device behind the requests.
#include <atomic>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>

#include "fake_device.h"
#include "remote_tool.h"
#include "shell_fixture.h"
#include "vdsl.h"
#include "vdsl_profiles.h"
#include "vdsl_request.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes text_bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

TEST(RemoteToolFrames, LengthFieldIsCappedAt1080)
{
    struct {
        unsigned char head[2];
        size_t want;
    } cases[] = {{{0x00, 0x00}, 0},
                 {{0x00, 0x80}, 128},
                 {{0x04, 0x38}, 1080},
                 {{0x07, 0xD0}, 1080},
                 {{0xFF, 0xFF}, 1080}};
    for (const auto &c : cases)
        EXPECT_EQ(rt_payload_length(c.head), c.want) << int(c.head[0]) << " " << int(c.head[1]);
}

TEST(RemoteToolFrames, MemorySelectors)
{
    EXPECT_EQ(rt_memory_type(0x40), VDSL_MEM_X);
    EXPECT_EQ(rt_memory_type(0x80), VDSL_MEM_Y);
    EXPECT_EQ(rt_memory_type(0x00), VDSL_MEM_P);
    for (unsigned char s : {0x01, 0x41, 0xC0, 0xFF})
        EXPECT_EQ(rt_memory_type(s), -1) << int(s);
}

TEST(RemoteToolFrames, StatusBytes)
{
    struct {
        int result;
        unsigned char want;
    } cases[] = {{0, 0x01},   {115, 0xFF}, {116, 0xFE}, {112, 0xFC}, {113, 0xFB},
                 {114, 0xFA}, {100, 0xFD}, {-1, 0xFD},  {118, 0xFD}};
    for (const auto &c : cases)
        EXPECT_EQ(rt_status_byte(c.result, 0x01), c.want) << c.result;
}

TEST(RemoteToolFrames, MibReplyOfTwoWords)
{
    unsigned char answer[VDSL_BLOCK_SIZE] = {0, 2};
    std::memcpy(answer + 2, "123456abcdef", 13);
    unsigned char out[RT_MAX_PAYLOAD];
    size_t n = rt_mib_read_reply(0, answer, sizeof answer, 0x33, out);
    Bytes want = {0x00, 0x0E, 0x00};
    for (char c : std::string("123456abcdef"))
        want.push_back(static_cast<unsigned char>(c));
    want.push_back(0);
    EXPECT_EQ(Bytes(out, out + n), want);
}

TEST(RemoteToolFrames, MibReplyWordCountStaysInsideTheAnswer)
{
    unsigned char answer[VDSL_BLOCK_SIZE];
    std::memset(answer, 'a', sizeof answer);
    answer[0] = 0xFF;
    answer[1] = 0xFF;
    unsigned char out[RT_MAX_PAYLOAD];
    size_t n = rt_mib_read_reply(0, answer, sizeof answer, 0, out);
    EXPECT_LE(n, sizeof out);
    EXPECT_EQ((n - 4) % 6, 0u);
    EXPECT_EQ(size_t(out[0]) << 8 | out[1], n - 2);
    EXPECT_EQ(out[n - 1], 0);
    // A short answer block bounds the text the same way.
    unsigned char small[14] = {0, 9, '1', '1', '1', '1', '1', '1', '2', '2', '2', '2', '2', '2'};
    n = rt_mib_read_reply(0, small, sizeof small, 0, out);
    EXPECT_EQ(n, 16u);
}

TEST(RemoteToolFrames, MibFailureReply)
{
    unsigned char answer[VDSL_BLOCK_SIZE] = {};
    unsigned char out[RT_MAX_PAYLOAD];
    size_t n = rt_mib_read_reply(116, answer, sizeof answer, 0x77, out);
    EXPECT_EQ(Bytes(out, out + n), (Bytes{0x00, 0x02, 0xFE, 0x77}));
}

TEST(RemoteToolFrames, FileFrameCount)
{
    unsigned char frame[RT_FILE_FRAME] = {};
    for (int c : {0, 1, 126, 127}) {
        frame[0] = static_cast<unsigned char>(c);
        EXPECT_EQ(rt_file_frame_count(frame), c);
    }
    for (int c : {128, 200, 255}) {
        frame[0] = static_cast<unsigned char>(c);
        EXPECT_EQ(rt_file_frame_count(frame), -1) << c;
    }
}

TEST(RemoteToolFrames, FirstWordOfAPath)
{
    char out[16];
    EXPECT_EQ(rt_first_word("/tmp/a b", 8, out, sizeof out), 0);
    EXPECT_STREQ(out, "/tmp/a");
    EXPECT_EQ(rt_first_word("  /x\tz", 6, out, sizeof out), 0);
    EXPECT_STREQ(out, "/x");
    // The text ends at the received bytes, with or without a zero byte.
    EXPECT_EQ(rt_first_word("/abcdef", 3, out, sizeof out), 0);
    EXPECT_STREQ(out, "/ab");
    EXPECT_EQ(rt_first_word("   ", 3, out, sizeof out), -1);
    EXPECT_EQ(rt_first_word("/a-path-longer-than-16", 22, out, sizeof out), -1);
}

// One connection: the service on one end of a socket pair in a thread, the
// tool on the other.
class RemoteTool : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        free_vdsl_profiles_fun();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv_), 0);
        server_ = std::thread([this] { ended_ = rt_serve_connection(sv_[1]); });
    }
    void TearDown() override
    {
        if (sv_[0] >= 0)
            close(sv_[0]);
        server_.join();
        close(sv_[1]);
        free_vdsl_profiles_fun();
        ShellTest::TearDown();
    }
    void send_raw(const Bytes &b)
    {
        size_t off = 0;
        while (off < b.size()) {
            ssize_t n = write(sv_[0], b.data() + off, b.size() - off);
            ASSERT_GT(n, 0);
            off += static_cast<size_t>(n);
        }
    }
    void request(const Bytes &payload)
    {
        Bytes frame = {static_cast<unsigned char>(payload.size() >> 8),
                       static_cast<unsigned char>(payload.size())};
        frame.insert(frame.end(), payload.begin(), payload.end());
        send_raw(frame);
    }
    // Exactly n reply bytes, or fewer when none come within wait_ms.
    Bytes reply(size_t n, int wait_ms = 2000)
    {
        Bytes out;
        while (out.size() < n) {
            pollfd p{sv_[0], POLLIN, 0};
            if (poll(&p, 1, wait_ms) <= 0)
                break;
            unsigned char buf[2048];
            ssize_t got = read(sv_[0], buf, std::min(sizeof buf, n - out.size()));
            if (got <= 0)
                break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    // End the connection and wait for the service to return.
    int finish()
    {
        close(sv_[0]);
        sv_[0] = -1;
        server_.join();
        server_ = std::thread([] {});
        return ended_;
    }
    std::string read_file(const std::string &path)
    {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }

    int sv_[2] = {-1, -1};
    std::thread server_;
    std::atomic<int> ended_{-1};
};

TEST_F(RemoteTool, ReadsAChipWordByItsSelector)
{
    fakedev::device().words[static_cast<unsigned long>(VDSL_MEM_Y) << 24 | 0x012345] = 0xabcdef;
    request({1, 1, 0x01, 0x23, 0x45, 0x80});
    EXPECT_EQ(reply(4), (Bytes{0x00, 0xab, 0xcd, 0xef}));
    // An unknown selector reaches no memory and fails with the echo bytes.
    size_t before = fakedev::device().requests.size();
    request({1, 1, 0x01, 0x23, 0x45, 0x41});
    EXPECT_EQ(reply(4), (Bytes{0xFF, 0x01, 0x01, 0x23}));
    EXPECT_EQ(fakedev::device().requests.size(), before);
    // Port 2 is refused by the port rule.
    request({1, 2, 0x01, 0x23, 0x45, 0x40});
    EXPECT_EQ(reply(4), (Bytes{0xFF, 0x02, 0x01, 0x23}));
}

TEST_F(RemoteTool, WritesAChipWord)
{
    request({2, 1, 0x00, 0x10, 0x20, 0x12, 0x34, 0x56, 0x40});
    EXPECT_EQ(reply(2), (Bytes{0x00, 0x01}));
    ASSERT_FALSE(fakedev::device().requests.empty());
    const auto &r = fakedev::device().requests.back();
    EXPECT_EQ(r.number, static_cast<unsigned long>(VDSL_SET_MEM));
    EXPECT_EQ(Bytes(r.block.begin(), r.block.begin() + 8),
              (Bytes{0, 0x00, 0x10, 0x20, VDSL_MEM_X, 0x12, 0x34, 0x56}));
    request({2, 1, 0x00, 0x10, 0x20, 0x12, 0x34, 0x56, 0x13});
    EXPECT_EQ(reply(2), (Bytes{0xFF, 0x01}));
}

TEST_F(RemoteTool, ReadsAndWritesMibEntries)
{
    fakedev::device().values["2.1.9"] = "123456abcdef";
    Bytes read = {3, 1};
    for (unsigned char c : text_bytes("2.1.9"))
        read.push_back(c);
    read.push_back(0);
    request(read);
    Bytes want = {0x00, 0x0E, 0x00};
    for (unsigned char c : text_bytes("123456abcdef"))
        want.push_back(c);
    want.push_back(0);
    EXPECT_EQ(reply(16), want);

    fakedev::device().failures["2.1.9"] = 116;
    request(read);
    EXPECT_EQ(reply(4), (Bytes{0x00, 0x02, 0xFE, '.'}));

    Bytes write = {4, 1};
    for (unsigned char c : text_bytes("2.1.10"))
        write.push_back(c);
    write.push_back(0);
    for (unsigned char c : text_bytes("00abcd"))
        write.push_back(c);
    request(write);
    EXPECT_EQ(reply(2), (Bytes{0x00, 0x01}));
    EXPECT_EQ(fakedev::device().values["2.1.10"], "00abcd");
}

TEST_F(RemoteTool, TextsEndAtTheReceivedBytes)
{
    // An OID without its zero byte and no value: an empty value is written,
    // not what an earlier, longer request left in the buffer.
    Bytes longer = {4, 1};
    for (unsigned char c : text_bytes("2.1.11"))
        longer.push_back(c);
    longer.push_back(0);
    for (unsigned char c : text_bytes("777777"))
        longer.push_back(c);
    request(longer);
    EXPECT_EQ(reply(2), (Bytes{0x00, 0x01}));
    Bytes bare = {4, 1, '2', '.', '1', '.', '1', '2'};
    request(bare);
    EXPECT_EQ(reply(2), (Bytes{0x00, 0x01}));
    EXPECT_EQ(fakedev::device().values["2.1.12"], "");
}

TEST_F(RemoteTool, EmptyAndUnknownRequestsGetNoReply)
{
    send_raw({0x00, 0x00});  // length 0: no opcode, nothing to answer
    request({0});
    request({10, 1});
    request({9, 2});
    EXPECT_EQ(reply(3, 200), (Bytes{0xFD, 0x02}));
}

TEST_F(RemoteTool, LengthOver1080IsReadAs1080)
{
    // 2000 announced: 1080 bytes make an unknown request, the next bytes
    // are taken as the following frames.
    Bytes frame = {0x07, 0xD0, 10};
    frame.resize(2 + 1080, 0x55);
    Bytes rest = {0x00, 0x02, 9, 1};
    rest.resize(920, 0x00);  // then empty frames only
    frame.insert(frame.end(), rest.begin(), rest.end());
    send_raw(frame);
    EXPECT_EQ(reply(3, 200), (Bytes{0x01, 0x01}));
    std::vector<unsigned long> checks;
    for (const auto &r : fakedev::device().requests)
        if (r.number == VDSL_CHECK_BINDRV)
            checks.push_back(r.number);
    EXPECT_EQ(checks.size(), 1u);
}

TEST_F(RemoteTool, HeaderCheckStatus)
{
    fakedev::device().handler = [](unsigned long number, unsigned char *b, std::size_t size) {
        return number == VDSL_CHECK_BINDRV ? 113 : fakedev::builtin_answer(number, b, size);
    };
    request({9, 1});
    EXPECT_EQ(reply(2), (Bytes{0xFB, 0x01}));
    fakedev::device().open_fails = true;
    request({9, 1});
    EXPECT_EQ(reply(2), (Bytes{0xFD, 0x01}));
    request({9, 0});
    EXPECT_EQ(reply(2), (Bytes{0xFD, 0x00}));
}

TEST_F(RemoteTool, CommandLines)
{
    Bytes null = {6};
    for (unsigned char c : text_bytes("null"))
        null.push_back(c);
    request(null);
    EXPECT_EQ(reply(2), (Bytes{0x00, 'n'}));
    Bytes quit = {6};
    for (unsigned char c : text_bytes("quit"))
        quit.push_back(c);
    quit.push_back(0);
    request(quit);
    EXPECT_EQ(reply(2), (Bytes{0xFF, 'q'}));
    request({9, 2});  // the connection stays open
    EXPECT_EQ(reply(2), (Bytes{0xFD, 0x02}));
}

TEST_F(RemoteTool, SendsAFileInFrames)
{
    std::string body(254, 0);
    for (size_t i = 0; i < body.size(); i++)
        body[i] = static_cast<char>(i);
    std::string path = write_file("down.bin", body);
    Bytes req = {7};
    for (unsigned char c : text_bytes(path + " ignored"))
        req.push_back(c);
    request(req);
    EXPECT_EQ(reply(2), (Bytes{0x00, 0xFF}));
    std::string got;
    for (int expected : {127, 127, 0}) {
        Bytes frame = reply(RT_FILE_FRAME);
        ASSERT_EQ(frame.size(), size_t(RT_FILE_FRAME));
        EXPECT_EQ(frame[0], expected);
        got.append(frame.begin() + 1, frame.begin() + 1 + frame[0]);
        send_raw({0x00, 0xFF});
    }
    EXPECT_EQ(reply(2), (Bytes{0x00, 0xFF}));
    EXPECT_EQ(got, body);

    Bytes missing = {7};
    for (unsigned char c : text_bytes(dir_ + "/no-such-file"))
        missing.push_back(c);
    request(missing);
    EXPECT_EQ(reply(2), (Bytes{0xFF, 0xFF}));
}

TEST_F(RemoteTool, StopsSendingAtAWrongAcknowledgement)
{
    std::string path = write_file("long.bin", std::string(1000, 'x'));
    Bytes req = {7};
    for (unsigned char c : text_bytes(path))
        req.push_back(c);
    request(req);
    EXPECT_EQ(reply(2), (Bytes{0x00, 0xFF}));
    EXPECT_EQ(reply(RT_FILE_FRAME).size(), size_t(RT_FILE_FRAME));
    send_raw({0x00, 0x42});
    EXPECT_EQ(reply(2), (Bytes{0x00, 0x42}));
}

TEST_F(RemoteTool, ReceivesAFileOf254Bytes)
{
    std::string path = dir_ + "/up.bin";
    Bytes req = {8};
    for (unsigned char c : text_bytes(path))
        req.push_back(c);
    req.push_back(0);
    request(req);
    std::string body;
    for (int count : {127, 127, 0}) {
        Bytes frame(RT_FILE_FRAME, 0xEE);
        frame[0] = static_cast<unsigned char>(count);
        for (int i = 0; i < count; i++)
            frame[1 + i] = static_cast<unsigned char>('a' + (body.size() + i) % 26);
        body.append(frame.begin() + 1, frame.begin() + 1 + count);
        send_raw(frame);
        EXPECT_EQ(reply(2), (Bytes{0x00, 0xFF}));
    }
    send_raw({0x12, 0x34});  // the two ignored bytes
    request({9, 2});
    EXPECT_EQ(reply(2), (Bytes{0xFD, 0x02}));
    EXPECT_EQ(read_file(path), body);
}

TEST_F(RemoteTool, UploadCountOver127EndsTheTransfer)
{
    std::string path = dir_ + "/bad.bin";
    Bytes req = {8};
    for (unsigned char c : text_bytes(path))
        req.push_back(c);
    request(req);
    Bytes good(RT_FILE_FRAME, 'g');
    good[0] = 127;
    send_raw(good);
    EXPECT_EQ(reply(2), (Bytes{0x00, 0xFF}));
    Bytes bad(RT_FILE_FRAME, 'b');
    bad[0] = 200;
    send_raw(bad);
    send_raw({0x00, 0x00});  // the two ignored bytes
    request({9, 2});
    // No acknowledgement for the bad frame: the next bytes answer request 9.
    EXPECT_EQ(reply(2), (Bytes{0xFD, 0x02}));
    EXPECT_EQ(read_file(path), std::string(127, 'g'));
}

TEST_F(RemoteTool, UnwritableUploadGetsNoReply)
{
    Bytes req = {8};
    for (unsigned char c : text_bytes(dir_ + "/no/such/dir/file"))
        req.push_back(c);
    request(req);
    request({9, 2});
    EXPECT_EQ(reply(2), (Bytes{0xFD, 0x02}));
}

TEST_F(RemoteTool, EndOpcodeAndClosedStream)
{
    request({5, 0x99});
    EXPECT_EQ(reply(2), (Bytes{0x00, 0x99}));
    EXPECT_EQ(finish(), 1);
}

TEST_F(RemoteTool, TruncatedFrameEndsTheConnection)
{
    send_raw({0x00, 0x10, 3, 1});  // 16 announced, 2 sent, then the tool goes
    EXPECT_EQ(finish(), 0);
}

}  // namespace
