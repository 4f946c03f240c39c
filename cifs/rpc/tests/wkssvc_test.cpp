// The workstation service over a fake pipe: the computer's names at each
// level, the one transport, refused levels and room, and the server type.
#include "pipe_fixture.h"

#include "csbrowse.h"

#include <gtest/gtest.h>

using namespace rpc_test;

namespace {

class Wkssvc : public PipeTest {
protected:
    void SetUp() override
    {
        PipeTest::SetUp();
        if (IsSkipped())
            return;
        pipe = bound("wkssvc", kWkssvc, 1);
        ASSERT_NE(pipe, nullptr);
    }
    Bytes args(uint32_t level)
    {
        Ndr n;
        n.textPointer("\\\\router").u32(level);
        return n.bytes;
    }
    CSFile *pipe = nullptr;
};

TEST_F(Wkssvc, GetInfoLevels)
{
    for (uint32_t level : {100u, 101u, 102u}) {
        SCOPED_TRACE(level);
        Reply r = call(pipe, 0, args(level));
        ASSERT_FALSE(r.fault);
        EXPECT_EQ(r.status, 0u);
        NdrReader d(r.stub);
        EXPECT_EQ(d.u32(), level);
        EXPECT_NE(d.u32(), 0u);    // the union's pointer
        EXPECT_EQ(d.u32(), 500u);  // platform
        EXPECT_NE(d.u32(), 0u);    // computer name
        EXPECT_NE(d.u32(), 0u);    // LAN group
        EXPECT_EQ(d.u32(), 2u);    // version 2.0
        EXPECT_EQ(d.u32(), 0u);
        if (level >= 101)
            EXPECT_NE(d.u32(), 0u);  // LAN root
        if (level == 102)
            EXPECT_EQ(d.u32(), 0u);  // logged-on users
        EXPECT_EQ(d.text(), "ROUTER");
        EXPECT_EQ(d.text(), "WORKGROUP");
        if (level >= 101)
            EXPECT_EQ(d.text(), "");
        EXPECT_FALSE(d.bad);
        EXPECT_EQ(d.at, r.stub.size());
    }
}

TEST_F(Wkssvc, OtherLevelsAndShortRoomAreRefused)
{
    Reply r = call(pipe, 0, args(103));
    EXPECT_FALSE(r.fault);
    EXPECT_EQ(r.status, 0x1C000021u);
    r = call(pipe, 5, args(1));
    EXPECT_EQ(r.status, 0x1C000021u);
    // Arguments cut short are not guessed at.
    r = call(pipe, 0, Bytes{0, 0});
    EXPECT_TRUE(r.fault);
    EXPECT_EQ(r.status, CS_RPC_BAD_STUB_DATA);
    // A server name that claims more than the stub holds.
    Ndr bad;
    bad.pointer().u32(1000).u32(0).u32(1000).u16('a');
    r = call(pipe, 0, bad.bytes);
    EXPECT_TRUE(r.fault);
    EXPECT_EQ(r.status, CS_RPC_BAD_STUB_DATA);
    // Opnums without an operation.
    r = call(pipe, 1, args(100));
    EXPECT_TRUE(r.fault);
    EXPECT_EQ(r.status, CS_RPC_OP_RANGE_ERROR);
    r = call(pipe, 31, args(100));
    EXPECT_EQ(r.status, CS_RPC_OP_RANGE_ERROR);
}

TEST_F(Wkssvc, ExactlyOneTransport)
{
    Ndr n;
    n.textPointer(nullptr).u32(0).u32(0).pointer().u32(0).pointer(false).u32(0xFFFFFFFF).pointer(false);
    Reply r = call(pipe, 5, n.bytes);
    ASSERT_FALSE(r.fault);
    EXPECT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    EXPECT_EQ(d.u32(), 0u);
    EXPECT_EQ(d.u32(), 0u);
    EXPECT_NE(d.u32(), 0u);      // container
    EXPECT_EQ(d.u32(), 1u);      // entries read
    EXPECT_NE(d.u32(), 0u);      // array
    EXPECT_EQ(d.u32(), 1u);      // its size
    EXPECT_EQ(d.u32(), 65535u);  // quality of service
    EXPECT_EQ(d.u32(), 0u);      // virtual circuits
    EXPECT_NE(d.u32(), 0u);
    EXPECT_NE(d.u32(), 0u);
    EXPECT_EQ(d.u32(), 1024u);  // wan_ish
    EXPECT_EQ(d.text(), "\\Device\\NetbiosSmb");
    EXPECT_EQ(d.text(), "000000000000");
    EXPECT_EQ(d.u32(), 1u);  // total
    d.u32();                 // resume handle pointer
    EXPECT_EQ(d.u32(), 0u);
    EXPECT_EQ(d.at, r.stub.size());
}

TEST_F(Wkssvc, ServerTypeFollowsDomainMembership)
{
    EXPECT_EQ(csGetHostType(), 0x8202u);  // a workgroup
    cmNetBiosExit();
    testenv::writeFile(path("cm_cfg.txt"), "DOMAIN=CORP:D\n");
    ASSERT_EQ(setdomainname("corp.example", 12), 0);
    udStop();
    ASSERT_EQ(udInit(), 0);
    ASSERT_EQ(cmNetBiosInit(), 0);
    EXPECT_EQ(csGetHostType(), 0x8302u);
}

}  // namespace
