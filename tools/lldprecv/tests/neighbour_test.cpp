// What lldprecv reads from LLDPDUs: lldpsend's own frames, and broken ones.
#include "lldpdu.h"
#include "neighbour.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lldp;

namespace {

std::vector<uint8_t> sent(const Announcement &a)
{
    uint8_t buf[kFrameMax];
    size_t n = build(a, buf);
    return std::vector<uint8_t>(buf, buf + n);
}

Announcement private_form()
{
    Announcement a;
    a.private_scope = true;
    zmo_mac_addr_parse(&a.chassis, "02:aa:bb:cc:dd:ee");
    a.port_id = "eth0";
    a.ifindex = 5;
    a.system_description = "Gateway 4";
    a.has_address = true;
    const uint8_t addr[4] = {192, 168, 1, 1};
    std::memcpy(a.address, addr, 4);
    a.http_port = 80;
    a.firmware = "4.1.2";
    a.client_id = "client-1";
    a.controller_client_id = "ctl-9";
    return a;
}

// An Ethernet header for LLDP and raw TLV bytes behind it.
std::vector<uint8_t> frame(const std::vector<uint8_t> &tlvs)
{
    std::vector<uint8_t> f = {0x01, 0x80, 0xC2, 0, 0, 0x0E, 0x02, 1, 2, 3, 4, 5, 0x88, 0xCC};
    f.insert(f.end(), tlvs.begin(), tlvs.end());
    return f;
}

std::vector<uint8_t> tlv(unsigned type, const std::string &value, int declared = -1)
{
    size_t len = declared >= 0 ? size_t(declared) : value.size();
    uint16_t h = tlv_header(type, len);
    std::vector<uint8_t> v = {uint8_t(h >> 8), uint8_t(h)};
    v.insert(v.end(), value.begin(), value.end());
    return v;
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::string kChassis = std::string("\x04\x02\x01\x02\x03\x04\x05", 7);

struct Result {
    bool report;
    Neighbour n;
    std::vector<std::string> diag;
};

Result parse(const std::vector<uint8_t> &f)
{
    Result r;
    std::vector<uint8_t> exact(f);
    exact.shrink_to_fit();
    r.report = parse_lldpdu(exact.data(), exact.size(), &r.n, [&](const char *l) { r.diag.push_back(l); });
    return r;
}

TEST(Neighbour, LldpsendPrivateFrame)
{
    Result r = parse(sent(private_form()));
    ASSERT_TRUE(r.report);
    EXPECT_EQ(std::vector<uint8_t>(r.n.mac, r.n.mac + 6),
              (std::vector<uint8_t>{2, 0xaa, 0xbb, 0xcc, 0xdd, 0xee}));
    EXPECT_EQ(r.n.ip, 16885952u) << "192.168.1.1, first byte least significant";
    EXPECT_EQ(r.n.desc, "Gateway 4");
    EXPECT_EQ(r.n.mode, "router");
    EXPECT_EQ(r.n.http_port, 80);
    EXPECT_EQ(r.n.fw_version, "4.1.2");
    EXPECT_EQ(r.n.cid, "client-1");
    EXPECT_EQ(r.n.controller_cid, "ctl-9");
    EXPECT_TRUE(r.diag.empty());
}

TEST(Neighbour, PublicFrameHasNoZmoExtras)
{
    Announcement a = private_form();
    a.private_scope = false;
    Result r = parse(sent(a));
    ASSERT_TRUE(r.report);
    EXPECT_EQ(r.n.ip, 0u);
    EXPECT_EQ(r.n.mode, "router");
    EXPECT_EQ(r.n.http_port, 0);
    EXPECT_EQ(r.n.fw_version, "");
    EXPECT_EQ(r.n.cid, "");
    EXPECT_EQ(r.n.controller_cid, "");
}

TEST(Neighbour, FramesThatGiveNoReport)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> f;
    } cases[] = {
        {"locally assigned chassis", frame(cat({tlv(1, "\x07"
                                                       "router1"),
                                                tlv(0, "")}))},
        {"chassis of six bytes",
         frame(cat({tlv(1, std::string("\x04\x01\x02\x03\x04\x05", 6)), tlv(0, "")}))},
        {"chassis of one byte", frame(cat({tlv(1, "\x04")}))},
        {"empty chassis", frame(cat({tlv(1, "")}))},
        {"IPv6 management address",
         frame(cat({tlv(1, kChassis), tlv(8, std::string("\x11\x02", 2) + std::string(16, '\x01') + "\x02" +
                                                 std::string(5, '\0'))}))},
        {"short management address", frame(cat({tlv(1, kChassis), tlv(8, "\x05\x01\xC0")}))},
        {"two bytes after the header", frame({0x02})},
        {"header only", frame({})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(parse(c.f).report);
    }
}

TEST(Neighbour, FieldLimits)
{
    auto zmo = [](uint8_t sub, const std::string &d) { return tlv(127, std::string("ZMO") + char(sub) + d); };
    struct Case {
        const char *name;
        std::vector<uint8_t> tlvs;
        std::function<void(const Neighbour &)> check;
    } cases[] = {
        {"mode of 31 bytes", zmo(1, std::string(31, 'm')),
         [](const Neighbour &n) { EXPECT_EQ(n.mode.size(), 31u); }},
        {"mode of 32 bytes", zmo(1, std::string(32, 'm')), [](const Neighbour &n) { EXPECT_EQ(n.mode, ""); }},
        {"port of one byte", zmo(2, "\x50"), [](const Neighbour &n) { EXPECT_EQ(n.http_port, 0); }},
        {"port of three bytes", zmo(2, std::string("\x1f\x90\x00", 3)),
         [](const Neighbour &n) { EXPECT_EQ(n.http_port, 0); }},
        {"port 8080", zmo(2, "\x1f\x90"), [](const Neighbour &n) { EXPECT_EQ(n.http_port, 8080); }},
        {"client id of 127", zmo(4, std::string(127, 'c')),
         [](const Neighbour &n) { EXPECT_EQ(n.cid.size(), 127u); }},
        {"client id of 128", zmo(4, std::string(128, 'c')), [](const Neighbour &n) { EXPECT_EQ(n.cid, ""); }},
        {"firmware of 128", zmo(3, std::string(128, 'v')),
         [](const Neighbour &n) { EXPECT_EQ(n.fw_version, ""); }},
        {"controller id", zmo(5, "ctl"), [](const Neighbour &n) { EXPECT_EQ(n.controller_cid, "ctl"); }},
        {"other subtype", zmo(9, "x"), [](const Neighbour &n) { EXPECT_EQ(n.mode, ""); }},
        {"other OUI", tlv(127, std::string("\x00\x12\x0f\x01", 4) + "mode"),
         [](const Neighbour &n) { EXPECT_EQ(n.mode, ""); }},
        {"organisation TLV of three bytes", tlv(127, "ZMO"),
         [](const Neighbour &n) { EXPECT_EQ(n.mode, ""); }},
        {"organisation TLV of OUI and subtype", zmo(1, ""),
         [](const Neighbour &n) { EXPECT_EQ(n.mode, ""); }},
        {"description of 383", tlv(6, std::string(383, 'd')),
         [](const Neighbour &n) { EXPECT_EQ(n.desc.size(), 383u); }},
        {"description of 384", tlv(6, std::string(384, 'd')),
         [](const Neighbour &n) { EXPECT_EQ(n.desc, ""); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Result r = parse(frame(cat({tlv(1, kChassis), c.tlvs, tlv(0, "")})));
        ASSERT_TRUE(r.report);
        c.check(r.n);
    }
}

TEST(Neighbour, TruncatedTlvEndsTheWalkButStillReports)
{
    Result r = parse(frame(cat({tlv(1, kChassis), tlv(6, "desc"), tlv(127, "ZMO\x01router", 40)})));
    ASSERT_TRUE(r.report);
    EXPECT_EQ(r.n.desc, "desc");
    EXPECT_EQ(r.n.mode, "");
    EXPECT_EQ(r.diag, std::vector<std::string>{"packet len: 41, offset: 29, TLV len:40"});
    // A lone byte after the last TLV is no header: the walk just ends.
    Result odd = parse(frame(cat({tlv(1, kChassis), tlv(0, ""), {0x00}})));
    EXPECT_TRUE(odd.report);
    EXPECT_TRUE(odd.diag.empty());
}

TEST(Neighbour, ZeroBytesAfterTheEndAreWalkedOver)
{
    Result r = parse(frame(cat({tlv(1, kChassis), tlv(0, ""), {0, 0, 0, 0}, tlv(6, "after")})));
    ASSERT_TRUE(r.report);
    EXPECT_EQ(r.n.desc, "after");
}

TEST(Neighbour, ShortFrameIsMalformed)
{
    Result r = parse({0x01, 0x80, 0xC2, 0, 0, 0x0E, 0x02, 1, 2, 3, 4, 5, 0x88, 0xCC, 0x02});
    EXPECT_FALSE(r.report);
    EXPECT_EQ(r.diag, std::vector<std::string>{"malformed LLDP packet"});
}

}  // namespace
