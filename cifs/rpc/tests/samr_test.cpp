// The account manager over a fake pipe: the handle scheme, the two domains
// and aliases, users created, changed and deleted by local administrators
// only, passwords set through encrypted buffers (bounds, keys, salts), and
// the listings.
#include "pipe_fixture.h"

#include "cmcrypt.h"
#include "cmcryptntlm.h"
#include "csdb.h"

#include <gtest/gtest.h>

using namespace rpc_test;

namespace {

const std::string kSamr = "12345778-1234-abcd-ef00-0123456789ac";
constexpr uint32_t kRefused = 0xC0000005u;

Bytes handle(uint32_t data1, uint16_t data3 = 0, uint16_t data2 = 0xA5A5)
{
    Ndr n;
    n.u32(1).u32(data1).u16(data2).u16(data3).u32(0).u32(0);
    return n.bytes;
}

// A conformant RPC_SID of the local domain with a RID, or S-1-5-32-rid.
Ndr &sid(Ndr &n, bool builtin, uint32_t rid, bool withRid = true)
{
    std::vector<uint32_t> sub;
    if (builtin) {
        sub.push_back(32);
    } else {
        const CMSdDomainSid *c = cmSdGetComputerSid();
        sub.assign(c->subauthorities, c->subauthorities + c->count);
    }
    if (withRid)
        sub.push_back(rid);
    n.align(4).u32(uint32_t(sub.size())).u8(1).u8(uint8_t(sub.size())).u8(0).u8(0).u8(0).u8(0).u8(0).u8(5);
    for (uint32_t v : sub)
        n.u32(v);
    return n;
}

// A counted string and its text, in one piece.
Ndr &counted(Ndr &n, const std::string &s)
{
    n.align(4).u16(uint16_t(2 * s.size())).u16(uint16_t(2 * s.size())).pointer();
    n.u32(uint32_t(s.size())).u32(0).u32(uint32_t(s.size()));
    for (unsigned char c : s)
        n.u16(c);
    return n.align(4);
}

// A 516-byte password buffer: filler, the UTF-16 password, its length.
Bytes passwordBuffer(const std::u16string &password, uint32_t lengthField)
{
    Bytes b(512);
    for (size_t i = 0; i < 512; ++i)
        b[i] = uint8_t(i * 7 + 3);
    size_t bytes = 2 * password.size();
    for (size_t i = 0; i < password.size(); ++i) {
        b[512 - bytes + 2 * i] = uint8_t(password[i]);
        b[512 - bytes + 2 * i + 1] = uint8_t(password[i] >> 8);
    }
    fw_test::put_le32(b, lengthField);
    return b;
}

class Samr : public PipeTest {
protected:
    void configure() override { testenv::writeFile(path("pwd_list.txt"), "alice::1001:0\nbob::-1002:0\n"); }
    void SetUp() override
    {
        PipeTest::SetUp();
        if (IsSkipped())
            return;
        as(-1002);
        std::memset(client.user->sessionKey, 0x11, 16);
        std::memset(client.user->applicationKey, 0x22, 16);
        pipe = bound("samr", kSamr, 1);
        ASSERT_NE(pipe, nullptr);
    }
    // The caller's token: a user of the list (negative: an administrator).
    void as(int32_t rid)
    {
        CMSdAccessToken &t = client.user->token;
        t.domain = *cmSdGetComputerSid();
        t.ridCount = 2;
        t.rids[0] = uint32_t(rid);
        t.rids[1] = 513;
    }
    std::string users() { return testenv::readFile(path("pwd_list.txt")); }

