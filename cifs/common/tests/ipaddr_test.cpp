// Dotted IPv4 text both ways.
#include "cmipaddr.h"
#include "cmstring.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <vector>

namespace {

TEST(IpAddr, ParsesExactlyFourParts)
{
    struct {
        const char *text;
        int rc;
        const char *normal;
    } cases[] = {
        {"10.0.0.1", 0, "10.0.0.1"}, {"255.255.255.255", 0, "255.255.255.255"},
        {"0.0.0.0", 0, "0.0.0.0"},   {"010.001.0.1", 0, "10.1.0.1"},
        {"10.0.1", -1, nullptr},     {"10.0.0.1.", -1, nullptr},
        {".10.0.0.1", -1, nullptr},  {"10..0.1", -1, nullptr},
        {"10.0.0.256", -1, nullptr}, {"10.0.0.99999999999999999999", -1, nullptr},
        {"10.0.0.a", -1, nullptr},   {"1.2.3.4.5", -1, nullptr},
        {"1.2.3.4 ", -1, nullptr},   {"-1.2.3.4", -1, nullptr},
        {"", -1, nullptr},
    };
    for (auto &c : cases) {
        uint32_t a = 0xDEADBEEF;
        EXPECT_EQ(cmAsciiToIp(c.text, &a), c.rc) << c.text;
        if (c.rc == 0) {
            EXPECT_EQ(a, inet_addr(c.normal)) << c.text;
            char back[16];
            EXPECT_EQ(cmIpToAscii(back, &a), 0);
            EXPECT_STREQ(back, c.normal);
        } else {
            EXPECT_EQ(a, 0xDEADBEEFu) << "untouched on failure";
        }
    }
    uint32_t a;
    EXPECT_EQ(cmAsciiToIp(nullptr, &a), -1);
    EXPECT_STREQ(cmIPDump(), "");
}

TEST(IpAddr, WideText)
{
    auto wide = [](const char *s) {
        std::vector<CMWchar> v(std::strlen(s) + 1);
        cmAnsiToUnicode(v.data(), s);
        return v;
    };
    uint32_t a;
    EXPECT_EQ(cmWcharToIp(wide("192.168.1.1").data(), &a), 0);
    EXPECT_EQ(a, inet_addr("192.168.1.1"));
    EXPECT_EQ(cmWcharToIp(wide("1.1.1.00000000000000000000001").data(), &a), -1) << "too long to be one";
    EXPECT_EQ(cmWcharToIp(wide("1.1.1").data(), &a), -1);
}

}  // namespace
