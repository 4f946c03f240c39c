// The pipe framework over a fake pipe: fragments joined and cut, binds and
// their refusals, requests and their faults, reads in pieces, and what a
// hostile writer cannot make it do.
#include "pipe_fixture.h"

#include "fw_test/matchers.h"

#include <gtest/gtest.h>

using namespace rpc_test;
using fw_test::ElementsAre;
using fw_test::get_le32;

namespace {

const std::string kWinreg = "338cd001-2244-31f1-aaaa-900038001003";

std::vector<std::string> gCalls;
uint32_t gAnswerBytes = 0;
uint32_t gSizeCheck = 0;

// op 0: answers its stub back. op 1: answers gAnswerBytes bytes.
// op 2: reads a u32 more than the stub holds. op 3: writes past its room.
uint32_t echo(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    Bytes stub(in->origin, in->origin + in->length);
    gCalls.push_back("echo " + std::to_string(stub.size()) + " call " + std::to_string(in->callId) +
                     (in->user ? " user" : "") + (in->token ? " token" : ""));
    cmRpcPackBytes(out, stub.data(), uint32_t(stub.size()));
    return 0;
}
uint32_t big(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *out)
{
    for (uint32_t i = 0; i < gAnswerBytes; ++i)
        cmRpcPackByte(out, uint8_t(i));
    return 5;
}
uint32_t greedy(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t v = 0;
    cmRpcParseSkip(in, in->length);
    cmRpcParseUint32(in, &v);
    cmRpcPackUint32(out, 7);
    return 0;
}
uint32_t spill(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *out)
{
    cmRpcPackSkip(out, uint32_t(cmRpcSpace(out)) + 1);
    return 0;
}
const CSDcerpcOperation kOps[] = {echo, big, greedy, spill};

uint32_t sizeCheck(uint16_t opnum) { return opnum == 1 ? gSizeCheck : 0; }
void closeHook(CSFile *pipe) { gCalls.push_back("close " + std::to_string(pipe->fid)); }

bool gSamrFails;
int samrInit()
{
    gCalls.push_back("init samr");
    return gSamrFails ? -1 : 0;
}
int winregInit()
{
    gCalls.push_back("init winreg");
    return 0;
}
void winregStop() { gCalls.push_back("stop winreg"); }

}  // namespace

// The account manager's place: an init that can fail.
extern "C" const CSDcerpcInterface *csRpcSamr(void)
{
    static const CSDcerpcInterface kInterface = {
        samrInit,
        nullptr,
        nullptr,
        "samr",
        {0x78, 0x57, 0x34, 0x12, 0x34, 0x12, 0xcd, 0xab, 0xef, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xac},
        1,
        0,
        68,
        nullptr,
        nullptr};
    return &kInterface;
}

// The registry pipe's place in the table serves the tests.
extern "C" const CSDcerpcInterface *csRpcWinReg(void)
{
    static const CSDcerpcInterface kInterface = {
        winregInit,
        winregStop,
        closeHook,
        "winreg",
        {0x01, 0xd0, 0x8c, 0x33, 0x44, 0x22, 0xf1, 0x31, 0xaa, 0xaa, 0x90, 0x00, 0x38, 0x00, 0x10, 0x03},
        1,
        0,
        4,
        kOps,
        sizeCheck};
    return &kInterface;
}

