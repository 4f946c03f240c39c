// Descriptors and SIDs between the wire and the record: parse, pack,
// validity, and refusal of parts that leave the input or the 512 bytes.
#include "sd_test_util.h"

#include <gtest/gtest.h>

using namespace sdtest;

namespace {

const Bytes kAdmins = sid(5, {32, 544});
const Bytes kEveryone = sid(1, {0});

Bytes pack(CMSdSecurityDescriptor &sd, uint32_t information, uint32_t room = 600)
{
    Bytes out(room, 0xEE);
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, out.data(), 0);
    d.length = room;
    cmSdPackSecurityDescriptor(&d, &sd, information);
    out.resize(d.current - out.data());
    return out;
}

TEST(SdWire, ParseThenPackGivesTheWireBack)
{
    Bytes wire = descriptor({kAdmins, sid(5, {32, 545}), {}, acl({ace(0, 3, 0x1F01FF, kEveryone)})});
    CMSdSecurityDescriptor sd;
    ASSERT_EQ(parse(wire, sd), 1);
    EXPECT_EQ(sd.length, wire.size());
    EXPECT_EQ(pack(sd, CM_SD_OWNER | CM_SD_GROUP | CM_SD_DACL), wire);
    EXPECT_EQ(sd.length, wire.size());
}

TEST(SdWire, PackWithNoInformationIsTheEmptyDescriptor)
{
    Bytes wire = descriptor({kAdmins, {}, {}, acl({ace(0, 3, 0x1F01FF, kEveryone)})});
    CMSdSecurityDescriptor sd;
    ASSERT_EQ(parse(wire, sd), 1);
    Bytes expected{1, 0, 0, 0x80};
    expected.resize(20, 0);
    EXPECT_EQ(pack(sd, 0), expected);
    EXPECT_EQ(sd.length, 20u);
}

TEST(SdWire, PackOfADescriptorWithoutPartsIsFourZeroBytes)
{
    CMSdSecurityDescriptor sd;
    ASSERT_EQ(parse(descriptor({}), sd), 1);
    EXPECT_EQ(sd.length, 20u);
    EXPECT_EQ(pack(sd, 0x7), Bytes(4, 0));
    EXPECT_EQ(sd.length, 4u);
}

TEST(SdWire, PackKeepsAnEarlierOverrunAndReportsItsOwn)
{
    CMSdSecurityDescriptor sd;
    ASSERT_EQ(parse(descriptor({}), sd), 1);
    uint8_t out[8];
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, out, 0);
    d.length = sizeof out;
    d.overrun = 1;
    cmSdPackSecurityDescriptor(&d, &sd, 0x7);
    EXPECT_TRUE(cmRpcIsOverrun(&d));
    cmRpcSetDescriptor(&d, out, 0);
    d.length = sizeof out;
    cmSdPackSecurityDescriptor(&d, &sd, 0);
    EXPECT_TRUE(cmRpcIsOverrun(&d)) << "20 bytes do not fit 8";
}

TEST(SdWire, PackWritesOwnerFirstWhateverTheWireOrder)
{
    // DACL before owner on the wire.
    Bytes dacl = acl({ace(0, 3, 0x1F01FF, kEveryone)});
    Bytes wire{1, 0, 4, 0x80};
    wire.resize(20, 0);
    uint32_t daclAt = 20, ownerAt = uint32_t(20 + dacl.size());
    std::memcpy(&wire[16], &daclAt, 4);
    std::memcpy(&wire[4], &ownerAt, 4);
    wire.insert(wire.end(), dacl.begin(), dacl.end());
    wire.insert(wire.end(), kAdmins.begin(), kAdmins.end());
    CMSdSecurityDescriptor sd;
    ASSERT_EQ(parse(wire, sd), 1);
    // The owner after the DACL is part of the descriptor.
    EXPECT_EQ(sd.length, wire.size());
    Bytes out = pack(sd, CM_SD_OWNER | CM_SD_DACL);
    EXPECT_EQ(get_le32(&out[4]), 20u);
    EXPECT_EQ(get_le32(&out[16]), 20u + kAdmins.size());
    EXPECT_EQ(Bytes(out.begin() + 20, out.begin() + 36), kAdmins);
}

// Reading six of eight would leave the cursor inside the SID and misread
// everything after it: a SID the record cannot hold is refused.
TEST(SdWire, SidWithMoreThanSixSubauthoritiesIsRefused)
{
    for (Bytes wire : {sid(5, {21, 1, 2, 3, 4, 5, 6}), sid(5, {21, 1, 2, 3, 4, 5, 6, 7})}) {
        const size_t subs = wire[1];
        wire.push_back(0xAA);
        CMRpcPacketDescriptor d;
        cmRpcSetDescriptor(&d, wire.data(), 0);
        d.length = uint32_t(wire.size());
        CMSdDomainSid s;
        cmSdParseSid(&d, &s);
        EXPECT_TRUE(cmRpcIsOverrun(&d)) << subs;
        EXPECT_EQ(s.count, 0);
    }
    Bytes six = sid(5, {21, 1, 2, 3, 4, 5});
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, six.data(), 0);
    d.length = uint32_t(six.size());
    CMSdDomainSid s;
    cmSdParseSid(&d, &s);
    EXPECT_FALSE(cmRpcIsOverrun(&d));
    EXPECT_EQ(s.count, 6);
    EXPECT_EQ(s.subauthorities[5], 5u);
    EXPECT_EQ(uint32_t(d.current - six.data()), six.size());
}

