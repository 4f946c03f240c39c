// The local domain: computer SID from the computer ID, aliases, lookups
// through the account table and the hooks, and the prepared descriptors.
#include "sd_test_util.h"
#include "ud_test_env.h"

#include "cmstring.h"

#include <gtest/gtest.h>

using namespace sdtest;
using namespace testenv;

namespace {

class SdDomainTest : public HookTest {
protected:
    void SetUp() override
    {
        HookTest::SetUp();
        if (IsSkipped())
            return;
        const uint8_t id[UD_COMPUTER_ID_SIZE] = {1, 0, 0, 0, 2, 0, 0, 0, 0x10, 0x27, 0, 0};
        udSetComputerId(reinterpret_cast<const char *>(id));
        ASSERT_EQ(cmSdInit(), 0);
    }
    void TearDown() override
    {
        cmSdExit();
        HookTest::TearDown();
    }
};

TEST_F(SdDomainTest, ComputerSidFromTheComputerId)
{
    const CMSdDomainSid *s = cmSdGetComputerSid();
    EXPECT_EQ(s->revision, 1);
    EXPECT_EQ(s->count, 4);
    EXPECT_EQ(s->authority[5], 5);
    EXPECT_EQ(s->subauthorities[0], 21u);
    EXPECT_EQ(s->subauthorities[1], 1u);
    EXPECT_EQ(s->subauthorities[2], 2u);
    EXPECT_EQ(s->subauthorities[3], 10000u);
    EXPECT_EQ(cmSdGetDomainSid(), s);
    EXPECT_EQ(cmSdIsComputerSid(s), 1);
    EXPECT_EQ(cmSdIsDomainSidSet(), 0);
    CMSdDomainSid first = domainSid({21, 9, 9, 9}), second = domainSid({21, 8, 8, 8});
    cmSdSetDomainSid(&first);
    cmSdSetDomainSid(&second);
    EXPECT_EQ(cmSdIsDomainSidSet(), 1);
    EXPECT_EQ(cmSdGetDomainSid()->subauthorities[1], 9u);
    const CMSdDomainSid *alias = cmSdGetLocalDomainAlias();
    EXPECT_EQ(alias->count, 1);
    EXPECT_EQ(alias->subauthorities[0], 32u);
}

TEST_F(SdDomainTest, Aliases)
{
    const CMSdDomainSid *own = cmSdGetComputerSid();
    struct Case {
        uint32_t rid;
        int found;
        uint32_t alias;
    } const cases[] = {{500, 1, 546}, {501, 1, 546}, {514, 1, 546},  {546, 1, 546},
                       {512, 1, 544}, {544, 1, 544}, {1000, 1, 545}, {513, 1, 545}};
    for (const Case &c : cases) {
        CMSdDomainSid s = *own;
        s.subauthorities[s.count++] = c.rid;
        uint32_t alias = 0;
        EXPECT_EQ(cmSdCheckAlias(&s, &alias), c.found) << c.rid;
        EXPECT_EQ(alias, c.alias) << c.rid;
    }
    CMSdDomainSid admins = domainSid({32, 544});
    uint32_t alias = 7;
    EXPECT_EQ(cmSdCheckAlias(&admins, &alias), 0);
    EXPECT_EQ(alias, 7u);
}

TEST_F(SdDomainTest, LookupsGoToTheTableThenTheHooks)
{
    writeFile(path("pwd_list.txt"), "alice:secret:1000:0\nadministrators:x:1001:0\n");
    struct Case {
        const char *name;
        int found;
        uint32_t rid;
    } const cases[] = {
        {"Administrators", 1, 544}, {"Users", 1, 545},           {"Guests", 1, 546}, {"None", 1, 513},
        {"alice", 1, 1000},         {"administrators", 1, 1001}, {"nobody", 0, 0}};
    for (const Case &c : cases) {
        uint32_t rid = 0;
        EXPECT_EQ(cmSdLookupName(W(c.name).data(), &rid), c.found) << c.name;
        EXPECT_EQ(rid, c.rid) << c.name;
    }
    CMWchar name[300], description[300];
    ASSERT_EQ(cmSdLookupRid(512, name, description), 1);
    EXPECT_EQ(A(name), "Administrators");
    EXPECT_EQ(A(description), "Local or domain administrators");
    ASSERT_EQ(cmSdLookupRid(1000, name, description), 1);
    EXPECT_EQ(A(name), "alice");
    EXPECT_EQ(cmSdLookupRid(4242, name, description), 0);
}

TEST_F(SdDomainTest, Administrators)
{
    const CMSdDomainSid &d = *cmSdGetComputerSid();
    struct Case {
        CMSdAccessToken token;
        int admin;
    } const cases[] = {{token(d, {1000, 545, 512}), 1},  {token(d, {500}), 0},
                       {token(d, {uint32_t(-1000)}), 1}, {token(d, {1000, 545}), 0},
                       {token(d, {1000, 544}), 1},       {token(d, {1000, 500}), 1}};
    for (const Case &c : cases)
        EXPECT_EQ(cmSdIsAdministrator(&c.token), c.admin);
}

using Getter = int (*)(CMSdSecurityDescriptor *);

TEST_F(SdDomainTest, PreparedDescriptors)
{
    struct Case {
        const char *what;
        Getter get;
        uint32_t length;
        uint16_t control;
        uint32_t aces;  // UINT32_MAX: no DACL
    } const cases[] = {
        {"default", cmSdGetDefaultSecurityDescriptor, 116, 0x8404, 4},
        {"owner and DACL", cmSdGetOwnerAndDaclSecurityDescriptor, 68, 0x8000, 1},
        {"group and DACL", cmSdGetGroupAndDaclSecurityDescriptor, 68, 0x8000, 1},
        {"share", cmSdGetShareSecurityDescriptor, 148, 0x8004, 4},
        {"empty share", cmSdGetEmptyShareSecurityDescriptor, 28, 0x8004, 0},
        {"none", cmSdGetNoneSecurityDescriptor, 44, 0x8004, UINT32_MAX},
        {"owner", cmSdGetOwnerSecurityDescriptor, 36, 0x8000, UINT32_MAX},
        {"group", cmSdGetGroupSecurityDescriptor, 36, 0x8000, UINT32_MAX},
        {"owner and group", cmSdGetOwnerAndGroupSecurityDescriptor, 52, 0x8000, UINT32_MAX},
        {"owner, group and DACL", cmSdGetOwnerAndGroupAndDaclSecurityDescriptor, 148, 0x8000, 4},
        {"read-only share", cmSdGetReadonlyShareSecurityDescriptor, 48, 0x8004, 1},
        {"admin-only share", cmSdGetAdminonlyShareSecurityDescriptor, 52, 0x8104, 1},
    };
    for (const Case &c : cases) {
        CMSdSecurityDescriptor sd;
        ASSERT_EQ(c.get(&sd), 1) << c.what;
        EXPECT_EQ(sd.length, c.length) << c.what;
        EXPECT_EQ(get_le16(sd.data + 2), c.control) << c.what;
        uint32_t dacl = get_le32(sd.data + 16);
        if (c.aces == UINT32_MAX) {
            EXPECT_EQ(dacl, 0u) << c.what;
        } else {
            ASSERT_NE(dacl, 0u) << c.what;
            EXPECT_EQ(get_le32(sd.data + dacl + 4), c.aces) << c.what;
            EXPECT_EQ(sd.data[dacl], 2) << c.what;
            EXPECT_EQ(dacl + get_le16(sd.data + dacl + 2), c.length) << c.what;
            EXPECT_EQ(cmSdIsValid(&sd), 1) << c.what;
        }
    }
    CMSdSecurityDescriptor sd;
    cmSdGetShareSecurityDescriptor(&sd);
    Bytes expected = descriptor(
        {sid(5, {32, 544}),
         sid(5, {32, 545}),
         {},
         acl({ace(0, 3, CM_SD_CHANGE, sid(1, {0})), ace(0, 3, CM_SD_FULL_CONTROL, sid(5, {32, 544})),
              ace(0, 3, CM_SD_CHANGE, sid(5, {32, 545})), ace(0, 3, CM_SD_FULL_CONTROL, sid(5, {18}))})});
    EXPECT_EQ(Bytes(sd.data, sd.data + sd.length), expected);
}

TEST_F(SdDomainTest, DefaultDescriptorByTokenAddsTheUser)
{
    CMSdAccessToken t = token(*cmSdGetComputerSid(), {1000, 545});
    CMSdSecurityDescriptor sd;
    ASSERT_EQ(cmSdGetDefaultSecurityDescriptorByToken(&t, &sd), 1);
    EXPECT_EQ(sd.length, 152u);
    uint32_t dacl = get_le32(sd.data + 16);
    EXPECT_EQ(get_le32(sd.data + dacl + 4), 5u);
    EXPECT_EQ(get_le16(sd.data + dacl + 2), 132u);
    EXPECT_EQ(Bytes(sd.data + 116, sd.data + 152),
              ace(0, 3, CM_SD_FULL_CONTROL, sid(5, {21, 1, 2, 10000, 1000})));
    EXPECT_EQ(cmSdIsValid(&sd), 1);
}

TEST_F(SdDomainTest, LocalUserObjectDescriptor)
{
    CMSdSecurityDescriptor sd;
    ASSERT_EQ(cmSdGetLocalSecurityDescriptorForUser(1000, &sd), 1);
    Bytes expected =
        descriptor({{},
                    {},
                    {},
                    acl({ace(0, 0, 0x0002035B, sid(1, {0})), ace(0, 0, 0x000F07FF, sid(5, {32, 544})),
                         ace(0, 0, 0x000F07FF, sid(5, {32, 548})),
                         ace(0, 0, 0x00020044, sid(5, {21, 1, 2, 10000, 1000}))})});
    EXPECT_EQ(sd.length, 132u);
    EXPECT_EQ(Bytes(sd.data, sd.data + sd.length), expected);
}

}  // namespace