namespace {

class Framework : public PipeTest {
protected:
    void SetUp() override
    {
        PipeTest::SetUp();
        gCalls.clear();
        gAnswerBytes = 0;
        gSizeCheck = 0;
    }
    CSFile *winreg(uint16_t maxRecv = 4280)
    {
        CSFile *f = open("winreg");
        if (f)
            EXPECT_EQ(bind(f, {context(0, kWinreg, 1)}, maxRecv).ptype, CS_RPC_BIND_ACK);
        return f;
    }
};

TEST_F(Framework, PipeNamesOpenExactly)
{
    for (const char *name : {"srvsvc", "wkssvc", "spoolss", "lsarpc", "samr", "winreg"}) {
        CSFile *f = open(name);
        ASSERT_NE(f, nullptr) << name;
        EXPECT_EQ(f->pipe, 1u);
        EXPECT_EQ(f->maxResponseFragment, CS_RPC_DEFAULT_FRAGMENT);
        csReleaseFile(f->fid);
    }
    for (const char *name : {"SRVSVC", "netlogon", "lsass", "", "srvsvcsrvsvcsrvsvcsrv"}) {
        CSFile *f = server_test::open(client, std::string("\\") + name);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(csDcerpcOpenPipe(W(name).data(), f), 0) << name;
        EXPECT_EQ(f->pipe, 0u);
        csReleaseFile(f->fid);
    }
    CSFile *f = server_test::open(client, "\\x");
    const CMWchar wide[] = {'s', 'r', 'v', 0x100 + 's', 'v', 'c', 0};
    EXPECT_EQ(csDcerpcOpenPipe(wide, f), 0);
    csReleaseFile(f->fid);
}

TEST_F(Framework, StartStopsAtTheFirstFailingInterface)
{
    gCalls.clear();
    gSamrFails = true;
    EXPECT_EQ(csDcerpcInit(), -1);
    EXPECT_THAT(gCalls, ElementsAre("init samr"));
    gSamrFails = false;
    gCalls.clear();
    EXPECT_EQ(csDcerpcInit(), 0);
    csDcerpcStop();
    EXPECT_THAT(gCalls, ElementsAre("init samr", "init winreg", "stop winreg"));
    gCalls.clear();
}

// The open name as the server keeps it: '/' for host paths, or with the
// PIPE folder of the old commands.
TEST_F(Framework, TheOpenNameBindsWhateverItsSeparators)
{
    for (const char *path : {"/srvsvc", "\\PIPE\\srvsvc", "/pipe/srvsvc", "srvsvc"}) {
        SCOPED_TRACE(path);
        CSFile *f = server_test::open(client, path);
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(csDcerpcOpenPipe(W("srvsvc").data(), f), 1);
        EXPECT_EQ(bind(f, {context(0, kSrvsvc, 3)}).ptype, CS_RPC_BIND_ACK);
        csReleaseFile(f->fid);
    }
    CSFile *f = server_test::open(client, "/pipes");
    ASSERT_EQ(csDcerpcOpenPipe(W("srvsvc").data(), f), 1);
    EXPECT_EQ(bind(f, {context(0, kSrvsvc, 3)}).ptype, CS_RPC_BIND_NAK);
}

TEST_F(Framework, PipeInformation)
{
    SYFileInformation info{};
    CSFile *f = open("srvsvc");
    EXPECT_EQ(csDcerpcGetPipeInformation(f, &info), 0);
    EXPECT_EQ(info.allocationSize.low, 65616u);
    EXPECT_EQ(info.endOfFile.low, 0u);
    EXPECT_EQ(info.attributes, 0u);
    EXPECT_EQ(info.reserved, 1u);
    EXPECT_EQ(info.isDirectory, 1u);
}

TEST_F(Framework, ThreeFragmentsInTwoPiecesEachAreJoinedAndAnsweredOnce)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    const Bytes parts[3] = {Bytes(100, 0xA1), Bytes(50, 0xB2), Bytes(7, 0xC3)};
    const uint8_t flags[3] = {CS_RPC_FIRST_FRAG, 0, CS_RPC_LAST_FRAG};
    for (int i = 0; i < 3; ++i) {
        Bytes frag = requestPdu(0, 0, parts[i], flags[i], 9);
        size_t cut = 5 + 7 * i;  // inside the header, then inside the body
        EXPECT_EQ(write(f, Bytes(frag.begin(), frag.begin() + cut)), 0u);
        EXPECT_EQ(read(f, 100).size(), 0u);
        EXPECT_EQ(write(f, Bytes(frag.begin() + cut, frag.end())), 0u);
    }
    EXPECT_THAT(gCalls, ElementsAre("echo 157 call 9 user token"));
    std::vector<Pdu> got = readAll(f);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].ptype, CS_RPC_RESPONSE);
    EXPECT_EQ(got[0].flags, CS_RPC_FIRST_FRAG | CS_RPC_LAST_FRAG);
    EXPECT_EQ(got[0].callId, 9u);
    Bytes joined = parts[0];
    joined.insert(joined.end(), parts[1].begin(), parts[1].end());
    joined.insert(joined.end(), parts[2].begin(), parts[2].end());
    joined.insert(joined.end(), 4, 0);
    EXPECT_EQ(got[0].body, joined);
    EXPECT_EQ(f->callState, nullptr);
}

