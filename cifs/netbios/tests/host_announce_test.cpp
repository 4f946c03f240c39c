// Host announcements: the 374-byte message against its table, the periods,
// what reaches the daemon, and the server type by domain membership.
#include "layer_env.h"

#include "csbrowse.h"

using namespace nbtest;

namespace {

uint32_t le(const uint8_t *p, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

class Announce : public LayerTest {
protected:
    void SetUp() override
    {
        LayerTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(csInitBrowse(), 0);
        browsing = true;
    }
    void TearDown() override
    {
        if (browsing)
            csStopBrowse();
        LayerTest::TearDown();
    }
    bool browsing = false;
};

TEST_F(Announce, MessageFields)
{
    const uint8_t *m = csGetHostAnnouncement();
    ASSERT_NE(m, nullptr);
    const struct {
        uint32_t offset;
        int size;
        uint32_t value;
    } fields[] = {
        {0, 4, 0x424D53FF}, {4, 1, 0x25}, {32, 1, 17},      {33, 2, 0},    {35, 2, 288}, {37, 2, 0},
        {39, 2, 0},         {41, 1, 0},   {43, 2, 2},       {45, 4, 1000}, {51, 2, 0},   {53, 2, 0},
        {55, 2, 288},       {57, 2, 86},  {59, 1, 3},       {61, 2, 1},    {63, 2, 0},   {65, 2, 2},
        {67, 2, 305},       {86, 1, 1},   {87, 1, 0},       {108, 1, 2},   {109, 1, 0},  {110, 4, 0x8202},
        {114, 1, 4},        {115, 1, 0},  {116, 2, 0xAA55}, {118, 1, 0},
    };
    for (const auto &f : fields) {
        SCOPED_TRACE(f.offset);
        EXPECT_EQ(le(m + f.offset, f.size), f.value);
    }
    for (uint32_t i = 5; i < 32; ++i)
        EXPECT_EQ(m[i], 0) << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(m + 69), 17),
              std::string("\\MAILSLOT\\BROWSE\0", 17));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(m + 92), 16),
              std::string("NAS") + std::string(13, '\0'));
}

TEST_F(Announce, PeriodsAndWhatReachesTheDaemon)
{
    std::vector<int> periods;
    for (int i = 0; i < 5; ++i)
        periods.push_back(csAnnounceServer());
    EXPECT_EQ(periods, (std::vector<int>{5, 10, 20, 30, 30}));
    // Listen, then five group datagrams of 14 + 68 + 374 bytes to WORKGROUP<1D>.
    ASSERT_TRUE(daemon.waitFor(1027, 6));
    std::vector<Bytes> sent;
    for (auto &s : daemon.seenOn(1027))
        if (s.bytes[0] == 0x11)
            sent.push_back(s.bytes);
    ASSERT_EQ(sent.size(), 5u);
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(sent[i].size(), 14u + 68u + 374u);
        EXPECT_EQ(fakend::decodeName(sent[i], 14), n16("nas", 0x20));
        EXPECT_EQ(fakend::decodeName(sent[i], 48), n16("workgroup", 0x1D));
        EXPECT_EQ(le(sent[i].data() + 82 + 88, 4), static_cast<uint32_t>(periods[i]) * 1000);
    }
}

class MemberAnnounce : public Announce {
protected:
    void SetUp() override
    {
        cmConfig = "DOMAIN=CORP:D\n";
        Announce::SetUp();
    }
};

TEST_F(MemberAnnounce, DomainMemberType)
{
    EXPECT_EQ(csGetHostType(), 0x8302u);
    EXPECT_EQ(le(csGetHostAnnouncement() + 110, 4), 0x8302u);
}

class RefusedAnnounce : public LayerTest {
protected:
    void prepare() override { daemon.refused.insert(n16("nas", 0x20)); }
};

TEST_F(RefusedAnnounce, NoSocketNoBrowsing)
{
    EXPECT_EQ(csInitBrowse(), -1);
    EXPECT_EQ(csAnnounceServer(), -1);
}

}  // namespace

namespace {

TEST_F(Announce, NoHostNameSendsNothingButThePeriodGrows)
{
    ASSERT_EQ(sethostname("", 0), 0);
    ASSERT_EQ(cmNetBiosNameInit(), 0);
    ASSERT_EQ(cmNetBiosGetHostNameZeroed()[0], '\0');
    EXPECT_EQ(csAnnounceServer(), 5);
    EXPECT_EQ(csAnnounceServer(), 10);
    for (auto &s : daemon.seenOn(1027))
        EXPECT_NE(s.bytes[0], 0x11);
}

}  // namespace
