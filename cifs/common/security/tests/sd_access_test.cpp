// Access decisions on descriptors: the yes/no check, the granted mask,
// inheritance and the exclusive descriptor.
#include "sd_test_util.h"

#include <gtest/gtest.h>

using namespace sdtest;

namespace {

class SdAccessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(cmSdInit(), 0); }
    void TearDown() override { cmSdExit(); }
    const CMSdDomainSid &domain() { return *cmSdGetComputerSid(); }
    Bytes userSid(uint32_t rid)
    {
        Bytes s{1, 5, 0, 0, 0, 0, 0, 5};
        for (int i = 0; i < 4; ++i)
            put_le32(s, domain().subauthorities[i]);
        put_le32(s, rid);
        return s;
    }
};

const Bytes kEveryone = sid(1, {0});
const Bytes kAdmins = sid(5, {32, 544});
const Bytes kUsers = sid(5, {32, 545});
constexpr uint32_t kRead = 0x001200A9, kWrite = 0x00130116;

TEST_F(SdAccessTest, HasAccess)
{
    CMSdAccessToken user = token(domain(), {1000, 545});
    CMSdAccessToken admin = token(domain(), {1001, 545, 512, 544});
    CMSdAccessToken stranger = token(domainSid({21, 7, 7, 7}), {1000, 545});
    struct Case {
        const char *what;
        const CMSdAccessToken *token;
        Bytes wire;  // empty: no descriptor
        uint32_t desired;
        int granted;
    } const cases[] = {
        {"administrator asks write DAC without descriptor", &admin, {}, CM_SD_WRITE_DAC, 1},
        {"user asks write DAC without descriptor", &user, {}, CM_SD_WRITE_DAC, 0},
        {"denied Everyone before allowed", &user,
         descriptor({{}, {}, {}, acl({ace(1, 0, kRead, kEveryone), ace(0, 0, kRead, kEveryone)})}), kRead, 0},
        {"allowed Everyone before denied", &user,
         descriptor({{}, {}, {}, acl({ace(0, 0, kRead, kEveryone), ace(1, 0, kRead, kEveryone)})}), kRead, 1},
        {"denied own RID before allowed Everyone", &user,
         descriptor({{}, {}, {}, acl({ace(1, 0, kRead, userSid(1000)), ace(0, 0, kRead, kEveryone)})}), kRead,
         1},
        {"bits split over two ACEs", &user,
         descriptor({{}, {}, {}, acl({ace(0, 0, kRead, kEveryone), ace(0, 0, kWrite, kUsers)})}),
         kRead | kWrite, 0},
        {"Users alias", &user, descriptor({{}, {}, {}, acl({ace(0, 0, kRead, kUsers)})}), kRead, 1},
        {"Administrators alias refuses a user", &user,
         descriptor({{}, {}, {}, acl({ace(0, 0, kRead, kAdmins)})}), kRead, 0},
        {"own RID", &user, descriptor({{}, {}, {}, acl({ace(0, 0, kRead, userSid(1000))})}), kRead, 1},
        {"same RID of another domain", &stranger,
         descriptor({{}, {}, {}, acl({ace(0, 0, kRead, userSid(1000))})}), kRead, 0},
        {"empty DACL", &user, descriptor({{}, {}, {}, acl({})}), kRead, 0},
        {"no DACL", &user, descriptor({kAdmins, {}, {}, {}}), kRead, 0},
        {"oversized ACE", &user, descriptor({{}, {}, {}, acl({ace(0, 0, kRead, kEveryone, 44)})}), kRead, 0},
    };
    for (const Case &c : cases) {
        CMSdSecurityDescriptor sd = record(c.wire);
        EXPECT_EQ(cmSdHasAccess(c.token, c.wire.empty() ? nullptr : &sd, c.desired), c.granted) << c.what;
    }
}

TEST_F(SdAccessTest, GetAccessAddsAndRemovesMasks)
{
    CMSdAccessToken user = token(domain(), {1000, 545});
    struct Case {
        const char *what;
        Bytes wire;
        uint32_t granted;
    } const cases[] = {
        {"denied own RID then allowed Everyone",
         descriptor({{}, {}, {}, acl({ace(1, 0, kRead, userSid(1000)), ace(0, 0, kRead, kEveryone)})}),
         kRead},
        {"allowed Everyone then denied own RID",
         descriptor({{}, {}, {}, acl({ace(0, 0, kRead, kEveryone), ace(1, 0, 0x1, userSid(1000))})}),
         kRead & ~1u},
        {"union of two ACEs",
         descriptor({{}, {}, {}, acl({ace(0, 0, kRead, kEveryone), ace(0, 0, kWrite, kUsers)})}),
         kRead | kWrite},
        {"owner with an empty DACL", descriptor({userSid(1000), {}, {}, acl({})}), 0x00060000},
        {"other owner", descriptor({userSid(1001), {}, {}, acl({})}), 0},
        {"owner offset wrapping past the area",
         [&] {
             Bytes b = descriptor({userSid(1000), {}, {}, acl({ace(0, 0, kRead, kEveryone)})});
             b[4] = 0xFD, b[5] = b[6] = b[7] = 0xFF;
             return b;
         }(),
         kRead},
        {"no DACL", descriptor({kAdmins, {}, {}, {}}), 0xFFFFFFFF},
    };
    for (const Case &c : cases) {
        CMBlob blob{const_cast<uint8_t *>(c.wire.data()), uint32_t(c.wire.size())};
        EXPECT_EQ(cmSdGetAccess(&blob, &user), c.granted) << c.what;
    }
    Bytes big(513, 0);
    CMBlob tooLong{big.data(), 513};
    EXPECT_EQ(cmSdGetAccess(&tooLong, &user), 0xFFFFFFFFu);
}

