#include <gtest/gtest.h>

#include "zmo.h"

namespace {
TEST(MacAddr, ParseAndPrint)
{
    const struct {
        const char *text;
        bool ok;
        const char *printed;
    } cases[] = {
        {"00:11:22:AA:bb:Cc", true, "00:11:22:aa:bb:cc"},
        {"00-11-22-33-44-55", true, "00:11:22:33:44:55"},
        {"ff:ff:ff:ff:ff:ff", true, "ff:ff:ff:ff:ff:ff"},
        {"00:11:22:33:44", false, nullptr},
        {"00:11:22:33:44:55:66", false, nullptr},
        {"00:11-22:33:44:55", false, nullptr},
        {"0:11:22:33:44:55", false, nullptr},
        {"00:11:22:33:44:5g", false, nullptr},
        {"", false, nullptr},
    };
    for (const auto &c : cases) {
        zmo_mac_addr_t m;
        zmo_mac_addr_init(&m);
        EXPECT_EQ(zmo_mac_addr_parse(&m, c.text) != 0, c.ok) << c.text;
        if (c.ok) {
            char buf[ZMO_MAC_ADDR_STRLEN];
            EXPECT_STREQ(zmo_mac_addr_as_string(&m, buf), c.printed);
        }
    }
}

TEST(MacAddr, InitAssignCompare)
{
    zmo_mac_addr_t a, b;
    zmo_mac_addr_init(&a);
    const uint8_t zero[6] = {0};
    EXPECT_EQ(memcmp(a.bytes, zero, 6), 0);
    const uint8_t bytes[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    EXPECT_FALSE(zmo_mac_addr_assign_array(&b, bytes, 5));
    ASSERT_TRUE(zmo_mac_addr_assign_array(&b, bytes, 6));
    EXPECT_TRUE(zmo_mac_addr_is_equal(&b, ZMO_MAC_ADDR_BROADCAST));
    EXPECT_FALSE(zmo_mac_addr_is_equal(&a, ZMO_MAC_ADDR_BROADCAST));
}
}  // namespace