TEST(SdWire, PackSidRidAppendsTheRid)
{
    CMSdDomainSid s = domainSid({21, 7, 8, 9});
    uint8_t out[28];
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, out, 0);
    d.length = sizeof out;
    cmSdPackSidRid(&d, &s, 1000);
    EXPECT_EQ(d.current - out, 28);
    EXPECT_EQ(out[1], 5);
    EXPECT_EQ(get_le32(out + 24), 1000u);
    EXPECT_EQ(s.count, 4);
}

// Parts placed where the input or the record cannot hold them are refused.
TEST(SdWire, PartsOutsideTheInputOrTheRecordAreRefused)
{
    struct Case {
        const char *what;
        Bytes wire;
    };
    Bytes good = descriptor({kAdmins, {}, {}, acl({ace(0, 3, 0x1F01FF, kEveryone)})});
    auto withOwnerAt = [&](uint32_t at) {
        Bytes b = good;
        std::memcpy(&b[4], &at, 4);
        return b;
    };
    Bytes truncated(good.begin(), good.end() - 3);
    Bytes hugeCount = good;
    put_le32(hugeCount, 0);
    uint32_t count = 0xFFFFFFFF;
    std::memcpy(&hugeCount[20 + kAdmins.size() + 4], &count, 4);
    Bytes farDacl = descriptor({});
    farDacl.resize(508, 0);
    Bytes tail = acl({ace(0, 3, 0x1F01FF, kEveryone)});
    uint32_t at = 508;
    std::memcpy(&farDacl[16], &at, 4);
    farDacl.insert(farDacl.end(), tail.begin(), tail.end());
    const Case cases[] = {
        {"owner past the input", withOwnerAt(uint32_t(good.size() + 4))},
        {"owner inside the header", withOwnerAt(8)},
        {"owner offset overflowing", withOwnerAt(0xFFFFFFF0)},
        {"ACE cut by the input", truncated},
        {"ACE count beyond everything", hugeCount},
        {"DACL reaching past 512", farDacl},
        {"header alone cut", Bytes{1, 0, 4}},
    };
    for (const Case &c : cases) {
        CMSdSecurityDescriptor sd;
        sd.length = 99;
        EXPECT_EQ(parse(c.wire, sd), 0) << c.what;
        EXPECT_EQ(sd.length, 0u) << c.what;
    }
}

TEST(SdWire, Validity)
{
    struct Case {
        const char *what;
        Bytes wire;
        uint32_t length;  // 0: the wire's
        int valid;
    };
    Bytes dacl1 = acl({ace(0, 3, 0x1F01FF, kEveryone)});
    auto withDaclAt = [&](uint32_t at) {
        Bytes b = descriptor({{}, {}, {}, dacl1});
        std::memcpy(&b[16], &at, 4);
        return b;
    };
    const Case cases[] = {
        {"one ACE", descriptor({{}, {}, {}, dacl1}), 0, 1},
        {"DACL without ACE", descriptor({{}, {}, {}, acl({})}), 0, 1},
        {"no DACL", descriptor({kAdmins, {}, {}, {}}), 0, 0},
        {"DACL at 465", withDaclAt(465), 0, 0},
        {"DACL at 464", withDaclAt(464), 0, 1},
        {"ACE of 44 bytes", descriptor({{}, {}, {}, acl({ace(0, 3, 1, kEveryone, 44)})}), 0, 0},
        {"ACE of 40 bytes", descriptor({{}, {}, {}, acl({ace(0, 3, 1, kEveryone, 40)})}), 0, 1},
        {"ACE of 12 bytes", descriptor({{}, {}, {}, acl({ace(0, 3, 1, kEveryone, 12)})}), 0, 0},
        {"ACE of 0 bytes", descriptor({{}, {}, {}, acl({ace(0, 3, 1, kEveryone, 0xFFFF)})}), 0, 0},
        {"count beyond the ACEs", descriptor({{}, {}, {}, acl({ace(0, 3, 1, kEveryone)}, 100)}), 0, 0},
        {"length over 512", descriptor({{}, {}, {}, dacl1}), 513, 0},
    };
    for (const Case &c : cases) {
        CMSdSecurityDescriptor sd = record(c.wire);
        if (c.length)
            sd.length = c.length;
        EXPECT_EQ(cmSdIsValid(&sd), c.valid) << c.what;
    }
}

TEST(SdWire, RidTypesAndWellKnownSids)
{
    const std::pair<uint32_t, uint32_t> types[] = {{544, 4}, {545, 4}, {546, 4}, {512, 2},
                                                   {513, 2}, {514, 2}, {500, 1}, {1000, 1}};
    for (auto [rid, type] : types)
        EXPECT_EQ(cmSdGetRidType(rid), type) << rid;
    EXPECT_EQ(Bytes(cmSdGetEveryoneGroupACE(), cmSdGetEveryoneGroupACE() + 12), kEveryone);
    EXPECT_EQ(Bytes(cmSdGetAdministratorsGroupACE(), cmSdGetAdministratorsGroupACE() + 16), kAdmins);
    EXPECT_EQ(Bytes(cmSdGetUsersGroupACE(), cmSdGetUsersGroupACE() + 16), sid(5, {32, 545}));
    CMSdDomainSid builtin = domainSid({32}), other = domainSid({32, 544});
    EXPECT_EQ(cmSdIsAnySid(&builtin), 1);
    EXPECT_EQ(cmSdIsAnySid(&other), 0);
}

}  // namespace