TEST_F(Framework, FragmentsInOneWriteAndAHeaderByteByByte)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    // Two fragments in one write: the first takes only its own body.
    Bytes both = requestPdu(0, 0, Bytes(10, 1), CS_RPC_FIRST_FRAG);
    Bytes second = requestPdu(0, 0, Bytes(6, 2), CS_RPC_LAST_FRAG);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(write(f, both), 0u);
    EXPECT_THAT(gCalls, ElementsAre("echo 16 call 2 user token"));
    readAll(f);
    gCalls.clear();
    Bytes one = requestPdu(0, 0, Bytes(3, 9));
    for (size_t i = 0; i < one.size(); ++i)
        EXPECT_EQ(write(f, Bytes{one[i]}), 0u) << i;
    EXPECT_THAT(gCalls, ElementsAre("echo 3 call 2 user token"));
}

TEST_F(Framework, LongAnswersComeInFragmentsWithFlagsAndAllocHint)
{
    CSFile *f = winreg(2000);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->maxResponseFragment, 2000u);
    gAnswerBytes = 5000;
    ASSERT_EQ(write(f, requestPdu(0, 1, {})), 0u);
    std::vector<Pdu> got = readAll(f);
    ASSERT_EQ(got.size(), 3u);
    uint32_t left = 5004;
    Bytes stub;
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        const uint8_t want = (i == 0 ? CS_RPC_FIRST_FRAG : 0) | (i == 2 ? CS_RPC_LAST_FRAG : 0);
        EXPECT_EQ(got[i].flags, want);
        EXPECT_EQ(got[i].allocHint, left);
        EXPECT_EQ(got[i].fragLength, got[i].body.size() + 24);
        EXPECT_EQ(got[i].cancel, 1);  // status 5
        EXPECT_LE(got[i].fragLength, 2000);
        left -= uint32_t(got[i].body.size());
        stub.insert(stub.end(), got[i].body.begin(), got[i].body.end());
    }
    ASSERT_EQ(stub.size(), 5004u);
    for (uint32_t i = 0; i < 5000; ++i)
        ASSERT_EQ(stub[i], uint8_t(i)) << i;
    EXPECT_EQ(get_le32(&stub[5000]), 5u);
}

TEST_F(Framework, ReadsSmallerThanAFragmentContinueWithoutAHeader)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    gAnswerBytes = 100;
    ASSERT_EQ(write(f, requestPdu(0, 1, {})), 0u);
    uint32_t remaining = 0;
    Bytes first = read(f, 10, &remaining);
    EXPECT_EQ(first.size(), 10u);
    EXPECT_EQ(remaining, 24u + 104 - 10);
    Bytes rest;
    while (f->callState) {
        Bytes b = read(f, 33, &remaining);
        ASSERT_FALSE(b.empty());
        rest.insert(rest.end(), b.begin(), b.end());
    }
    EXPECT_EQ(remaining, 0u);
    first.insert(first.end(), rest.begin(), rest.end());
    Pdu p = parsePdu(first);
    EXPECT_EQ(p.fragLength, 128u);
    EXPECT_EQ(p.body.size(), 104u);
    EXPECT_EQ(read(f, 10).size(), 0u);
}

TEST_F(Framework, TransactReportsAnOverflowWhenTheFragmentDoesNotFit)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    gAnswerBytes = 300;
    Bytes req = requestPdu(0, 1, {}, CS_RPC_FIRST_FRAG);  // forced last by the carrier
    Bytes out(100);
    uint32_t n = 0;
    csDispatchSetNtError(1);
    EXPECT_EQ(csDcerpcTransact(f, req.data(), uint32_t(req.size()), out.data(), 100, &n), 0x80000005u);
    EXPECT_EQ(n, 100u);
    uint32_t remaining = 0;
    EXPECT_EQ(read(f, 1000, &remaining).size(), 24u + 304 - 100);
    EXPECT_EQ(f->callState, nullptr);
    gAnswerBytes = 10;
    EXPECT_EQ(csDcerpcTransact(f, req.data(), uint32_t(req.size()), out.data(), 100, &n), 0u);
    EXPECT_EQ(n, 38u);
}

struct BindCase {
    const char *what;
    const char *pipe;
    std::vector<Context> items;
    uint8_t minor;
    uint8_t ptype;                  // the answer
    std::vector<uint16_t> results;  // per item, for an ack
    uint16_t reason;                // for a nak
};

