// The daemon's name service messages, byte for byte against hand-made
// tables; the caller's bytes 0-3 stay as they were.
#include "layer_env.h"

#include "ndpackets.h"

#include <arpa/inet.h>

using namespace nbtest;

namespace {

const std::string kKeep = "\xEE\xEE\xEE\xEE";

TEST(NamePackets, RequestFlagsByNodeAndGroup)
{
    const struct {
        int bNode, group;
        std::string flags;
    } cases[] = {
        {1, 0, std::string("\x00\x00", 2)},
        {0, 0, std::string("\x40\x00", 2)},
        {1, 1, std::string("\x80\x00", 2)},
        {0, 1, std::string("\xC0\x00", 2)},
    };
    uint32_t ip = inet_addr("10.0.0.2");
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.bNode << c.group);
        CMNetBiosNameInfo fred = name("fred", 0x20);
        Bytes b(600, 0xEE);
        int n = ndGenerateNameWhateverRequest(b.data(), 600, &fred, &ip, c.bNode, c.group);
        std::string want = kKeep + std::string("\x00\x01\x00\x00\x00\x00\x00\x01", 8) + encodedFred(0x20) +
                           std::string("\x00\x20\x00\x01", 4) +  // question
                           std::string("\xC0\x0C\x00\x20\x00\x01\x00\x00\x00\x00\x00\x06", 12) + c.flags +
                           std::string("\x0A\x00\x00\x02", 4);
        ASSERT_EQ(n, static_cast<int>(want.size()));
        EXPECT_EQ(std::string(b.begin(), b.begin() + n), want);
    }
}

class DomainPackets : public HookedTest {};

TEST_F(DomainPackets, DomainNameCountsAsGroupInRequests)
{
    // WORKGROUP<20> registered as unique goes out with the group bit.
    CMNetBiosNameInfo domain = name("workgroup", 0x20);
    uint32_t ip = inet_addr("10.0.0.2");
    Bytes b(600, 0);
    int n = ndGenerateNameWhateverRequest(b.data(), 600, &domain, &ip, 0, 0);
    ASSERT_GT(n, 6);
    EXPECT_EQ(b[n - 6], 0xC0);
    CMNetBiosNameInfo other = name("workgroup", 0x00);
    n = ndGenerateNameWhateverRequest(b.data(), 600, &other, &ip, 0, 0);
    EXPECT_EQ(b[n - 6], 0x40);
}

TEST(NamePackets, ResponseWithRdata)
{
    CMNetBiosNameInfo fred = name("fred", 0x00);
    const uint8_t rdata[] = {0x00, 0x00, 127, 0, 0, 1};
    Bytes b(600, 0xEE);
    int n = ndGenerateNameWhateverResponse(b.data(), 600, &fred, 0x0020, rdata, sizeof rdata);
    std::string want = kKeep + std::string("\x00\x00\x00\x01\x00\x00\x00\x00", 8) + encodedFred(0x00) +
                       std::string("\x00\x20\x00\x01\x00\x00\x00\x00\x00\x06\x00\x00\x7F\x00\x00\x01", 16);
    ASSERT_EQ(n, static_cast<int>(want.size()));
    EXPECT_EQ(std::string(b.begin(), b.begin() + n), want);
}

TEST(NamePackets, ResponseWithoutRdataKeepsTheRecord)
{
    // The defence answer: RDLENGTH 0 and no rdata behind the record.
    CMNetBiosNameInfo fred = name("fred", 0x20);
    Bytes b(600, 0xEE);
    int n = ndGenerateNameWhateverResponse(b.data(), 600, &fred, 0x0020, nullptr, 0);
    std::string want = kKeep + std::string("\x00\x00\x00\x01\x00\x00\x00\x00", 8) + encodedFred(0x20) +
                       std::string("\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00", 10);
    ASSERT_EQ(n, static_cast<int>(want.size()));
    EXPECT_EQ(std::string(b.begin(), b.begin() + n), want);
}

TEST(NamePackets, QueryRequest)
{
    CMNetBiosNameInfo fred = name("fred", 0x20);
    Bytes b(600, 0xEE);
    int n = ndGenerateNameQueryRequest(b.data(), 600, &fred);
    std::string want = kKeep + std::string("\x00\x01\x00\x00\x00\x00\x00\x00", 8) + encodedFred(0x20) +
                       std::string("\x00\x20\x00\x01", 4);
    ASSERT_EQ(n, static_cast<int>(want.size()));
    EXPECT_EQ(std::string(b.begin(), b.begin() + n), want);
}

TEST(NamePackets, RefusedWithoutNameOrRoom)
{
    CMNetBiosNameInfo fred = name("fred", 0x20);
    uint32_t ip = 0;
    Bytes b(600, 0xEE);
    errno = 0;
    EXPECT_EQ(ndGenerateNameQueryRequest(b.data(), 600, nullptr), -1);
    EXPECT_EQ(errno, NS_ERR_BAD_NAME);
    // One byte short of the whole message: nothing past the buffer.
    int whole = ndGenerateNameWhateverRequest(b.data(), 600, &fred, &ip, 0, 0);
    Bytes small(static_cast<size_t>(whole - 1) + 8, 0xEE);
    errno = 0;
    EXPECT_EQ(ndGenerateNameWhateverRequest(small.data(), static_cast<uint32_t>(whole - 1), &fred, &ip, 0, 0),
              -1);
    EXPECT_EQ(errno, NS_ERR_BAD_NAME);
    for (size_t i = static_cast<size_t>(whole - 1); i < small.size(); ++i)
        EXPECT_EQ(small[i], 0xEE);
}

}  // namespace
