// The spooler pipe's information buffer: strings backwards, device modes and
// descriptors below them, nothing written past the offered size.
#include "spoolss_pack.h"

#include "fw_test/bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using fw_test::get_le16;
using fw_test::get_le32;

namespace {

std::vector<CMWchar> W(const std::string &s)
{
    std::vector<CMWchar> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

std::string readString(const std::vector<uint8_t> &b, uint32_t at)
{
    std::string s;
    for (; at + 1 < b.size() && get_le16(&b[at]); at += 2)
        s.push_back(char(get_le16(&b[at])));
    return s;
}

// A buffer of size bytes with a guard behind it that must stay untouched.
struct Guarded {
    std::vector<uint8_t> bytes;
    uint32_t size;
    explicit Guarded(uint32_t n) : bytes(n + 64, 0xEE), size(n) {}
    spoolss::InfoBuffer buffer() { return spoolss::InfoBuffer(bytes.data(), size); }
    bool guardIntact() const
    {
        for (size_t i = size; i < bytes.size(); ++i)
            if (bytes[i] != 0xEE)
                return false;
        return true;
    }
};

TEST(SpoolssPack, StringsGoBackwardsFromTheEndAndOffsetsForwards)
{
    Guarded g(32);
    auto b = g.buffer();
    b.u32(7);
    b.string(W("ab").data());
    b.string(nullptr);
    b.string(W("c").data());
    ASSERT_FALSE(b.failed());
    EXPECT_EQ(get_le32(&g.bytes[0]), 7u);
    EXPECT_EQ(get_le32(&g.bytes[4]), 26u);
    EXPECT_EQ(get_le32(&g.bytes[8]), 0u) << "a missing string";
    EXPECT_EQ(get_le32(&g.bytes[12]), 22u) << "the next one ends where the previous began";
    EXPECT_EQ(readString(g.bytes, 26), "ab");
    EXPECT_EQ(readString(g.bytes, 22), "c");
    EXPECT_EQ(b.fixed(), 16u);
    EXPECT_EQ(b.end(), 22u);
    EXPECT_TRUE(g.guardIntact());
}

TEST(SpoolssPack, NothingComesWithinFourBytesOfTheFixedPartOrPastTheEnd)
{
    struct Case {
        const char *what;
        uint32_t size;
        void (*fill)(spoolss::InfoBuffer &);
    } cases[] = {
        {"a string meeting the fixed part", 12,
         [](spoolss::InfoBuffer &b) {
             b.u32(1);
             b.string(W("abc").data());
         }},
        {"fixed words past the end", 6, [](spoolss::InfoBuffer &b) { b.u32(1), b.u32(2); }},
        {"fixed words into the strings", 16,
         [](spoolss::InfoBuffer &b) {
             b.string(W("abcde").data());
             b.u32(1);
             b.u32(2);
         }},
        {"a string in a buffer of nothing", 0, [](spoolss::InfoBuffer &b) { b.string(W("").data()); }},
        {"a device mode without room", 200,
         [](spoolss::InfoBuffer &b) { b.devMode(SYDeviceMode{}, W("x").data(), spoolss::kDevModeBytes); }},
    };
    for (const Case &c : cases) {
        Guarded g(c.size);
        auto b = g.buffer();
        c.fill(b);
        EXPECT_TRUE(b.failed()) << c.what;
        EXPECT_TRUE(g.guardIntact()) << c.what;
    }
}

TEST(SpoolssPack, ADeviceModeGoesBelowTheStringsWithItsExtraBytes)
{
    Guarded g(600);
    auto b = g.buffer();
    uint8_t extra[3] = {0xA1, 0xA2, 0xA3};
    std::vector<CMWchar> form = W("Letter");
    SYDeviceMode mode{};
    mode.driverVersion = 0x0600;
    mode.driverExtraLength = 3;
    mode.driverExtra = extra;
    mode.fields = SY_DEVMODE_FORMNAME;
    mode.shorts[0] = 1;
    mode.formName = form.data();
    mode.longs[12] = 0x11223344;
    b.string(W("printer").data());  // ends at 584
    b.devMode(mode, W("\\\\ROUTER\\" + std::string(40, 'L')).data(), spoolss::kDevModeBytes);
    ASSERT_FALSE(b.failed());
    uint32_t at = get_le32(&g.bytes[4]);
    EXPECT_EQ(at, (584u - 222u) / 4 * 4);
    EXPECT_EQ(at % 4, 0u);
    std::string name = readString(g.bytes, at);
    EXPECT_EQ(name.size(), 31u) << "cut to its 64-byte field";
    EXPECT_EQ(name.substr(0, 9), "\\\\ROUTER\\");
    EXPECT_EQ(get_le16(&g.bytes[at + 64]), 0x0401) << "device mode version";
    EXPECT_EQ(get_le16(&g.bytes[at + 66]), 0x0600);
    EXPECT_EQ(get_le16(&g.bytes[at + 68]), spoolss::kDevModeBytes) << "size of the fixed part";
    EXPECT_EQ(get_le16(&g.bytes[at + 70]), 3);
    EXPECT_EQ(get_le32(&g.bytes[at + 72]), SY_DEVMODE_FORMNAME);
    EXPECT_EQ(get_le16(&g.bytes[at + 76]), 1);
    EXPECT_EQ(readString(g.bytes, at + 102), "Letter");
    EXPECT_EQ(get_le32(&g.bytes[at + 216]), 0x11223344u);
    EXPECT_EQ(g.bytes[at + 220], 0xA1);
    EXPECT_EQ(g.bytes[at + 222], 0xA3);
    EXPECT_TRUE(g.guardIntact());
}

TEST(SpoolssPack, DescriptorsBelowOrInline)
{
    CMSdSecurityDescriptor sd;
    ASSERT_TRUE(cmSdGetDefaultSecurityDescriptor(&sd));
    uint8_t packed[CM_SD_MAX_SIZE];
    uint32_t n = spoolss::packDescriptor(packed, sizeof packed, sd.data, sd.length);
    ASSERT_GT(n, 20u);
    EXPECT_EQ(spoolss::packDescriptor(packed, n - 1, sd.data, sd.length), 0u) << "no room";
    EXPECT_EQ(spoolss::packDescriptor(packed, sizeof packed, sd.data, 0), 0u);

    Guarded below(n + 40);
    auto b = below.buffer();
    b.u32(1);
    b.descriptor(sd.data, sd.length);
    ASSERT_FALSE(b.failed());
    uint32_t at = get_le32(&below.bytes[4]);
    EXPECT_EQ(at % 4, 0u);
    EXPECT_EQ(std::vector<uint8_t>(below.bytes.begin() + at, below.bytes.begin() + at + n),
              std::vector<uint8_t>(packed, packed + n));
    EXPECT_TRUE(below.guardIntact());

    Guarded tight(n);
    auto t = tight.buffer();
    t.descriptor(sd.data, sd.length);
    EXPECT_TRUE(t.failed()) << "no room for the offset field beside it";
    EXPECT_TRUE(tight.guardIntact());

    Guarded inl(n + 4);
    auto i = inl.buffer();
    i.descriptorInline(sd.data, sd.length);
    ASSERT_FALSE(i.failed());
    EXPECT_EQ(get_le32(&inl.bytes[0]), 4u);
    EXPECT_EQ(i.fixed(), n + 4);
    EXPECT_TRUE(inl.guardIntact());
}

TEST(SpoolssPack, SizesOfTexts)
{
    EXPECT_EQ(spoolss::textLength(nullptr), 0u);
    EXPECT_EQ(spoolss::stringSize(nullptr), 4u);
    EXPECT_EQ(spoolss::stringSize(W("").data()), 6u);
    EXPECT_EQ(spoolss::stringSize(W("A4").data()), 10u);
}

}  // namespace