TEST_F(Framework, BindDecisions)
{
    Context ndr64 = context(0, kSrvsvc, 3);
    ndr64.transfers = {{kNdr64, 1}, {kNdr, 2}};
    Context none = context(1, kSrvsvc, 3);
    none.transfers.clear();
    const BindCase cases[] = {
        {"srvsvc 3.0 on srvsvc", "srvsvc", {context(0, kSrvsvc, 3)}, 0, CS_RPC_BIND_ACK, {0}, 0},
        {"srvsvc on wkssvc",
         "wkssvc",
         {context(0, kSrvsvc, 3), context(1, kWkssvc, 1)},
         0,
         CS_RPC_BIND_ACK,
         {1, 0},
         0},
        {"version 3.1", "srvsvc", {context(0, kSrvsvc, 0x00010003)}, 0, CS_RPC_BIND_NAK, {}, 1},
        {"NDR64 first", "srvsvc", {ndr64}, 0, CS_RPC_BIND_NAK, {}, 2},
        {"NDR64 then NDR", "srvsvc", {ndr64, context(1, kSrvsvc, 3)}, 0, CS_RPC_BIND_ACK, {2, 0}, 0},
        {"no transfer syntax", "srvsvc", {none}, 0, CS_RPC_BIND_ACK, {0}, 0},
        {"context 25", "srvsvc", {context(25, kSrvsvc, 3)}, 0, CS_RPC_BIND_NAK, {}, 3},
        {"minor version 1", "srvsvc", {context(0, kSrvsvc, 3)}, 1, CS_RPC_BIND_NAK, {}, 4},
        {"no items", "srvsvc", {}, 0, CS_RPC_BIND_NAK, {}, 0},
    };
    for (const BindCase &c : cases) {
        SCOPED_TRACE(c.what);
        CSFile *f = open(c.pipe);
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(write(f, bindPdu(c.items, 4280, false, CS_RPC_BIND, c.minor)), 0u);
        std::vector<Pdu> got = readAll(f);
        ASSERT_EQ(got.size(), 1u);
        const Pdu &p = got[0];
        EXPECT_EQ(p.ptype, c.ptype);
        if (c.ptype == CS_RPC_BIND_NAK) {
            EXPECT_EQ(p.get16(0), c.reason);
            EXPECT_EQ(Bytes(p.body.begin() + 2, p.body.begin() + 5), (Bytes{1, 5, 0}));
        } else {
            EXPECT_EQ(p.get16(0), CS_RPC_ACK_FRAGMENT);
            std::string address(p.body.begin() + 10, p.body.begin() + 10 + p.get16(8) - 1);
            EXPECT_EQ(address, std::string("\\PIPE\\") + c.pipe);
            size_t at = (10 + p.get16(8) + 3) / 4 * 4;
            ASSERT_EQ(p.body[at], c.results.size());
            at += 4;
            for (size_t i = 0; i < c.results.size(); ++i, at += 24) {
                EXPECT_EQ(p.get16(at), c.results[i]) << i;
                EXPECT_EQ(p.get16(at + 2), c.results[i]) << i;
                EXPECT_EQ(p.get32(at + 20), c.results[i] == 0 ? 2u : 0u);
            }
            EXPECT_EQ(at, p.body.size());
        }
        // Only accepted items bind a slot.
        for (const Context &item : c.items)
            if (item.id < CS_PIPE_CONTEXTS) {
                bool accepted = c.ptype == CS_RPC_BIND_ACK && c.results[&item - c.items.data()] == 0;
                EXPECT_EQ(f->pipeContexts[item.id] != 0xFFFFFFFFu, accepted) << item.id;
            }
        csReleaseFile(f->fid);
    }
}

TEST_F(Framework, AlterContextBindsAnotherSlotAndAnswersInKind)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(write(f, bindPdu({context(3, kWinreg, 1)}, 5000, false, CS_RPC_ALTER_CONTEXT)), 0u);
    std::vector<Pdu> got = readAll(f);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].ptype, CS_RPC_ALTER_CONTEXT_RESP);
    EXPECT_EQ(f->maxResponseFragment, 5000u);
    Reply r = call(f, 0, Bytes{1, 2}, 3);
    EXPECT_FALSE(r.fault);
    EXPECT_EQ(r.stub, (Bytes{1, 2}));
}