    Reply connect5(uint32_t access)
    {
        Ndr n;
        n.textPointer("\\\\ROUTER").u32(access).u32(1).u32(1).u32(3).u32(0);
        return call(pipe, 64, n.bytes);
    }
    Bytes domain(bool builtin)
    {
        Ndr n;
        n.raw(handle(0xA5A5)).u32(0x30);
        sid(n, builtin, 0, false);
        Reply r = call(pipe, 7, n.bytes);
        EXPECT_EQ(r.status, 0u);
        return r.stub;
    }
    Reply createUser(const std::string &name)
    {
        Ndr n;
        n.raw(domain(false));
        counted(n, name).u32(0x10).u32(0xF07FF);
        return call(pipe, 50, n.bytes);
    }
    // SetInformationUser2 with the all-information structure; password is
    // the encrypted buffer (516 or 532 bytes) or empty for class 21.
    Reply setInfo(uint32_t rid, uint16_t level, const Bytes &password, uint32_t which = 0,
                  const std::string &name = "")
    {
        Ndr n;
        n.raw(handle(rid)).u16(level).u16(level).align(4);
        n.raw(Bytes(48, 0));
        for (int i = 0; i < 10; ++i) {
            bool present = i == 0 && !name.empty();
            n.u16(present ? uint16_t(2 * name.size()) : 0).u16(present ? uint16_t(2 * name.size()) : 0);
            n.pointer(present);
        }
        n.raw(Bytes(24, 0));      // hashes, private data
        n.u32(0).pointer(false);  // descriptor
        n.u32(0).u32(0).u32(0).u32(which);
        n.u16(168).align(4).pointer();  // logon hours
        n.raw(Bytes(12, 0));
        n.raw(password);
        if (!name.empty()) {
            n.align(4).u32(uint32_t(name.size())).u32(0).u32(uint32_t(name.size()));
            for (unsigned char c : name)
                n.u16(c);
        }
        n.align(4).u32(1260).u32(0).u32(21).raw(Bytes(21, 0xFF));
        return call(pipe, 58, n.bytes);
    }
    // An encrypted buffer as a client makes it (RC4 is its own inverse).
    Bytes encrypt(Bytes plain, const uint8_t *key, bool salted)
    {
        if (salted)
            for (int i = 0; i < 16; ++i)
                plain.push_back(uint8_t(0x40 + i));
        cmDecryptPassword(key, plain.data(), salted ? 1 : 0);
        return plain;
    }
    std::string hashOf(const std::u16string &password)
    {
        Bytes b;
        for (char16_t c : password) {
            b.push_back(uint8_t(c));
            b.push_back(uint8_t(c >> 8));
        }
        uint8_t h[16];
        cmMD4(h, b.data(), uint32_t(b.size()));
        std::string hex;
        char part[3];
        for (uint8_t v : h) {
            std::snprintf(part, sizeof part, "%02X", v);
            hex += part;
        }
        return hex;
    }

