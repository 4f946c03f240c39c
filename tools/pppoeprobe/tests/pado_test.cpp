// The PADO checks and tag walk.
#include "frames.h"

#include <gtest/gtest.h>

#include "fw_test/memory_file.h"

#include <cstdio>
#include <optional>

using namespace pppoe;
using pppoe_test::pado;
using pppoe_test::Tag;

namespace {

TEST(Padi, FrameIsTheTwentyFourBytesOfTheProtocol)
{
    zmo_mac_addr_t own;
    ASSERT_TRUE(zmo_mac_addr_parse(&own, "02:11:22:33:44:55"));
    uint8_t frame[kPadiLen];
    padi_build(frame, own);
    const uint8_t want[] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55,
                            0x88, 0x63, 0x11, 0x09, 0x00, 0x00, 0x00, 0x04, 0x01, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + sizeof frame),
              std::vector<uint8_t>(want, want + sizeof want));
}

TEST(Pado, HeaderChecks)
{
    std::vector<uint8_t> good = pado({{kTagAcName, "ac"}});
    struct Case {
        const char *name;
        std::vector<uint8_t> frame;
        bool offer;
    } cases[] = {
        {"good", good, true},
        {"PADI code", pado({{kTagAcName, "ac"}}, -1, nullptr, 0x09), false},
        {"version",
         [&] {
             auto f = good;
             f[14] = 0x12;
             return f;
         }(),
         false},
        {"session",
         [&] {
             auto f = good;
             f[17] = 1;
             return f;
         }(),
         false},
        {"length 0", pado({}, 0), false},
        {"length 1477", pado({{kTagAcName, "ac"}}, 1477), false},
        {"length 1476 on a short frame", pado({{kTagAcName, "ac"}}, 1476), true},
        {"header cut", std::vector<uint8_t>(good.begin(), good.begin() + 19), false},
        {"ethernet header only", std::vector<uint8_t>(good.begin(), good.begin() + 14), false},
        {"empty", {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fw_test::MemoryFile d;  // the walk's complaints, as the probe prints them
        Offer o;
        EXPECT_EQ(pado_parse(c.frame.data(), c.frame.size(), &o, d.get()), c.offer);
    }
}

struct WalkCase {
    const char *name;
    std::vector<uint8_t> frame;
    std::string ac_name;
    std::vector<std::string> services;
    std::optional<std::string> error;
    const char *diag;
};

const char kAcErr[] = "unknown access concentrator error";

std::vector<uint8_t> cut(std::vector<uint8_t> v, size_t n)
{
    v.resize(n);
    return v;
}

TEST(Pado, TagWalk)
{
    const WalkCase cases[] = {
        {"name and services",
         pado({{kTagServiceName, "isp"},
               {kTagAcName, "ac1"},
               {kTagServiceName, ""},
               {0x0104, "cookie"},
               {kTagServiceName, "video"}}),
         "ac1",
         {"isp", "", "video"},
         std::nullopt,
         ""},
        {"end of list ends the walk",
         pado({{kTagAcName, "ac"}, {kTagEndOfList, ""}, {kTagServiceName, "x"}}),
         "ac",
         {},
         std::nullopt,
         ""},
        {"end of list with a length",
         pado({{kTagEndOfList, "zz"}, {kTagAcName, "ac"}}),
         "ac",
         {},
         kAcErr,
         "End-of-list tag received from 02:00:00:00:00:01 has an invalid length (2).\n"},
        {"two AC names",
         pado({{kTagAcName, "one"}, {kTagAcName, "two"}}),
         "one",
         {},
         kAcErr,
         "02:00:00:00:00:01 server sends several AC names (\"one\", \"two\") in the same packet.\n"},
        {"empty service name error",
         pado({{kTagAcName, "ac"}, {kTagServiceNameError, ""}}),
         "ac",
         {},
         "unknown service name error",
         ""},
        {"service name error text",
         pado({{kTagAcName, "ac"}, {kTagServiceNameError, "no such"}}),
         "ac",
         {},
         "no such",
         ""},
        {"empty system error", pado({{kTagAcSystemError, ""}, {kTagAcName, "ac"}}), "ac", {}, kAcErr, ""},
        {"empty generic error",
         pado({{kTagGenericError, ""}, {kTagAcName, "ac"}}),
         "ac",
         {},
         "generic server error",
         ""},
        {"full generic error",
         pado({{kTagGenericError, std::string(1400, 'e')}, {kTagAcName, "ac"}}),
         "ac",
         {},
         std::string(1400, 'e'),
         ""},
        {"last error wins", pado({{kTagGenericError, "a"}, {kTagAcSystemError, "b"}}), "", {}, "b", ""},
        {"tag past the length",
         pado({{kTagAcName, "ac"}, {kTagServiceName, "abc", 40}}),
         "ac",
         {},
         kAcErr,
         "A PADO tag (0x0101) with an invalid length (40) received from 02:00:00:00:00:01.\n"},
        {"length beyond the frame",
         cut(pado({{kTagAcName, "ac"}, {kTagServiceName, "abcdef"}}, 100), 34),
         "ac",
         {},
         kAcErr,
         "A PADO tag (0x0101) with an invalid length (6) received from 02:00:00:00:00:01.\n"},
        {"length shorter than the tags",
         pado({{kTagAcName, "ac"}, {kTagServiceName, "isp"}}, 6),
         "ac",
         {},
         std::nullopt,
         ""},
        {"no AC name", pado({{kTagServiceName, "isp"}}), "", {"isp"}, std::nullopt, ""},
        {"control bytes in a second name",
         pado({{kTagAcName, "a\nb"}, {kTagAcName, "c\x7f\x01"}}),
         "a\nb",
         {},
         kAcErr,
         "02:00:00:00:00:01 server sends several AC names (\"a_b\", \"c__\") in the same packet.\n"},
    };
    for (const WalkCase &c : cases) {
        SCOPED_TRACE(c.name);
        fw_test::MemoryFile d;  // the walk's complaints, as the probe prints them
        Offer o;
        ASSERT_TRUE(pado_parse(c.frame.data(), c.frame.size(), &o, d.get()));
        EXPECT_EQ(o.ac_name, c.ac_name);
        EXPECT_EQ(o.services, c.services);
        EXPECT_EQ(o.has_error, c.error.has_value());
        if (c.error) {
            EXPECT_EQ(o.error, *c.error);
        }
        EXPECT_EQ(d.text(), c.diag);
        char mac[ZMO_MAC_ADDR_STRLEN];
        EXPECT_STREQ(zmo_mac_addr_as_string(&o.mac, mac), "02:00:00:00:00:01");
    }
}

// The walk must stay inside what arrived however large the length field;
// ASan sees any read past the vector's end.
TEST(Pado, EveryCutOfAFrameStaysInsideIt)
{
    std::vector<uint8_t> full =
        pado({{kTagAcName, "access"}, {kTagServiceName, "isp"}, {kTagGenericError, "x"}});
    for (size_t n = 0; n <= full.size(); n++) {
        std::vector<uint8_t> part(full.begin(), full.begin() + n);
        part.shrink_to_fit();
        fw_test::MemoryFile d;  // the walk's complaints, as the probe prints them
        Offer o;
        pado_parse(part.data(), part.size(), &o, d.get());
    }
}

}  // namespace