TEST_F(Framework, ABindOfEveryItemIsAnsweredWhole)
{
    CSFile *f = open("winreg");
    std::vector<Context> items;
    for (int i = 0; i < 255; ++i)
        items.push_back(context(uint16_t(i % 30), kWinreg, 1));
    ASSERT_EQ(write(f, bindPdu(items, 65535)), 0u);
    std::vector<Pdu> got = readAll(f);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].ptype, CS_RPC_BIND_ACK);
    ASSERT_EQ(got[0].body.size(), 28u + 255 * 24);
    EXPECT_EQ(got[0].body[24], 255);
    for (uint32_t i = 0; i < CS_PIPE_CONTEXTS; ++i)
        EXPECT_NE(f->pipeContexts[i], 0xFFFFFFFFu) << i;
}

TEST_F(Framework, BigEndianCallsAreAnsweredBigEndian)
{
    CSFile *f = open("winreg");
    Pdu ack = bind(f, {context(0, kWinreg, 1), context(1, kWinreg, 0x00010001)}, 4280, true);
    EXPECT_EQ(ack.ptype, CS_RPC_BIND_ACK);
    EXPECT_TRUE(ack.big());
    EXPECT_EQ(ack.get16(0), CS_RPC_ACK_FRAGMENT);
    // Two results: the first accepted with NDR 2.0 (major, then minor), the
    // second, version 1.1, refused.
    ASSERT_EQ(ack.body.size(), 28u + 2 * 24);
    EXPECT_EQ(ack.get16(28), 0u);
    EXPECT_EQ(ack.get16(48), 2u);
    EXPECT_EQ(ack.get16(50), 0u);
    EXPECT_EQ(ack.get16(52), 1u);
    gAnswerBytes = 2;
    ASSERT_EQ(write(f, requestPdu(0, 1, {}, 3, 0x01020304, true)), 0u);
    std::vector<Pdu> got = readAll(f);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].drep0, 0);
    EXPECT_EQ(got[0].callId, 0x01020304u);
    EXPECT_EQ(got[0].allocHint, 6u);
    EXPECT_EQ(got[0].body, (Bytes{0, 1, 0, 0, 0, 5}));
}

TEST_F(Framework, RequestFaults)
{
    CSFile *srv = bound("srvsvc", kSrvsvc, 3);
    ASSERT_NE(srv, nullptr);
    struct Case {
        const char *what;
        Bytes request;
        uint32_t fault;
    } cases[] = {
        {"context 25", requestPdu(25, 0, {}), CS_RPC_CONTEXT_MISMATCH},
        {"unbound context", requestPdu(4, 0, {}), CS_RPC_CONTEXT_MISMATCH},
        {"opnum 54", requestPdu(0, 54, {}), CS_RPC_OP_RANGE_ERROR},
        {"empty entry", requestPdu(0, 0, {}), CS_RPC_OP_RANGE_ERROR},
        {"authenticated", requestPdu(0, 15, Bytes(16, 0), 3, 2, false, 8), CS_RPC_OP_RANGE_ERROR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(write(srv, c.request), 0u);
        std::vector<Pdu> got = readAll(srv);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].ptype, CS_RPC_FAULT);
        EXPECT_EQ(got[0].authLength, 0u);
        ASSERT_EQ(got[0].body.size(), 8u);
        EXPECT_EQ(got[0].fragLength, 32u);
        EXPECT_EQ(get_le32(got[0].body.data()), c.fault);
        EXPECT_EQ(get_le32(got[0].body.data() + 4), 0u);
    }
    // The fragment size a bind gave outlives an authenticated PDU.
    EXPECT_EQ(srv->maxResponseFragment, 4280u);
}

TEST_F(Framework, ArgumentsPastTheStubOrAnswersPastTheRoomAreFaults)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    Reply r = call(f, 2, Bytes{1, 2});
    EXPECT_TRUE(r.fault);
    EXPECT_EQ(r.status, CS_RPC_BAD_STUB_DATA);
    r = call(f, 3, {});
    EXPECT_TRUE(r.fault);
    EXPECT_EQ(r.status, 122u);
}

TEST_F(Framework, ASizeCheckGivesTheAnswerABiggerBuffer)
{
    CSFile *f = winreg(65535);
    ASSERT_NE(f, nullptr);
    gAnswerBytes = 100000;
    Reply r = call(f, 1, {});
    EXPECT_TRUE(r.fault);
    EXPECT_EQ(r.status, 122u);
    gSizeCheck = 100100;
    r = call(f, 1, {});
    EXPECT_FALSE(r.fault);
    EXPECT_EQ(r.stub.size(), 100000u);
    EXPECT_EQ(r.status, 5u);
    EXPECT_EQ(r.fragments.size(), 2u);
}