    CSFile *pipe = nullptr;
};

TEST_F(Samr, ConnectAskingMoreThanDomainsIsRefused)
{
    Reply r = connect5(0x30);
    EXPECT_EQ(r.status, 0u);
    ASSERT_EQ(r.stub.size(), 36u);
    EXPECT_EQ(Bytes(r.stub.begin(), r.stub.begin() + 16),
              (Bytes{1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(r.stub.begin() + 16, r.stub.end()), handle(0xA5A5));
    for (uint32_t access : {0x02000000u, 0x31u, 0xF003Fu}) {
        r = connect5(access);
        EXPECT_EQ(r.status, kRefused);
        EXPECT_EQ(Bytes(r.stub.begin() + 16, r.stub.end()), Bytes(20, 0));
    }
    Ndr n;
    n.textPointer(nullptr).u32(2).u32(0x20);
    r = call(pipe, 62, n.bytes);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.stub, handle(0xA5A5));
}

TEST_F(Samr, EveryOperationRefusesAHandleWithoutTheMark)
{
    // Each operation with arguments that pass with a good handle, and the
    // empty answer of a refusal: that many zero bytes (a null pointer,
    // handle, array or enumeration), or -1 where the answer carries more.
    struct Case {
        uint16_t opnum;
        Bytes after;
        int empty;
    };
    Ndr sidArgs;
    sid(sidArgs, false, 1001);
    Ndr sidArray;
    sidArray.u32(1).pointer().u32(1).pointer();
    sid(sidArray, false, 1001);
    Ndr name;
    counted(name, "ROUTER");
    Ndr lookup;
    lookup.u32(1).u32(1000).u32(0).u32(1).u16(10).u16(10).pointer().u32(5).u32(0).u32(5);
    for (char c : std::string("alice"))
        lookup.u16(uint16_t(c));
    Ndr ids;
    ids.u32(1).u32(1000).u32(0).u32(1).u32(1001);
    Ndr create;
    counted(create, "carol").u32(0x10).u32(0xF07FF);
    const std::vector<Case> cases = {
        {1, {}, 20},
        {2, Bytes{4, 0, 0, 0, 0, 0, 0, 0}, 0},
        {3, Bytes{4, 0, 0, 0}, 4},
        {5, name.bytes, 4},
        {6, Bytes(8, 0), 12},
        {7,
         [] {
             Ndr n;
             n.u32(0x30);
             return sid(n, false, 0, false).bytes;
         }(),
         20},
        {8, Bytes{2, 0}, 4},
        {15, Bytes(8, 0), 12},
        {16, sidArray.bytes, 8},
        {17, lookup.bytes, -1},
        {18, ids.bytes, -1},
        {19, Bytes{1, 0, 0, 0, 0x01, 0x02, 0, 0}, 20},
        {20, Bytes{5, 0}, 4},
        {27, Bytes{1, 0, 0, 0, 0x20, 0x02, 0, 0}, 20},
        {28, Bytes{1, 0}, 4},
        {31, sidArgs.bytes, 0},
        {32, sidArgs.bytes, 0},
        {33, {}, 8},
        {34, Bytes{1, 0, 0, 0, 0xE9, 0x03, 0, 0}, 20},
        {35, {}, -1},
        {36, Bytes{16, 0}, 4},
        {39, {}, 4},
        {40, Bytes{1, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 1, 0, 0}, -1},
        {44, {}, 8},
        {45, sidArgs.bytes, 0},
        {48, Bytes{1, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 1, 0, 0}, -1},
        {50, create.bytes, 28},
    };
    const std::string before = users();
    for (uint16_t mark : {uint16_t(0), uint16_t(0xA5A4), uint16_t(0x5A5A)}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.opnum);
            Ndr n;
            n.raw(handle(c.opnum == 34 || c.opnum == 35 || c.opnum == 36 || c.opnum == 39 ? 1001 : 0xA5A5,
                         c.opnum == 27 ? 1 : 0, mark))
                .raw(c.after);
            Reply r = call(pipe, c.opnum, n.bytes);
            EXPECT_FALSE(r.fault);
            EXPECT_EQ(r.status, kRefused);
            if (c.empty >= 0)
                EXPECT_EQ(r.stub, Bytes(size_t(c.empty), 0));
        }
        EXPECT_EQ(setInfo(1001, 25, Bytes(532, 0)).status, kRefused);
    }
    EXPECT_EQ(users(), before);
}

