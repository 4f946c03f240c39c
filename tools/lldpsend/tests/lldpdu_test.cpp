// The LLDPDU in both forms, TLV by TLV.
#include "lldpdu.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lldp;

namespace {

struct Tlv {
    unsigned type;
    std::string value;
    bool operator==(const Tlv &o) const { return type == o.type && value == o.value; }
};
std::ostream &operator<<(std::ostream &os, const Tlv &t)
{
    os << "{" << t.type << ", ";
    for (unsigned char c : t.value)
        os << std::hex << int(c) << " ";
    return os << std::dec << "}";
}

struct Frame {
    std::vector<uint8_t> bytes;
    std::vector<Tlv> tlvs;
    std::string dest() const { return std::string(bytes.begin(), bytes.begin() + 6); }
};

// Walks the TLVs strictly: every byte of the frame belongs to one.
Frame built(const Announcement &a, std::vector<Cut> *cuts = nullptr)
{
    uint8_t buf[kFrameMax];
    Frame f;
    size_t len = build(a, buf, cuts);
    f.bytes.assign(buf, buf + len);
    EXPECT_GE(len, kEthHeader);
    EXPECT_LE(len, kFrameMax);
    EXPECT_EQ(buf[12], 0x88);
    EXPECT_EQ(buf[13], 0xCC);
    size_t at = kEthHeader;
    while (at + 2 <= len) {
        uint16_t h = uint16_t(buf[at] << 8 | buf[at + 1]);
        size_t l = tlv_length(h);
        EXPECT_LE(at + 2 + l, len);
        if (at + 2 + l > len)
            break;
        f.tlvs.push_back({tlv_type(h), std::string(reinterpret_cast<char *>(buf) + at + 2, l)});
        at += 2 + l;
    }
    EXPECT_EQ(at, len) << "bytes after the last TLV";
    return f;
}

std::string org(uint8_t subtype, const std::string &data)
{
    return std::string("ZMO") + char(subtype) + data;
}

Announcement minimal()
{
    Announcement a;
    zmo_mac_addr_parse(&a.chassis, "02:11:22:33:44:55");
    a.port_id = "eth0";
    a.ifindex = 3;
    return a;
}

TEST(Lldpdu, PublicFormWithDefaults)
{
    Frame f = built(minimal());
    EXPECT_EQ(f.dest(), std::string("\x01\x80\xC2\x00\x00\x0E", 6));
    EXPECT_EQ(std::string(f.bytes.begin() + 6, f.bytes.begin() + 12), "\x02\x11\x22\x33\x44\x55");
    const std::vector<Tlv> want = {
        {1, std::string("\x04\x02\x11\x22\x33\x44\x55", 7)},
        {2, "\x05"
            "eth0"},
        {3, std::string("\x00\x78", 2)},
        {4, ""},
        {5, ""},
        {6, ""},
        {7, std::string("\x00\x10\x00\x10", 4)},
        {127, org(1, "router")},
        {0, ""},
    };
    EXPECT_EQ(f.tlvs, want);
}

TEST(Lldpdu, PrivateFormWithAddressPortAndIds)
{
    Announcement a = minimal();
    a.private_scope = true;
    a.has_address = true;
    const uint8_t addr[4] = {192, 168, 1, 1};
    std::memcpy(a.address, addr, 4);
    a.http_port = 80;
    a.firmware = "4.1";
    a.client_id = "cid-1";
    a.controller_client_id = "ctl-2";
    a.system_description = "Router";
    Frame f = built(a);
    EXPECT_EQ(f.dest(), std::string(6, '\xff'));
    const std::vector<Tlv> want = {
        {1, std::string("\x04\x02\x11\x22\x33\x44\x55", 7)},
        {2, "\x05"
            "eth0"},
        {3, std::string("\x00\x78", 2)},
        {4, ""},
        {5, ""},
        {6, "Router"},
        {8, std::string("\x05\x01\xC0\xA8\x01\x01\x02\x00\x00\x00\x03\x00", 12)},
        {7, std::string("\x00\x10\x00\x10", 4)},
        {127, org(1, "router")},
        {127, org(2, std::string("\x00\x50", 2))},
        {127, org(3, "4.1")},
        {127, org(4, "cid-1")},
        {127, org(5, "ctl-2")},
        {0, ""},
    };
    EXPECT_EQ(f.tlvs, want);
}

TEST(Lldpdu, WhatEachFormLeavesOut)
{
    struct Case {
        const char *name;
        std::function<void(Announcement &)> set;
        std::vector<unsigned> types;  // after the six first TLVs, ZMO subtypes as 127+n
    } cases[] = {
        {"public form ignores private fields",
         [](Announcement &a) {
             a.has_address = true;
             a.http_port = 80;
             a.client_id = "cid";
         },
         {7, 128, 0}},
        {"private without address or port",
         [](Announcement &a) { a.private_scope = true; },
         {7, 128, 130, 0}},
        {"one-character client ids",
         [](Announcement &a) {
             a.private_scope = true;
             a.client_id = "c";
             a.controller_client_id = "d";
         },
         {7, 128, 130, 0}},
        {"two-character client ids",
         [](Announcement &a) {
             a.private_scope = true;
             a.client_id = "cc";
             a.controller_client_id = "dd";
         },
         {7, 128, 130, 131, 132, 0}},
        {"port 0",
         [](Announcement &a) {
             a.private_scope = true;
             a.http_port = 0;
             a.has_address = true;
         },
         {8, 7, 128, 130, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Announcement a = minimal();
        c.set(a);
        Frame f = built(a);
        std::vector<unsigned> types;
        for (size_t i = 6; i < f.tlvs.size(); i++)
            types.push_back(f.tlvs[i].type == 127 ? 127 + uint8_t(f.tlvs[i].value[3]) : f.tlvs[i].type);
        EXPECT_EQ(types, c.types);
    }
}

TEST(Lldpdu, Capabilities)
{
    struct Case {
        const char *mode;
        bool bridge, wlan;
        uint16_t caps;
    } cases[] = {{"router", false, false, 16},
                 {"client", true, true, 12},
                 {"client", false, false, 0},
                 {"router", true, true, 28},
                 {"Router", false, true, 8}};
    for (const Case &c : cases) {
        Announcement a = minimal();
        a.mode = c.mode;
        a.bridge = c.bridge;
        a.wlan_ap = c.wlan;
        Frame f = built(a);
        char v[4] = {char(c.caps >> 8), char(c.caps), char(c.caps >> 8), char(c.caps)};
        EXPECT_EQ(f.tlvs[6], (Tlv{7, std::string(v, 4)})) << c.mode;
    }
}

TEST(Lldpdu, LongTextsAreCutToTheirTlv)
{
    Announcement a = minimal();
    a.system_description = std::string(600, 'd');
    a.mode = std::string(600, 'm');
    a.port_id = std::string(600, 'p');
    std::vector<Cut> cuts;
    Frame f = built(a, &cuts);
    EXPECT_EQ(f.tlvs[1].value.size(), 511u) << "subtype and 510 bytes of the name";
    // The frame has no room left for a whole description after the port id.
    ASSERT_GE(cuts.size(), 2u);
    EXPECT_STREQ(cuts[0].field, "port id");
    EXPECT_EQ(cuts[0].kept, 510u);
    EXPECT_EQ(f.bytes.size(), kFrameMax);
    EXPECT_EQ(f.tlvs.back(), (Tlv{0, ""})) << "the end TLV stays";
    EXPECT_EQ(f.tlvs[f.tlvs.size() - 2].value.substr(0, 4), org(1, ""));
}

TEST(Lldpdu, OrganisationTextsHold507Bytes)
{
    Announcement a = minimal();
    a.private_scope = true;
    a.firmware = std::string(700, 'v');
    std::vector<Cut> cuts;
    Frame f = built(a, &cuts);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_STREQ(cuts[0].field, "firmware version");
    EXPECT_EQ(cuts[0].length, 700u);
    EXPECT_EQ(cuts[0].kept, 507u);
    EXPECT_EQ(f.tlvs[f.tlvs.size() - 2].value, org(3, std::string(507, 'v')));
}

TEST(Lldpdu, EveryTextAtItsLongestStillMakesAWholeFrame)
{
    Announcement a = minimal();
    a.private_scope = true;
    a.has_address = true;
    a.http_port = 8080;
    for (std::string *s : {&a.port_id, &a.port_description, &a.system_name, &a.system_description, &a.mode,
                           &a.firmware, &a.client_id, &a.controller_client_id})
        *s = std::string(5000, 'x');
    std::vector<Cut> cuts;
    Frame f = built(a, &cuts);
    EXPECT_EQ(f.bytes.size(), kFrameMax);
    std::vector<unsigned> types;
    for (const Tlv &t : f.tlvs)
        types.push_back(t.type);
    EXPECT_EQ(types, (std::vector<unsigned>{1, 2, 3, 4, 5, 6, 8, 7, 127, 127, 127, 127, 127, 0}));
    EXPECT_EQ(cuts.size(), 8u);
}

}  // namespace
