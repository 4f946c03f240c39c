// The server service over a fake pipe and database: shares listed to whom
// may see them at each level, shares added, refused and removed as the
// hooks store them, the server's identity, sessions, trees and files, and
// a client that deletes its own session or closes its own pipe.
#include "pipe_fixture.h"

#include "csauth.h"
#include "csshares.h"

#include "fw_test/matchers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

using namespace rpc_test;
using fw_test::HasSubstr;
using fw_test::Not;

namespace {

constexpr uint16_t kConnectionEnum = 8, kFileEnum = 9, kFileClose = 11, kSessionEnum = 12, kSessionDel = 13,
                   kShareAdd = 14, kShareEnum = 15, kShareGetInfo = 16, kShareSetInfo = 17, kShareDel = 18,
                   kServerGetInfo = 21, kNameValidate = 33, kShareEnumSticky = 36;

struct Share {
    std::string name;
    uint32_t type;
    std::string remark;
    std::string path;
};

class Srvsvc : public PipeTest {
protected:
    void configure() override
    {
        // Twelve configured shares; with IPC$, C$ and a printer, fifteen.
        std::string lines;
        for (int i = 0; i < 11; ++i)
            lines += "share" + std::to_string(i) + ";/mnt/usb/s" + std::to_string(i) + ";remark " +
                     std::to_string(i) + "\n";
        lines += "thirteenchars;/mnt/usb/long;\n";
        testenv::writeFile(path("cs_cfg.txt"), lines);
    }
    void SetUp() override
    {
        PipeTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(vxAddShareW(W("printer").data(), W("/dev/usb/lp0").data(), W("/tmp/lp0").data(), 0,
                              W("the printer").data()),
                  0);
        ASSERT_EQ(csGetSharesCount(), 15u);
        admin(true);
        pipe = bound("srvsvc", kSrvsvc, 3);
        ASSERT_NE(pipe, nullptr);
    }
    void admin(bool on)
    {
        CMSdAccessToken &t = client.user->token;
        t.domain = *cmSdGetComputerSid();
        t.ridCount = 2;
        t.rids[0] = on ? uint32_t(-1001) : 1001u;
        t.rids[1] = 513;
    }
    Bytes enumArgs(uint32_t level)
    {
        Ndr n;
        n.textPointer("\\\\router")
            .u32(level)
            .u32(level)
            .pointer()
            .u32(0)
            .pointer(false)
            .u32(0xFFFFFFFF)
            .pointer()
            .u32(0);
        return n.bytes;
    }
    // The shares of an enumeration answer at level 0, 1 or 2.
    std::vector<Share> shares(const Reply &r, uint32_t level, uint32_t *total = nullptr)
    {
        std::vector<Share> out;
        NdrReader d(r.stub);
        EXPECT_EQ(d.u32(), level);
        EXPECT_EQ(d.u32(), level);
        d.u32();
        uint32_t count = d.u32();
        if (d.u32() == 0)
            return out;
        EXPECT_EQ(d.u32(), count);
        out.resize(count);
        for (Share &s : out) {
            d.u32();
            if (level >= 1) {
                s.type = d.u32();
                d.u32();
            }
            if (level == 2) {
                d.u32(), d.u32(), d.u32(), d.u32();
                EXPECT_EQ(d.u32(), 0u);  // password
            }
        }
        for (Share &s : out) {
            s.name = d.text();
            if (level >= 1)
                s.remark = d.text();
            if (level == 2)
                s.path = d.text();
        }
        uint32_t t = d.u32();
        if (total)
            *total = t;
        EXPECT_FALSE(d.bad);
        return out;
    }
    static std::vector<std::string> names(const std::vector<Share> &list)
    {
        std::vector<std::string> out;
        for (const Share &s : list)
            out.push_back(s.name);
        return out;
    }
    Bytes addArgs(uint32_t level, const char *name, const char *path, const char *remark = "")
    {
        Ndr n;
        n.textPointer(nullptr).u32(level).u32(level).pointer();
        n.pointer(name != nullptr)
            .u32(0)
            .pointer()
            .u32(0)
            .u32(0xFFFFFFFF)
            .u32(0)
            .pointer(path != nullptr)
            .pointer(false);
        if (level == 502)
            n.u32(0).pointer(false);
        if (name)
            n.text(name);
        n.text(remark);
        if (path)
            n.text(path);
        n.pointer().u32(0);
        return n.bytes;
    }
    Bytes nameArgs(const std::string &name, uint32_t level)
    {
        Ndr n;
        n.textPointer(nullptr).text(name).u32(level);
        return n.bytes;
    }
    std::string configured() { return testenv::readFile(path("cs_cfg.txt")); }