TEST_F(Samr, DomainsAndAliases)
{
    // Two domains: the host and Builtin.
    Reply r = call(pipe, 6, Ndr().raw(handle(0xA5A5)).u32(0).u32(0xFFFF).bytes);
    EXPECT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    EXPECT_EQ(d.u32(), 0u);
    EXPECT_NE(d.u32(), 0u);
    EXPECT_EQ(d.u32(), 2u);
    d.u32();
    EXPECT_EQ(d.u32(), 2u);
    for (int i = 0; i < 2; ++i) {
        d.u32();
        d.u32();
        d.u32();
    }
    EXPECT_EQ(d.text(), "ROUTER");
    EXPECT_EQ(d.text(), "Builtin");
    EXPECT_EQ(d.u32(), 2u);
    EXPECT_EQ(d.at, r.stub.size());

    // Only the host's name looks up.
    for (auto c : {std::make_pair("ROUTER", 0u), std::make_pair("Builtin", kRefused),
                   std::make_pair("router", kRefused)}) {
        Ndr n;
        counted(n.raw(handle(0xA5A5)), c.first);
        EXPECT_EQ(call(pipe, 5, n.bytes).status, c.second) << c.first;
    }
    EXPECT_EQ(domain(false), handle(0xA5A5, 0));
    EXPECT_EQ(domain(true), handle(0xA5A5, 1));
    Ndr other;
    other.raw(handle(0xA5A5))
        .u32(0x30)
        .align(4)
        .u32(1)
        .u8(1)
        .u8(1)
        .u8(0)
        .u8(0)
        .u8(0)
        .u8(0)
        .u8(0)
        .u8(5)
        .u32(33);
    r = call(pipe, 7, other.bytes);
    EXPECT_EQ(r.status, kRefused);
    EXPECT_EQ(r.stub, Bytes(20, 0));

    // General information: counts on the account domain only.
    for (bool builtin : {false, true}) {
        r = call(pipe, 8, Ndr().raw(domain(builtin)).u16(2).bytes);
        EXPECT_EQ(r.status, 0u);
        NdrReader g(r.stub);
        g.u32();
        EXPECT_EQ(g.u16(), 2u);
        g.align(4);
        EXPECT_EQ(g.u32(), 0u);
        EXPECT_EQ(g.u32(), 0x80000000u);
        g.at += 24 + 8 + 8 + 4;
        EXPECT_EQ(g.u32(), builtin ? 0u : 2u);
        EXPECT_EQ(g.u32(), builtin ? 0u : 1u);
        EXPECT_EQ(g.u32(), builtin ? 0u : 2u);
        EXPECT_EQ(g.text(), "Builtin");
        EXPECT_EQ(g.at, r.stub.size());
    }
    EXPECT_EQ(call(pipe, 8, Ndr().raw(domain(false)).u16(1).bytes).status, 0xC0000003u);

    // Aliases on Builtin.
    r = call(pipe, 15, Ndr().raw(domain(true)).u32(0).u32(0xFFFF).bytes);
    EXPECT_EQ(r.status, 0u);
    NdrReader a(r.stub);
    a.u32();
    a.u32();
    EXPECT_EQ(a.u32(), 2u);
    a.u32();
    a.u32();
    EXPECT_EQ(a.u32(), 544u);
    a.u32();
    a.u32();
    EXPECT_EQ(a.u32(), 545u);
    a.u32();
    a.u32();
    EXPECT_EQ(a.text(), "Administrators");
    EXPECT_EQ(a.text(), "Users");

    // Alias information with derived member counts.
    for (auto c : {std::make_pair(544u, 1u), std::make_pair(545u, 2u)}) {
        Ndr open;
        open.raw(domain(true)).u32(0x20004).u32(c.first);
        r = call(pipe, 27, open.bytes);
        ASSERT_EQ(r.status, 0u);
        EXPECT_EQ(r.stub, handle(c.first));
        Reply q = call(pipe, 28, Ndr().raw(r.stub).u16(1).bytes);
        EXPECT_EQ(q.status, 0u);
        NdrReader qi(q.stub);
        qi.u32();
        qi.u16();
        qi.u32();
        qi.u32();
        EXPECT_EQ(qi.u32(), c.second);
        q = call(pipe, 28, Ndr().raw(r.stub).u16(3).bytes);
        NdrReader qc(q.stub);
        qc.u32();
        qc.u16();
        qc.u32();
        qc.u32();
        EXPECT_EQ(qc.text(), "Local user");
        EXPECT_EQ(call(pipe, 28, Ndr().raw(r.stub).u16(4).bytes).status, 0xC0000003u);
    }
    // Aliases open only on Builtin and within their access.
    EXPECT_EQ(call(pipe, 27, Ndr().raw(domain(false)).u32(1).u32(544).bytes).status, kRefused);
    EXPECT_EQ(call(pipe, 27, Ndr().raw(domain(true)).u32(0x40000).u32(544).bytes).status, kRefused);
}