TEST_F(SdAccessTest, InheritKeepsInheritableAcesAndRecomputesTheDacl)
{
    Bytes parentWire = descriptor({kAdmins, kUsers, acl({ace(0, 3, kRead, kEveryone)}),
                                   acl({ace(0, 0x02 | 0x04, kRead, kUsers), ace(0, 0, kWrite, kEveryone),
                                        ace(0, 0x0B, kRead, kEveryone)})});
    CMBlob parent{parentWire.data(), uint32_t(parentWire.size())};
    uint8_t out[512];
    // Without a token: owner and group copied from the parent, after the DACL.
    CMBlob child{out, sizeof out};
    uint32_t length = cmSdInherit(&parent, &child, nullptr);
    Bytes dacl = acl({ace(0, 0x04, kRead, kUsers), ace(0, 0x0B, kRead, kEveryone)});
    uint32_t daclAt = get_le32(out + 16);
    ASSERT_EQ(length, daclAt + dacl.size() + kAdmins.size() + kUsers.size());
    EXPECT_EQ(child.len, length);
    EXPECT_EQ(Bytes(out + daclAt, out + daclAt + dacl.size()), dacl);
    EXPECT_EQ(get_le32(out + 12), 0u) << "the SACL is not carried";
    EXPECT_EQ(get_le32(out + 4), daclAt + dacl.size());
    EXPECT_EQ(Bytes(out + get_le32(out + 8), out + get_le32(out + 8) + 16), kUsers);
    CMSdSecurityDescriptor sd = record(Bytes(out, out + length));
    EXPECT_EQ(cmSdIsValid(&sd), 1);

    // With a token: owner is the user, group the domain's users.
    CMSdAccessToken user = token(domain(), {1000, 545});
    child = {out, sizeof out};
    length = cmSdInherit(&parent, &child, &user);
    EXPECT_EQ(Bytes(out + get_le32(out + 4), out + get_le32(out + 4) + 28), userSid(1000));
    EXPECT_EQ(Bytes(out + get_le32(out + 8), out + get_le32(out + 8) + 28), userSid(513));
    EXPECT_EQ(length, get_le32(out + 8) + 28);
}

TEST_F(SdAccessTest, InheritWithoutOwnerWritesNoGroupOffset)
{
    Bytes parentWire = descriptor({{}, kUsers, {}, acl({ace(0, 3, kRead, kEveryone)})});
    // Group without owner: nothing follows the DACL, and no offset names it.
    CMBlob parent{parentWire.data(), uint32_t(parentWire.size())};
    uint8_t out[512];
    CMBlob child{out, sizeof out};
    uint32_t length = cmSdInherit(&parent, &child, nullptr);
    EXPECT_EQ(get_le32(out + 4), 0u);
    EXPECT_EQ(get_le32(out + 8), 0u);
    EXPECT_EQ(length, get_le32(out + 16) + 28);
    // A child buffer too small, or a parent that is not valid, gives nothing.
    CMBlob small{out, 30};
    EXPECT_EQ(cmSdInherit(&parent, &small, nullptr), 0u);
    Bytes noDacl = descriptor({kAdmins, {}, {}, {}});
    CMBlob bad{noDacl.data(), uint32_t(noDacl.size())};
    child = {out, sizeof out};
    EXPECT_EQ(cmSdInherit(&bad, &child, nullptr), 0u);
}

TEST_F(SdAccessTest, ExclusiveDescriptor)
{
    CMSdAccessToken user = token(domain(), {1000, 545});
    CMSdSecurityDescriptor sd;
    ASSERT_EQ(cmSdCreateExclusiveSecurityDescriptor(&user, &sd), 1);
    EXPECT_EQ(sd.length, 144u);
    Bytes expected{1, 0, 4, 0x80};
    put_le32(expected, 88);
    put_le32(expected, 116);
    put_le32(expected, 0);
    put_le32(expected, 20);
    Bytes dacl = acl({ace(0, 3, CM_SD_FULL_CONTROL, kAdmins), ace(0, 3, CM_SD_FULL_CONTROL, userSid(1000))});
    expected.insert(expected.end(), dacl.begin(), dacl.end());
    Bytes owner = userSid(1000), group = userSid(513);
    expected.insert(expected.end(), owner.begin(), owner.end());
    expected.insert(expected.end(), group.begin(), group.end());
    EXPECT_EQ(Bytes(sd.data, sd.data + sd.length), expected);
    EXPECT_EQ(cmSdIsExclusiveSecurityDescriptor(&user, &sd), 1);
    CMSdAccessToken other = token(domain(), {1001, 545});
    EXPECT_EQ(cmSdIsExclusiveSecurityDescriptor(&other, &sd), 0);
    CMSdSecurityDescriptor wrapped = sd;
    wrapped.data[4] = 0xFD, wrapped.data[5] = wrapped.data[6] = wrapped.data[7] = 0xFF;
    EXPECT_EQ(cmSdIsExclusiveSecurityDescriptor(&user, &wrapped), 0);
    CMSdSecurityDescriptor share;
    cmSdGetShareSecurityDescriptor(&share);
    EXPECT_EQ(cmSdIsExclusiveSecurityDescriptor(&user, &share), 0);
    EXPECT_EQ(cmSdHasAccess(&user, &sd, CM_SD_FULL_CONTROL), 1);
    EXPECT_EQ(cmSdHasAccess(&other, &sd, kRead), 0);
}

}  // namespace