    CSFile *pipe = nullptr;
};

TEST_F(Srvsvc, FifteenSharesAtLevelOneAsTheCallerMayUseThem)
{
    const CSDcerpcInterface *f = csRpcSrvsvc();
    EXPECT_EQ(f->sizeCheck(kShareEnum), 12830u);
    EXPECT_EQ(f->sizeCheck(kShareEnumSticky), 12830u);
    EXPECT_EQ(f->sizeCheck(kShareGetInfo), 0u);

    for (uint16_t op : {kShareEnum, kShareEnumSticky}) {
        Reply r = call(pipe, op, enumArgs(1));
        ASSERT_FALSE(r.fault);
        EXPECT_EQ(r.status, 0u);
        uint32_t total = 0;
        std::vector<Share> got = shares(r, 1, &total);
        ASSERT_EQ(got.size(), 14u);  // no printer for a plain user
        EXPECT_EQ(total, 14u);
        EXPECT_EQ(got[0].name, "IPC$");
        EXPECT_EQ(got[0].type, 0x80000003u);
        EXPECT_EQ(got[1].name, "share0");
        EXPECT_EQ(got[1].type, 0u);
        EXPECT_EQ(got[1].remark, "remark 0");
        EXPECT_EQ(got[12].name, "thirteenchars");
        EXPECT_EQ(got[13].name, "C$");
        EXPECT_EQ(got[13].type, 0x80000000u);
        EXPECT_THAT(names(got), Not(::testing::Contains("printer")));
    }
    client.user->printerOwner = 1;
    std::vector<Share> got = shares(call(pipe, kShareEnum, enumArgs(1)), 1);
    ASSERT_EQ(got.size(), 15u);
    EXPECT_EQ(got.back().name, "printer");
    EXPECT_EQ(got.back().type, 1u);
    client.user->printerOwner = 0;
    csAuthSetPermissive(1);
    EXPECT_EQ(shares(call(pipe, kShareEnum, enumArgs(0)), 0).size(), 15u);
    csAuthSetPermissive(0);
}

// Level 501 is served by both enumerations alike (some clients expect the
// sticky one to refuse it): netname, type, remark and flags 0.
TEST_F(Srvsvc, LevelFiveOhOneInBothEnumerations)
{
    for (uint16_t op : {kShareEnum, kShareEnumSticky}) {
        SCOPED_TRACE(op);
        Reply r = call(pipe, op, enumArgs(501));
        ASSERT_FALSE(r.fault);
        EXPECT_EQ(r.status, 0u);
        NdrReader d(r.stub);
        EXPECT_EQ(d.u32(), 501u);
        EXPECT_EQ(d.u32(), 501u);
        d.u32();
        const uint32_t count = d.u32();
        ASSERT_EQ(count, 14u);
        EXPECT_NE(d.u32(), 0u);
        EXPECT_EQ(d.u32(), count);
        std::vector<uint32_t> types;
        for (uint32_t i = 0; i < count; ++i) {
            EXPECT_NE(d.u32(), 0u);
            types.push_back(d.u32());
            EXPECT_NE(d.u32(), 0u);
            EXPECT_EQ(d.u32(), 0u);  // flags
        }
        EXPECT_EQ(types.front(), 0x80000003u);
        EXPECT_EQ(d.text(), "IPC$");
        d.text();
        EXPECT_EQ(d.text(), "share0");
        EXPECT_EQ(d.text(), "remark 0");
        EXPECT_FALSE(d.bad);
    }
}

TEST_F(Srvsvc, LevelTwoShowsWindowsPathsToAdministratorsOnly)
{
    CSShare *c = csGetShareByName(W("C$").data());
    cmWStrcpy(c->path, W("/mnt/usb/").data());
    Reply r = call(pipe, kShareEnum, enumArgs(2));
    EXPECT_EQ(r.status, 0u);
    std::vector<Share> got = shares(r, 2);
    ASSERT_EQ(got.size(), 14u);
    EXPECT_EQ(got[0].path, "");
    EXPECT_EQ(got[1].path, "C:\\s0");
    EXPECT_EQ(got[13].path, "C:");

    admin(false);
    r = call(pipe, kShareEnum, enumArgs(2));
    EXPECT_FALSE(r.fault);
    EXPECT_EQ(r.status, 5u);
    EXPECT_TRUE(shares(r, 2).empty());
    r = call(pipe, kShareGetInfo, nameArgs("share1", 2));
    EXPECT_EQ(r.status, 5u);
    r = call(pipe, kShareEnum, enumArgs(502));
    EXPECT_EQ(r.status, 5u);
    r = call(pipe, kShareEnum, enumArgs(7));
    EXPECT_EQ(r.status, 124u);
}

TEST_F(Srvsvc, LevelFiveOhTwoCarriesADescriptorOfItsOwnLength)
{
    Reply r = call(pipe, kShareGetInfo, nameArgs("share1", 502));
    ASSERT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    EXPECT_EQ(d.u32(), 502u);
    EXPECT_NE(d.u32(), 0u);
    for (int i = 0; i < 8; ++i)
        d.u32();
    const uint32_t length = d.u32();
    EXPECT_NE(d.u32(), 0u);
    EXPECT_EQ(d.text(), "share1");
    EXPECT_EQ(d.text(), "remark 1");
    d.text();
    EXPECT_EQ(d.u32(), length);
    EXPECT_GT(length, 20u);
    d.at += length;
    d.align(4);
    EXPECT_EQ(d.at, r.stub.size());
}

TEST_F(Srvsvc, OneShare)
{
    struct Case {
        const char *name;
        uint32_t level;
        uint32_t status;
    } cases[] = {
        {"nosuch", 1, 2310}, {"printer", 1, 5}, {"share3", 9, 124},
        {"IPC$", 1, 0},      {"SHARE3", 0, 0},  {"share3", 501, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = call(pipe, kShareGetInfo, nameArgs(c.name, c.level));
        ASSERT_FALSE(r.fault);
        EXPECT_EQ(r.status, c.status);
        NdrReader d(r.stub);
        EXPECT_EQ(d.u32(), c.level);
        EXPECT_EQ(d.u32() != 0, c.status == 0);
    }
    Reply r = call(pipe, kShareGetInfo, nameArgs("IPC$", 1));
    NdrReader d(r.stub);
    d.u32(), d.u32(), d.u32();
    EXPECT_EQ(d.u32(), 0x80000003u);
    d.u32();
    EXPECT_EQ(d.text(), "IPC$");
    EXPECT_EQ(d.text(), "IPC Service");
    // A name that runs past the stub is bad stub data.
    Ndr cut;
    cut.textPointer(nullptr).u32(50).u32(0).u32(50).u16('s');
    r = call(pipe, kShareGetInfo, cut.bytes);
    EXPECT_TRUE(r.fault);
    EXPECT_EQ(r.status, CS_RPC_BAD_STUB_DATA);
}

TEST_F(Srvsvc, SetInfoChangesNothing)
{
    Reply r = call(pipe, kShareSetInfo, nameArgs("share1", 1));
    EXPECT_EQ(r.status, 5u);
    EXPECT_EQ(r.stub.size(), 8u);
    EXPECT_EQ(fw_test::get_le32(&r.stub[4]), 0u);
    r = call(pipe, kShareSetInfo, nameArgs("nosuch", 1));
    EXPECT_EQ(r.status, 2310u);
}

TEST_F(Srvsvc, SharesAddedAreStoredWhereTheirDriveSays)
{
    // A full table refuses, and the hooks' line goes with it.
    const std::string full = configured();
    Reply r = call(pipe, kShareAdd, addArgs(2, "docs", "C:\\usb\\docs", "my docs"));
    EXPECT_EQ(r.status, 8u);
    EXPECT_EQ(configured(), full);
    ASSERT_EQ(vxRemoveShareW(W("printer").data()), 0);
    ASSERT_EQ(vxRemoveShareW(W("share9").data()), 0);
    CSShare *c = csGetShareByName(W("C$").data());
    cmWStrcpy(c->path, W("/mnt/usb/").data());
    r = call(pipe, kShareAdd, addArgs(2, "docs", "C:\\usb\\docs", "my docs"));
    ASSERT_FALSE(r.fault);
    EXPECT_EQ(r.status, 0u);
    CSShare *docs = csGetShareByName(W("docs").data());
    ASSERT_NE(docs, nullptr);
    EXPECT_EQ(A(docs->path), "/mnt/usb/usb/docs");
    EXPECT_EQ(A(docs->comment), "my docs");
    EXPECT_THAT(configured(), HasSubstr("docs;/mnt/usb/usb/docs;my docs\n"));
    r = call(pipe, kShareAdd, addArgs(502, "more", "/mnt/usb/s1/more"));
    EXPECT_EQ(r.status, 0u);
    EXPECT_THAT(configured(), HasSubstr("more;/mnt/usb/s1/more;\n"));

    r = call(pipe, kShareDel, nameArgs("docs", 0));
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(csGetShareByName(W("docs").data()), nullptr);
    EXPECT_THAT(configured(), Not(HasSubstr("docs;")));
    EXPECT_EQ(call(pipe, kShareDel, nameArgs("docs", 0)).status, 0x1C000024u);
}

TEST_F(Srvsvc, RefusedAdditionsLeaveNothingBehind)
{
    ASSERT_EQ(vxRemoveShareW(W("printer").data()), 0);
    const std::string before = configured();
    const uint32_t shares = csGetSharesCount();
    struct Case {
        const char *what;
        uint32_t level;
        const char *name;
        const char *path;
        const char *remark;
        uint32_t status;
        uint32_t parm;
    } cases[] = {
        {"level 1005", 1005, "x", "C:\\x", "", 124, 0},
        {"level 1", 1, "x", "C:\\x", "", 124, 0},
        {"duplicate", 2, "SHARE1", "C:\\x", "", 2118, 0},
        {"climbing out", 2, "x", "C:\\..\\etc", "", 87, 8},
        {"climbing out later", 2, "x", "/mnt/usb/s1/../../../etc", "", 87, 8},
        {"control character", 2, "x", "C:\\a\nb", "", 87, 8},
        {"outside every share", 2, "x", "/etc", "", 87, 8},
        {"no such drive", 2, "x", "Q:\\x", "", 87, 8},
        {"no path", 2, "x", nullptr, "", 87, 8},
        {"no name", 2, nullptr, "C:\\x", "", 87, 1},
        {"separator in the name", 2, "a;b", "C:\\x", "", 87, 1},
        {"line end in the remark", 2, "x", "C:\\x", "a\nb", 87, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Reply r = call(pipe, kShareAdd, addArgs(c.level, c.name, c.path, c.remark));
        ASSERT_FALSE(r.fault);
        EXPECT_EQ(r.status, c.status);
        ASSERT_EQ(r.stub.size(), 8u);
        EXPECT_EQ(fw_test::get_le32(&r.stub[4]), c.parm);
        EXPECT_EQ(csGetSharesCount(), shares);
        EXPECT_EQ(configured(), before);
        EXPECT_EQ(csGetShareByName(W("__temp__").data()), nullptr);
    }
    admin(false);
    Reply r = call(pipe, kShareAdd, addArgs(2, "x", "C:\\x"));
    EXPECT_EQ(r.status, 5u);
    EXPECT_EQ(call(pipe, kShareDel, nameArgs("share1", 0)).status, 5u);
    EXPECT_EQ(configured(), before);
}

TEST_F(Srvsvc, ServerInformationAndNameValidation)
{
    for (uint32_t level : {100u, 101u, 102u}) {
        SCOPED_TRACE(level);
        Ndr n;
        n.textPointer("\\\\router").u32(level);
        Reply r = call(pipe, kServerGetInfo, n.bytes);
        ASSERT_EQ(r.status, 0u);
        NdrReader d(r.stub);
        EXPECT_EQ(d.u32(), level);
        d.u32();
        EXPECT_EQ(d.u32(), 500u);
        d.u32();
        if (level >= 101) {
            EXPECT_EQ(d.u32(), 2u);
            EXPECT_EQ(d.u32(), 0u);
            EXPECT_EQ(d.u32(), 0x8202u);
            d.u32();
        }
        if (level == 102) {
            EXPECT_EQ(d.u32(), 1u);  // users
            for (int i = 0; i < 6; ++i)
                d.u32();
        }
        EXPECT_EQ(d.text(), "ROUTER");
        if (level >= 101)
            EXPECT_EQ(d.text(), "VXE SMB Server");
        if (level == 102)
            EXPECT_EQ(d.text(), "");
        EXPECT_EQ(d.at, r.stub.size());
    }
    Ndr n;
    n.textPointer(nullptr).u32(103);
    EXPECT_EQ(call(pipe, kServerGetInfo, n.bytes).status, 0x1C000021u);
    for (uint32_t type : {9u, 1u}) {
        Ndr v;
        v.textPointer(nullptr).text("anything").u32(type).u32(0);
        EXPECT_EQ(call(pipe, kNameValidate, v.bytes).status, type == 9 ? 0u : 0x1C000021u);
    }
}

class SrvsvcClients : public Srvsvc {
protected:
    void SetUp() override
    {
        Srvsvc::SetUp();
        if (IsSkipped())
            return;
        share1 = csGetShareByName(W("share1").data());
        bob = server_test::connect(&bobSocket, 0x0301A8C0, "bob", share1);
        ASSERT_NE(bob.tree, nullptr);
        bobFile = server_test::open(bob, "\\s1\\file.txt");
        ASSERT_NE(bobFile, nullptr);
        serve();
    }
    // A listing's request: the server name, the strings before the level
    // (client and user, base path and user, or the share), the level and an
    // empty container.
    Bytes listArgs(std::initializer_list<const char *> strings, uint32_t level)
    {
        Ndr n;
        n.textPointer(nullptr);
        for (const char *text : strings)
            n.textPointer(text);
        n.u32(level).u32(level).pointer().u32(0).pointer(false).u32(0xFFFFFFFF).pointer(false);
        return n.bytes;
    }
    Bytes sessionArgs(uint32_t level) { return listArgs({nullptr, nullptr}, level); }
    Bytes delArgs(const char *clientName, const char *user)
    {
        Ndr n;
        n.textPointer(nullptr).textPointer(clientName).textPointer(user);
        return n.bytes;
    }
    int bobSocket = 0;
    server_test::Client bob;
    CSShare *share1 = nullptr;
    CSFile *bobFile = nullptr;
};

TEST_F(SrvsvcClients, SessionsConnectionsAndFiles)
{
    Reply r = call(pipe, kSessionEnum, sessionArgs(1));
    ASSERT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    d.u32(), d.u32(), d.u32();
    ASSERT_EQ(d.u32(), 2u);
    d.u32(), d.u32();
    for (int i = 0; i < 2; ++i) {
        d.u32(), d.u32();
        EXPECT_EQ(d.u32(), i == 0 ? 1u : 1u);  // open files: the pipe, bob's file
        d.u32(), d.u32(), d.u32();
    }
    EXPECT_EQ(d.text(), "192.168.1.2");
    EXPECT_EQ(d.text(), "alice");
    EXPECT_EQ(d.text(), "192.168.1.3");
    EXPECT_EQ(d.text(), "bob");

    r = call(pipe, kConnectionEnum, listArgs({"share1"}, 1));
    ASSERT_EQ(r.status, 0u);
    NdrReader c(r.stub);
    c.u32(), c.u32(), c.u32();
    ASSERT_EQ(c.u32(), 1u);
    c.u32(), c.u32();
    EXPECT_EQ(c.u32(), bob.tree->tid);
    for (int i = 0; i < 6; ++i)
        c.u32();
    EXPECT_EQ(c.text(), "bob");
    EXPECT_EQ(c.text(), "ROUTER");
    Ndr unknown;
    unknown.textPointer(nullptr).textPointer("nosuch").u32(1);
    EXPECT_EQ(call(pipe, kConnectionEnum, unknown.bytes).status, 2310u);

    const Bytes files = listArgs({nullptr, nullptr}, 3);
    r = call(pipe, kFileEnum, files);
    ASSERT_EQ(r.status, 0u);
    NdrReader f(r.stub);
    f.u32(), f.u32(), f.u32();
    ASSERT_EQ(f.u32(), 2u);
    f.u32(), f.u32();
    for (int i = 0; i < 10; ++i)
        f.u32();
    EXPECT_EQ(f.text(), "\\srvsvc");
    EXPECT_EQ(f.text(), "alice");
    EXPECT_EQ(f.text(), "\\s1\\file.txt");
    EXPECT_EQ(f.text(), "bob");

    admin(false);
    EXPECT_EQ(call(pipe, kSessionEnum, sessionArgs(0)).status, 5u);
    EXPECT_EQ(call(pipe, kFileEnum, files).status, 5u);
}

TEST_F(SrvsvcClients, ClosingAndDeletingOthersAndOneself)
{
    Ndr close;
    close.textPointer(nullptr).u32(bobFile->fid);
    EXPECT_EQ(call(pipe, kFileClose, close.bytes).status, 0u);
    EXPECT_EQ(csGetFileByJustFid(bobFile->fid), nullptr);

    EXPECT_EQ(call(pipe, kSessionDel, delArgs("\\\\192.168.1.9", nullptr)).status, 2312u);
    EXPECT_EQ(call(pipe, kSessionDel, delArgs(nullptr, "carol")).status, 2312u);
    const uint16_t bobUid = bob.user->uid;
    EXPECT_EQ(call(pipe, kSessionDel, delArgs("\\\\192.168.1.3", "BOB")).status, 0u);
    EXPECT_EQ(csGetSessionByIp(0x0301A8C0), nullptr);
    (void)bobUid;

    // One's own pipe: answered, and closed once the answer has been read,
    // even when the write and the read are two requests.
    Ndr own;
    own.textPointer(nullptr).u32(pipe->fid);
    const uint16_t fid = pipe->fid;
    ASSERT_EQ(write(pipe, requestPdu(0, kFileClose, own.bytes)), 0u);
    csDcerpcRunDeferredReleases();
    EXPECT_NE(csGetFileByJustFid(fid), nullptr);
    std::vector<Pdu> answer = readAll(pipe);
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].ptype, CS_RPC_RESPONSE);
    EXPECT_EQ(answer[0].body, Bytes(4, 0));
    csDcerpcRunDeferredReleases();
    EXPECT_EQ(csGetFileByJustFid(fid), nullptr);
    Reply r;

    // One's own session: answered, and released after.
    pipe = bound("srvsvc", kSrvsvc, 3);
    ASSERT_NE(pipe, nullptr);
    r = call(pipe, kSessionDel, delArgs(nullptr, "alice"));
    EXPECT_EQ(r.status, 0u);
    EXPECT_NE(csGetSessionByIp(0x0201A8C0), nullptr);
    csDcerpcRunDeferredReleases();
    EXPECT_EQ(csGetSessionByIp(0x0201A8C0), nullptr);
    EXPECT_EQ(csGetFilesCount(), 0u);

    admin(false);
}

TEST_F(SrvsvcClients, PlainUsersCloseAndDeleteNothing)
{
    admin(false);
    Ndr close;
    close.textPointer(nullptr).u32(bobFile->fid);
    EXPECT_EQ(call(pipe, kFileClose, close.bytes).status, 5u);
    EXPECT_NE(csGetFileByJustFid(bobFile->fid), nullptr);
    EXPECT_EQ(call(pipe, kSessionDel, delArgs(nullptr, "bob")).status, 5u);
    EXPECT_NE(csGetSessionByIp(0x0301A8C0), nullptr);
}

}  // namespace