TEST_F(Samr, MembershipIsTheAdministratorMark)
{
    auto change = [&](uint16_t opnum, uint32_t alias, uint32_t rid) {
        Ndr n;
        n.raw(handle(alias));
        sid(n, false, rid);
        return call(pipe, opnum, n.bytes).status;
    };
    auto members = [&](uint32_t alias) {
        Reply r = call(pipe, 33, handle(alias));
        NdrReader d(r.stub);
        return d.u32();
    };
    EXPECT_EQ(members(544), 1u);
    EXPECT_EQ(members(545), 2u);
    EXPECT_EQ(change(31, 544, 1001), 0u);
    EXPECT_NE(users().find("alice::-1001:0"), std::string::npos);
    EXPECT_EQ(members(544), 2u);
    EXPECT_EQ(change(32, 544, uint32_t(-1001)), 0u);
    EXPECT_NE(users().find("alice::1001:0"), std::string::npos);
    // Users: accepted, nothing changes.
    const std::string before = users();
    EXPECT_EQ(change(31, 545, 1001), 0u);
    EXPECT_EQ(change(32, 545, 1001), 0u);
    EXPECT_EQ(users(), before);
    // Strangers, and callers who are not administrators.
    EXPECT_EQ(change(31, 544, 4711), kRefused);
    as(1001);
    EXPECT_EQ(change(31, 544, 1001), kRefused);
    EXPECT_EQ(users(), before);

    // Membership of given SIDs, on Builtin only.
    Ndr n;
    n.raw(domain(true)).u32(2).pointer().u32(2).pointer().pointer();
    sid(n, false, 1001);
    sid(n, false, uint32_t(-1002));
    Reply r = call(pipe, 16, n.bytes);
    EXPECT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    EXPECT_EQ(d.u32(), 2u);
    d.u32();
    d.u32();
    EXPECT_EQ(d.u32(), 545u);
    EXPECT_EQ(d.u32(), 544u);
    Ndr none;
    none.raw(domain(true)).u32(0).pointer(false);
    EXPECT_EQ(call(pipe, 16, none.bytes).status, 0x1C000024u);
}

TEST_F(Samr, CreateAndDeleteByAdministratorsOnly)
{
    Reply r = createUser("carol");
    EXPECT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    d.at = 4;
    uint32_t rid = d.u32();
    EXPECT_EQ(rid, 1003u);
    EXPECT_EQ(Bytes(r.stub.begin(), r.stub.begin() + 20), handle(1003));
    EXPECT_NE(users().find("carol::1003:0"), std::string::npos);

    // Refusals change nothing: names taken or that would break the list.
    const std::string before = users();
    for (const std::string &name : {"carol", "ALICE", "bad:name", "tab\tname", "new\nline", "", "x\\y"}) {
        SCOPED_TRACE(name);
        r = createUser(name);
        EXPECT_EQ(r.status, kRefused);
        EXPECT_EQ(r.stub, Bytes(28, 0));
    }
    as(1001);
    EXPECT_EQ(createUser("dave").status, kRefused);
    EXPECT_EQ(call(pipe, 35, handle(1003)).status, kRefused);
    EXPECT_EQ(users(), before);

    as(-1002);
    r = call(pipe, 35, handle(1003));
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.stub, Bytes(20, 0));
    EXPECT_EQ(users().find("carol"), std::string::npos);
    EXPECT_EQ(call(pipe, 35, handle(1003)).status, kRefused);
}

TEST_F(Samr, PasswordsThroughEncryptedBuffers)
{
    const std::u16string password = u"S3cret-\u00e9\u4e2d";
    struct Case {
        uint32_t dialect;
        uint16_t level;
        bool applicationKey;
    } cases[] = {
        {CS_DIALECT_SMB21, 25, false}, {CS_DIALECT_SMB21, 23, false}, {CS_DIALECT_SMB311, 25, true},
        {CS_DIALECT_SMB311, 23, true}, {CS_DIALECT_SMB30, 23, true},  {CS_DIALECT_SMB202, 25, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.dialect) + "/" + std::to_string(c.level));
        client.session->dialect = c.dialect;
        const uint8_t *key = c.applicationKey ? client.user->applicationKey : client.user->sessionKey;
        const uint8_t *wrong = c.applicationKey ? client.user->sessionKey : client.user->applicationKey;
        const bool salted = c.level == 25;
        testenv::writeFile(path("pwd_list.txt"), "alice::1001:0\nbob::-1002:0\n");
        // Under the other key: refused, nothing stored.
        Reply r =
            setInfo(1001, c.level, encrypt(passwordBuffer(password, 2 * password.size()), wrong, salted));
        EXPECT_EQ(r.status, kRefused);
        EXPECT_NE(users().find("alice::1001:0"), std::string::npos);
        r = setInfo(1001, c.level, encrypt(passwordBuffer(password, 2 * password.size()), key, salted));
        EXPECT_EQ(r.status, 0u);
        const std::string hash = hashOf(password);
        EXPECT_NE(users().find("alice:" + hash + hash + ":1001:0"), std::string::npos) << users();
    }
}