TEST_F(Framework, AnswersBeforeAnyBindAndAfterATinyOneStillCarryStub)
{
    CSFile *f = open("winreg");
    ASSERT_EQ(write(f, requestPdu(0, 0, {})), 0u);
    std::vector<Pdu> got = readAll(f);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(get_le32(got[0].body.data()), CS_RPC_CONTEXT_MISMATCH);
    for (uint16_t maxRecv : {uint16_t(0), uint16_t(24), uint16_t(100), uint16_t(65535)}) {
        SCOPED_TRACE(maxRecv);
        EXPECT_EQ(bind(f, {context(0, kWinreg, 1)}, maxRecv).ptype, CS_RPC_BIND_ACK);
        EXPECT_EQ(f->maxResponseFragment, std::max<uint16_t>(maxRecv, CS_RPC_MIN_FRAGMENT));
        gAnswerBytes = 3000;
        ASSERT_EQ(write(f, requestPdu(0, 1, {})), 0u);
        got = readAll(f);
        ASSERT_EQ(got.size(), maxRecv == 65535 ? 1u : 3u);
        for (const Pdu &p : got)
            EXPECT_LE(p.fragLength, std::max<uint16_t>(maxRecv, CS_RPC_MIN_FRAGMENT));
    }
    // A carrier's own bound is kept, not below what every client takes.
    f->pipeOutputLimit = 16;
    ASSERT_EQ(write(f, requestPdu(0, 1, {})), 0u);
    got = readAll(f, 16);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].fragLength, CS_RPC_MIN_FRAGMENT);
}

TEST_F(Framework, HostileWritesAreRefusedAndLeaveNothing)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    csDispatchSetNtError(1);
    // frag_length below its own header.
    EXPECT_EQ(write(f, pdu(CS_RPC_BIND, 3, 1, Bytes(20, 0), false, 0, 0, 10)), 0xC000000Du);
    EXPECT_EQ(f->callState, nullptr);
    Bytes shortRequest = requestPdu(0, 0, {});
    shortRequest[8] = 20;
    EXPECT_EQ(write(f, shortRequest), 0xC000000Du);
    EXPECT_EQ(f->callState, nullptr);
    // Fragments without LAST beyond what a request may join.
    Bytes body(65000, 0x55);
    uint32_t status = 0;
    int sent = 0;
    for (; sent < 40 && status == 0; ++sent)
        status = write(f, requestPdu(0, 0, body, sent == 0 ? CS_RPC_FIRST_FRAG : 0));
    EXPECT_EQ(status, 0xC0000023u);
    EXPECT_EQ(sent, 17);
    EXPECT_EQ(f->callState, nullptr);
    EXPECT_TRUE(gCalls.empty());
    // Types the framework does not take.
    EXPECT_EQ(write(f, pdu(CS_RPC_RESPONSE, 3, 1, Bytes(8, 0))), 0xC00000BBu);
    EXPECT_EQ(f->callState, nullptr);
    // AUTH3 has no RPC answer, but its write is taken, not left for later.
    EXPECT_EQ(write(f, pdu(CS_RPC_AUTH3, 3, 1, Bytes(8, 0))), 0u);
    EXPECT_EQ(f->callState, nullptr);
    EXPECT_EQ(read(f, 100).size(), 0u);
    // The pipe still serves.
    EXPECT_EQ(call(f, 0, Bytes{4}).stub, Bytes{4});
}

