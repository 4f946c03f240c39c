// The daemon's adapter table: loads, ordinals, kept and dropped records,
// and which record a source address belongs to.
#include <gtest/gtest.h>

#include "../src/nd_internal.h"

#include <arpa/inet.h>

namespace {

uint32_t ip(const char *text) { return inet_addr(text); }

class Adapters : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ndAdapterListInit(), 0); }
    void TearDown() override { ndAdapterListStop(); }
    static NDSelfAddress self(const char *address, const char *bcast, const char *mask)
    {
        return {ip(address), ip(bcast), ip(mask)};
    }
    static std::vector<NDAdapter *> all()
    {
        std::vector<NDAdapter *> out;
        for (NDAdapter *a; (a = ndAdapterGetNext()) != nullptr;)
            out.push_back(a);
        return out;
    }
};

TEST_F(Adapters, ASecondLoadKeepsRecordsAndRenumbersThem)
{
    ASSERT_EQ(ndAdapterListLoadFrom({self("10.0.0.1", "10.0.0.255", "255.255.255.0"),
                                     self("10.1.0.1", "10.1.0.255", "255.255.255.0")}),
              0);
    std::vector<NDAdapter *> first = all();
    ASSERT_EQ(first.size(), 2u);
    first[0]->nameSocket = 7;
    first[1]->nameSocket = 8;
    // The first address gone, a new one before the kept one
    ASSERT_EQ(ndAdapterListLoadFrom({self("10.2.0.1", "10.2.0.255", "255.255.255.0"),
                                     self("10.1.0.1", "10.1.0.255", "255.255.255.0")}),
              0);
    EXPECT_EQ(ndGetNumAdapters(), 2u);
    NDAdapter *kept = ndFindAdapter(ip("10.1.0.9"), nullptr);
    ASSERT_EQ(kept, first[1]);
    EXPECT_EQ(kept->status, 2);
    EXPECT_EQ(kept->ordinal, 1u);
    EXPECT_EQ(kept->nameSocket, 8);
    NDAdapter *fresh = ndFindAdapter(ip("10.2.0.9"), nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->status, 1);
    EXPECT_EQ(fresh->ordinal, 0u);
    EXPECT_EQ(fresh->nameSocket, -1) << "the freed record was cleared before reuse";
    EXPECT_EQ(all().size(), 2u);
}

TEST_F(Adapters, SourcesAreAttributedBySubnet)
{
    ASSERT_EQ(ndAdapterListLoadFrom({self("127.0.0.1", "127.255.255.255", "255.0.0.0"),
                                     self("192.168.5.1", "192.168.5.1", "255.255.255.0")}),
              0);
    NDAdapter fallback{};
    const struct {
        const char *source;
        const char *wanted;  // address of the adapter, or null for the default
    } cases[] = {
        {"192.168.5.77", "192.168.5.1"},  // no "brd" set: the subnet's broadcast stands in
        {"192.168.6.77", nullptr},
        {"127.0.0.1", nullptr},  // the loopback adapter's broadcast is 255
        {"10.9.9.9", nullptr},
    };
    for (const auto &c : cases) {
        NDAdapter *a = ndFindAdapter(ip(c.source), &fallback);
        if (c.wanted == nullptr)
            EXPECT_EQ(a, &fallback) << c.source;
        else
            EXPECT_EQ(a->ip, ip(c.wanted)) << c.source;
    }
    EXPECT_EQ(all().size(), 2u) << "the search leaves the cursor at the start";
}

TEST_F(Adapters, MoreThan32AddressesKeepTheFirst32)
{
    std::vector<NDSelfAddress> many;
    for (int i = 0; i < 40; ++i) {
        std::string a = "10.0." + std::to_string(i) + ".1";
        std::string b = "10.0." + std::to_string(i) + ".255";
        many.push_back(self(a.c_str(), b.c_str(), "255.255.255.0"));
    }
    ASSERT_EQ(ndAdapterListLoadFrom(many), 0);
    EXPECT_EQ(ndGetNumAdapters(), 32u);
    EXPECT_EQ(ndFindAdapter(ip("10.0.35.5"), nullptr), nullptr);
}

}  // namespace