TEST_F(Samr, PasswordBounds)
{
    client.session->dialect = CS_DIALECT_SMB21;
    const uint8_t *key = client.user->sessionKey;
    struct Case {
        std::u16string password;
        uint32_t lengthField;
        uint32_t status;
    } cases[] = {
        {std::u16string(255, u'a'), 510, 0},
        {std::u16string(256, u'a'), 512, kRefused},
        {u"abc", 5, kRefused},       // odd
        {u"ab\xd800", 6, kRefused},  // lone high surrogate
        {u"\xdc00x", 4, kRefused},   // lone low surrogate
        {u"\xd83d\xde00", 4, 0},     // a pair
        {u"", 0, 0},
        {u"x", 0xFFFFFFFF, kRefused},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.lengthField);
        testenv::writeFile(path("pwd_list.txt"), "alice::1001:0\n");
        Reply r = setInfo(1001, 25, encrypt(passwordBuffer(c.password, c.lengthField), key, true));
        EXPECT_EQ(r.status, c.status);
        const std::string hash = hashOf(c.password);
        if (c.status == 0)
            EXPECT_EQ(users(), "alice:" + hash + hash + ":1001:0\n");
        else
            EXPECT_EQ(users(), "alice::1001:0\n");
    }
    // The known hash of "password".
    testenv::writeFile(path("pwd_list.txt"), "alice::1001:0\n");
    EXPECT_EQ(setInfo(1001, 23, encrypt(passwordBuffer(u"password", 16), key, false)).status, 0u);
    EXPECT_EQ(users(), "alice:8846F7EAEE8FB117AD06BDD830B7586C8846F7EAEE8FB117AD06BDD830B7586C:1001:0\n");
    // Only administrators, only users that exist, only classes 21, 23, 25.
    as(1001);
    EXPECT_EQ(setInfo(1001, 23, encrypt(passwordBuffer(u"x", 2), key, false)).status, kRefused);
    as(-1002);
    EXPECT_EQ(setInfo(4711, 23, encrypt(passwordBuffer(u"x", 2), key, false)).status, kRefused);
    EXPECT_EQ(call(pipe, 37, Ndr().raw(handle(1001)).u16(7).u16(7).bytes).status, 0xC0000003u);
}