TEST_F(Framework, RequestsBeingJoinedShareOneBudget)
{
    csDispatchSetNtError(1);
    const Bytes body(65000, 0x55);
    // joinMost: a request of 16 such fragments, just below the 1 MiB cap.
    auto joinMost = [&](CSFile *f) {
        for (int i = 0; i < 16; ++i)
            if (uint32_t status = write(f, requestPdu(0, 0, body, i == 0 ? CS_RPC_FIRST_FRAG : 0)))
                return status;
        return 0u;
    };
    std::vector<CSFile *> held;
    uint32_t status = 0;
    while (status == 0 && held.size() < 12) {
        held.push_back(winreg());
        ASSERT_NE(held.back(), nullptr);
        status = joinMost(held.back());
    }
    // About 8 MiB between them, then the next is refused and keeps nothing.
    EXPECT_EQ(status, 0xC0000023u);
    EXPECT_EQ(held.size(), size_t(CS_RPC_MAX_JOINING / CS_RPC_MAX_REQUEST + 1));
    CSFile *refused = held.back();
    held.pop_back();
    EXPECT_EQ(refused->callState, nullptr);
    for (CSFile *f : held)
        EXPECT_NE(f->callState, nullptr);
    // Ordinary requests do not draw on it.
    EXPECT_EQ(call(refused, 0, Bytes(60000, 7)).stub.size(), 60000u);
    // A pipe that goes gives its share back.
    csReleaseFile(held.back()->fid);
    held.pop_back();
    EXPECT_EQ(joinMost(refused), 0u);
    for (CSFile *f : held)
        csReleaseFile(f->fid);
    csReleaseFile(refused->fid);
    held.clear();
    for (size_t i = 0; i < CS_RPC_MAX_JOINING / CS_RPC_MAX_REQUEST; ++i) {
        held.push_back(winreg());
        EXPECT_EQ(joinMost(held.back()), 0u) << i;
    }
}

TEST_F(Framework, AWriteWhileAnAnswerWaitsLosesTheAnswerAndFails)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    csDispatchSetNtError(1);
    ASSERT_EQ(write(f, requestPdu(0, 0, Bytes{1})), 0u);
    EXPECT_EQ(write(f, requestPdu(0, 0, Bytes{2})), 0xC0000023u);
    EXPECT_EQ(f->callState, nullptr);
    EXPECT_EQ(read(f, 100).size(), 0u);
    ASSERT_EQ(write(f, requestPdu(0, 0, Bytes{1})), 0u);
    read(f, 10);
    csDispatchSetNtError(0);
    EXPECT_EQ(write(f, requestPdu(0, 0, Bytes{2})), (122u << 16) | 1u);
}

TEST_F(Framework, ACallerWithoutAUserGetsFaultOne)
{
    CSFile *f = winreg();
    ASSERT_NE(f, nullptr);
    f->uid = 0x7777;
    Reply r = call(f, 0, Bytes{1});
    EXPECT_TRUE(r.fault);
    EXPECT_EQ(r.status, 1u);
    EXPECT_TRUE(gCalls.empty());
}

TEST_F(Framework, CloseReleasesEveryBoundContext)
{
    CSFile *f = open("winreg");
    ASSERT_EQ(bind(f, {context(0, kWinreg, 1), context(2, kWinreg, 1), context(19, kWinreg, 1)}).ptype,
              CS_RPC_BIND_ACK);
    ASSERT_EQ(write(f, requestPdu(0, 0, Bytes{1}, CS_RPC_FIRST_FRAG)), 0u);
    const uint16_t fid = f->fid;
    gCalls.clear();
    csReleaseFile(fid);
    const std::string close = "close " + std::to_string(fid);
    EXPECT_THAT(gCalls, ElementsAre(close, close, close));
    for (uint32_t slot : f->pipeContexts)
        EXPECT_EQ(slot, 0xFFFFFFFFu);
}

TEST_F(Framework, TenThousandCyclesLeaveNoRecord)
{
    const uint32_t files = csGetFilesCount();
    Ndr info;
    info.textPointer(nullptr).u32(100);
    for (int i = 0; i < 10000; ++i) {
        CSFile *w = bound("wkssvc", kWkssvc, 1);
        ASSERT_NE(w, nullptr);
        Reply r = call(w, 0, info.bytes);
        ASSERT_EQ(r.status, 0u);
        csReleaseFile(w->fid);
        ASSERT_EQ(csGetFilesCount(), files);
    }
    for (int i = 0; i < 2000; ++i) {
        CSFile *f = open("winreg");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(bind(f, {context(0, kWinreg, 1)}).ptype, CS_RPC_BIND_ACK);
        // Half leave an answer or a half-written request behind.
        ASSERT_EQ(write(f, requestPdu(0, 0, Bytes(64, 1), i % 2 ? 3 : CS_RPC_FIRST_FRAG)), 0u);
        csReleaseFile(f->fid);
    }
    EXPECT_EQ(csGetFilesCount(), files);
}

}  // namespace