TEST_F(Samr, RenamesKeepThePassword)
{
    testenv::writeFile(
        path("pwd_list.txt"),
        "alice:8846F7EAEE8FB117AD06BDD830B7586C8846F7EAEE8FB117AD06BDD830B7586C:1001:0\nbob::-1002:0\n");
    EXPECT_EQ(setInfo(1001, 21, {}, 1, "alicia").status, 0u);
    EXPECT_NE(users().find("alicia:8846F7EAEE8FB117AD06BDD830B7586C8846F7EAEE8FB117AD06BDD830B7586C:1001:0"),
              std::string::npos);
    const std::string before = users();
    for (const std::string &name : {"bob", "BOB", "bad:name", "new\nline"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(setInfo(1001, 21, {}, 1, name).status, kRefused);
    }
    EXPECT_EQ(users(), before);
    // Bob's empty password stays empty: the hash of nothing.
    EXPECT_EQ(setInfo(uint32_t(-1002), 21, {}, 1, "robert").status, 0u);
    EXPECT_NE(users().find("robert:31D6CFE0D16AE931B73C59D7E0C089C031D6CFE0D16AE931B73C59D7E0C089C0:-1002"),
              std::string::npos);
}

TEST_F(Samr, UsersAndListings)
{
    // Opening users: known RIDs within the access.
    EXPECT_EQ(call(pipe, 34, Ndr().raw(domain(false)).u32(0x70FFF).u32(1001).bytes).stub, handle(1001));
    EXPECT_EQ(call(pipe, 34, Ndr().raw(domain(false)).u32(0x80000).u32(1001).bytes).status, kRefused);
    EXPECT_EQ(call(pipe, 34, Ndr().raw(domain(false)).u32(1).u32(4711).bytes).status, kRefused);

    Reply r = call(pipe, 36, Ndr().raw(handle(1001)).u16(16).bytes);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.stub.size(), 12u);
    EXPECT_EQ(fw_test::get_le32(&r.stub[8]), 0x10u);

    r = call(pipe, 36, Ndr().raw(handle(uint32_t(-1002))).u16(21).bytes);
    EXPECT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    d.u32();
    EXPECT_EQ(d.u16(), 21u);
    d.align(4);
    d.at += 40;
    EXPECT_EQ(d.u32(), 0xFFFFFFFFu);
    EXPECT_EQ(d.u32(), 0x7FFFFFFFu);
    std::vector<uint32_t> present;
    for (int i = 0; i < 10; ++i) {
        d.u32();
        present.push_back(d.u32());
    }
    d.at += 32;
    EXPECT_EQ(d.u32(), uint32_t(-1002));
    EXPECT_EQ(d.u32(), 512u);
    EXPECT_EQ(d.u32(), 0x210u);
    EXPECT_EQ(d.u32(), 0x00FFFFFFu);
    EXPECT_EQ(d.u16(), 168u);
    EXPECT_NE(d.u32(), 0u);
    d.at += 12;
    EXPECT_EQ(d.text(), "bob");
    EXPECT_EQ(d.text(), "bob");
    EXPECT_EQ(d.text(), "Local user");
    EXPECT_EQ(d.u32(), 1260u);
    EXPECT_EQ(d.u32(), 0u);
    EXPECT_EQ(d.u32(), 21u);
    d.at += 24;
    EXPECT_EQ(d.at, r.stub.size());
    EXPECT_EQ(call(pipe, 36, Ndr().raw(handle(1001)).u16(1).bytes).status, 0xC0000003u);
    EXPECT_EQ(call(pipe, 36, Ndr().raw(handle(4711)).u16(16).bytes).status, kRefused);

    // Groups: none on a user handle, 513 (and 512) on one with data3 set.
    r = call(pipe, 39, handle(1001));
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(fw_test::get_le32(&r.stub[4]), 0u);
    r = call(pipe, 39, handle(uint32_t(-1002), 1));
    EXPECT_EQ(fw_test::get_le32(&r.stub[4]), 2u);

    // The user's security descriptor.
    r = call(pipe, 3, Ndr().raw(handle(1001)).u32(4).bytes);
    EXPECT_EQ(r.status, 0u);
    ASSERT_GE(r.stub.size(), 16u);
    uint32_t length = fw_test::get_le32(&r.stub[4]);
    EXPECT_GT(length, 20u);
    EXPECT_EQ(fw_test::get_le32(&r.stub[12]), length);
    EXPECT_EQ(r.stub[16], 1u);  // revision
    EXPECT_EQ(call(pipe, 2, Ndr().raw(handle(1001)).u32(4).pointer(false).bytes).status, 0u);
    EXPECT_EQ(call(pipe, 2, Ndr().raw(handle(1001)).u32(1).pointer(false).bytes).status, 0xC0000003u);

    // Display information: users from the start index, groups by index.
    Reply users = call(pipe, 40, Ndr().raw(domain(false)).u16(1).align(4).u32(0).u32(10).u32(0xFFFF).bytes);
    EXPECT_EQ(users.status, 0u);
    NdrReader u(users.stub);
    uint32_t total = u.u32(), returned = u.u32();
    EXPECT_EQ(total, returned);
    EXPECT_EQ(total, users.stub.size() - 12);
    EXPECT_EQ(u.u16(), 1u);
    EXPECT_EQ(u.u32(), 2u);
    u.u32();
    u.u32();
    EXPECT_EQ(u.u32(), 1u);
    EXPECT_EQ(u.u32(), 1001u);
    EXPECT_EQ(u.u32(), 0x210u);
    u.at += 24;
    EXPECT_EQ(u.u32(), 2u);
    EXPECT_EQ(u.u32(), uint32_t(-1002));
    u.at += 28;
    EXPECT_EQ(u.text(), "alice");
    EXPECT_EQ(u.text(), "Ordinary user");
    EXPECT_EQ(u.text(), "alice");
    users = call(pipe, 48, Ndr().raw(domain(false)).u16(1).align(4).u32(1).u32(10).u32(0xFFFF).bytes);
    EXPECT_EQ(fw_test::get_le32(&users.stub[12]), 1u);
    Reply groups = call(pipe, 40, Ndr().raw(domain(false)).u16(3).align(4).u32(0).u32(1).u32(0xFFFF).bytes);
    EXPECT_EQ(groups.status, 0u);
    EXPECT_EQ(fw_test::get_le32(&groups.stub[0]), 64u);
    EXPECT_EQ(fw_test::get_le32(&groups.stub[20]), 1u);  // one entry
    EXPECT_EQ(fw_test::get_le32(&groups.stub[24]), 1u);  // its index
    EXPECT_EQ(fw_test::get_le32(&groups.stub[28]), 513u);
    EXPECT_EQ(call(pipe, 40, Ndr().raw(domain(false)).u16(3).align(4).u32(2).u32(1).u32(0xFFFF).bytes).status,
              0xC0000003u);

    // Lookups both ways; aliases only on Builtin.
    auto lookupNames = [&](const Bytes &h, const std::vector<std::string> &names) {
        Ndr n;
        n.raw(h).u32(uint32_t(names.size())).u32(1000).u32(0).u32(uint32_t(names.size()));
        for (const std::string &s : names)
            n.u16(uint16_t(2 * s.size())).u16(uint16_t(2 * s.size())).pointer();
        for (const std::string &s : names) {
            n.align(4).u32(uint32_t(s.size())).u32(0).u32(uint32_t(s.size()));
            for (unsigned char c : s)
                n.u16(c);
        }
        return call(pipe, 17, n.bytes);
    };
    EXPECT_EQ(lookupNames(domain(false), {"alice", "bob"}).status, 0u);
    EXPECT_EQ(lookupNames(domain(false), {"alice", "Users"}).status, 0x107u);
    EXPECT_EQ(lookupNames(domain(true), {"Users", "Administrators"}).status, 0u);
    EXPECT_EQ(lookupNames(domain(false), {"nobody"}).status, 0xC0000073u);
    EXPECT_EQ(lookupNames(domain(false), std::vector<std::string>(25, "alice")).status, 0u);
    Ndr ids;
    ids.raw(domain(false)).u32(2).u32(1000).u32(0).u32(2).u32(1001).u32(4711);
    r = call(pipe, 18, ids.bytes);
    EXPECT_EQ(r.status, 0x107u);
    NdrReader in(r.stub);
    EXPECT_EQ(in.u32(), 2u);
    in.u32();
    in.u32();
    in.u32();
    EXPECT_NE(in.u32(), 0u);
    in.u32();
    EXPECT_EQ(in.u32(), 0u);
    EXPECT_EQ(in.text(), "alice");
    // Counts beyond the stub fault.
    Ndr big;
    big.raw(domain(false)).u32(900).u32(1000).u32(0).u32(900);
    EXPECT_TRUE(call(pipe, 18, big.bytes).fault);
    Ndr huge;
    huge.raw(domain(false)).u32(5000).u32(5000).u32(0).u32(5000);
    EXPECT_TRUE(call(pipe, 17, huge.bytes).fault);
}

}  // namespace
