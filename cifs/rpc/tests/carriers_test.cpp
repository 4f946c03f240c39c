// The SMB1 carriers of pipe traffic: the TRANSACTION sub-commands on
// "\PIPE\" and the late answers of TRANSACTION, WRITE_ANDX and WRITE, with
// the server's late-response sending recorded.
#include "pipe_fixture.h"

#include "cstrans.h"

#include "fw_test/matchers.h"

#include <gtest/gtest.h>

using namespace rpc_test;
using fw_test::get_le16;
using fw_test::get_le32;

namespace {

const std::string kWinreg = "338cd001-2244-31f1-aaaa-900038001003";

CSLateResponseContext gLate;
uint8_t gLateBuffer[1500];
struct Sent {
    uint32_t status;
    Bytes body;
};
std::vector<Sent> gSent;
uint32_t gAnswerBytes;

// op 0 answers later; op 1 answers gAnswerBytes bytes now.
uint32_t later(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    csDcerpcSaveResponseContext(1, in, &gLate);
    return CS_RPC_LATE;
}
uint32_t now(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *out)
{
    for (uint32_t i = 0; i < gAnswerBytes; ++i)
        cmRpcPackByte(out, uint8_t(i));
    return 0;
}
const CSDcerpcOperation kOps[] = {later, now};

}  // namespace

extern "C" const CSDcerpcInterface *csRpcWinReg(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "winreg",
        {0x01, 0xd0, 0x8c, 0x33, 0x44, 0x22, 0xf1, 0x31, 0xaa, 0xaa, 0x90, 0x00, 0x38, 0x00, 0x10, 0x03},
        1,
        0,
        2,
        kOps,
        nullptr};
    return &kInterface;
}

// The server's late answers: built in a buffer of ours and recorded.
extern "C" void csDispatchPrepareLateResponse(CSLateResponseContext *context)
{
    context->response = gLateBuffer + 4 + 32;
    context->remaining = sizeof gLateBuffer - 4 - 32;
}
extern "C" int csDispatchSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    EXPECT_EQ(context->response, gLateBuffer + 4 + 32);
    gSent.push_back(Sent{status, Bytes(context->response, context->response + length)});
    return 1;
}

namespace {

class Carriers : public PipeTest {
protected:
    void SetUp() override
    {
        PipeTest::SetUp();
        gLate = CSLateResponseContext{};
        gSent.clear();
        gAnswerBytes = 0;
        pipe = bound("winreg", kWinreg, 1);
        ASSERT_NE(pipe, nullptr);
    }

    // A TRANSACTION on the pipe: setup words, data, and the response's
    // byte count after the header and the 10 words.
    uint32_t transact(uint16_t command, const Bytes &data = {}, uint16_t flags2 = 0x8000,
                      uint32_t maxData = 4280, int fid = -1)
    {
        header.assign(32, 0);
        header[10] = uint8_t(flags2), header[11] = uint8_t(flags2 >> 8);
        header[24] = uint8_t(client.tree->tid), header[25] = uint8_t(client.tree->tid >> 8);
        header[28] = uint8_t(client.user->uid), header[29] = uint8_t(client.user->uid >> 8);
        const uint16_t f = uint16_t(fid < 0 ? pipe->fid : fid);
        setup = {uint8_t(command), uint8_t(command >> 8), uint8_t(f), uint8_t(f >> 8)};
        in = data;
        response.assign(CS_TRANS_RESPONSE_SIZE + 16, 0xEE);
        t = CSTransaction{};
        t.header = header.data();
        t.response = response.data();
        t.setup = setup.data();
        t.setupCount = 2;
        t.data = in.data();
        t.dataCount = uint32_t(in.size());
        t.maxDataCount = maxData;
        t.byteCount = response.data() + 32 + CS_TRANS_RESPONSE_WORDS;
        return csNamedPipeEntry(&t);
    }
    Bytes outData() const { return Bytes(t.dataOut, t.dataOut + t.dataCountOut); }
    uint16_t byteCount() const { return get_le16(t.byteCount); }

    CSFile *pipe = nullptr;
    Bytes header, setup, in, response;
    CSTransaction t{};
};

TEST_F(Carriers, PipeStateAndInformation)
{
    EXPECT_EQ(transact(0x0021), 0u);
    EXPECT_EQ(t.parameterCountOut, 4u);
    EXPECT_EQ(get_le16(t.parametersOut), 0x8501);
    EXPECT_EQ(t.dataCountOut, 0u);
    EXPECT_EQ((t.parametersOut - t.response) % 2, 0);
    EXPECT_EQ(byteCount(), 1u + 4);

    EXPECT_EQ(transact(0x0001), 0u);
    EXPECT_EQ(t.parameterCountOut + t.dataCountOut, 0u);

    struct {
        uint16_t flags2;
        uint8_t nameLength;
        uint32_t count;
    } infos[] = {{0x8000, 16, 23}, {0, 8, 15}};
    for (const auto &c : infos) {
        SCOPED_TRACE(c.flags2);
        EXPECT_EQ(transact(0x0022, {}, c.flags2), 0u);
        EXPECT_EQ(t.dataCountOut, c.count);
        Bytes d = outData();
        ASSERT_EQ(d.size(), c.count);
        EXPECT_EQ(get_le16(&d[2]), 65470);
        EXPECT_EQ(d[4], 1);
        EXPECT_EQ(d[5], 1);
        EXPECT_EQ(d[6], c.nameLength);
        std::string name;
        for (size_t i = 7; i < d.size(); i += c.flags2 ? 2 : 1)
            name.push_back(char(d[i]));
        EXPECT_EQ(name, std::string("\\winreg") + '\0');
        EXPECT_EQ(byteCount(), 1u + c.count);
    }
    // The client's room bounds the data.
    EXPECT_EQ(transact(0x0022, {}, 0x8000, 5), 0u);
    EXPECT_EQ(t.dataCountOut, 5u);
}

TEST_F(Carriers, OnlyOpenPipesAndKnownSubcommandsAreServed)
{
    csDispatchSetNtError(1);
    EXPECT_EQ(transact(0x0053), 0xC00000ADu);
    EXPECT_EQ(transact(0x0021, {}, 0x8000, 100, 0x4999), 0xC00000ADu);
    CSFile *plain = server_test::open(client, "\\notapipe");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(transact(0x0021, {}, 0x8000, 100, plain->fid), 0xC00000ADu);
    csDispatchSetNtError(0);
    EXPECT_EQ(transact(0x0021, {}, 0x8000, 100, 0x4999), (230u << 16) | 1u);
    t.setupCount = 1;
    EXPECT_EQ(csNamedPipeEntry(&t), (230u << 16) | 1u);
}

TEST_F(Carriers, TransactNmpipeAnswersAndOverflows)
{
    csDispatchSetNtError(1);
    gAnswerBytes = 20;
    EXPECT_EQ(transact(0x0026, requestPdu(0, 1, {}, CS_RPC_FIRST_FRAG)), 0u);
    Pdu p = parsePdu(outData());
    EXPECT_EQ(p.ptype, CS_RPC_RESPONSE);
    EXPECT_EQ(p.body.size(), 24u);
    EXPECT_EQ(t.parameterCountOut, 0u);
    EXPECT_EQ(byteCount(), 1u + 48);
    // Less room than the fragment: the rest waits for a read.
    gAnswerBytes = 200;
    EXPECT_EQ(transact(0x0026, requestPdu(0, 1, {}), 0x8000, 100), 0x80000005u);
    EXPECT_EQ(t.dataCountOut, 100u);
    EXPECT_EQ(read(pipe, 1000).size(), 24u + 204 - 100);
}

TEST_F(Carriers, ADeferredTransactionIsAnsweredThroughTheTransaction)
{
    EXPECT_EQ(transact(0x0026, requestPdu(0, 0, {}, 3, 77)), CS_RPC_LATE);
    EXPECT_EQ(pipe->callState, nullptr);
    EXPECT_EQ(gLate.callId, 77u);
    EXPECT_EQ(gLate.rpcFraming, 1u);
    ASSERT_EQ(csDcerpcPrepareLateResponse(&gLate, 100), 0);
    std::memcpy(gLate.response, "\x01\x02\x03", 3);
    EXPECT_EQ(csDcerpcSendLateResponse(&gLate, 0, 3), 1);
    ASSERT_EQ(gSent.size(), 1u);
    const Bytes &b = gSent[0].body;
    EXPECT_EQ(gSent[0].status, 0u);
    ASSERT_EQ(b.size(), 21u + 3 + 31);
    EXPECT_EQ(b[0], 10);               // WordCount
    EXPECT_EQ(get_le16(&b[13]), 31u);  // DataCount
    EXPECT_EQ(get_le16(&b[15]), 56u);  // DataOffset
    EXPECT_EQ(get_le16(&b[21]), 32u);  // ByteCount: pad and data
    Pdu p = parsePdu(Bytes(b.begin() + 24, b.end()));
    EXPECT_EQ(p.ptype, CS_RPC_RESPONSE);
    EXPECT_EQ(p.flags, 3);
    EXPECT_EQ(p.fragLength, 31u);
    EXPECT_EQ(p.callId, 77u);
    EXPECT_EQ(p.allocHint, 7u);
    EXPECT_EQ(p.body, (Bytes{1, 2, 3, 0, 0, 0, 0}));
}

struct WriteCase {
    const char *what;
    CSLateSave save;
    CSLatePrepare prepare;
    CSLateSend send;
    Bytes words;  // the write's answer, for a count of 0x12345
};

TEST_F(Carriers, ADeferredWriteIsAnsweredAndTheReadGetsThePduWhole)
{
    const WriteCase cases[] = {
        {"WRITE_ANDX",
         csDispatchSaveWriteAndXResponseContext,
         csWriteAndXPipePrepareLateResponse,
         csWriteAndXPipeSendLateResponse,
         {6, 0xFF, 0, 0, 0, 0x45, 0x23, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0}},
        {"WRITE",
         csDispatchSaveWriteResponseContext,
         csWritePipePrepareLateResponse,
         csWritePipeSendLateResponse,
         {1, 0x45, 0x23, 0, 0}},
    };
    for (const WriteCase &c : cases) {
        SCOPED_TRACE(c.what);
        gSent.clear();
        gLate = CSLateResponseContext{};
        Bytes request = requestPdu(0, 0, {}, 3, 5);
        csDispatchSetWriteFile(pipe->fid, pipe);
        csDispatchSetWriteCount(0x12345);
        csDcerpcSetLateResponseCallbacks(c.save, c.prepare, c.send);
        ASSERT_EQ(write(pipe, request), CS_RPC_LATE);
        EXPECT_EQ(read(pipe, 100).size(), 0u);
        ASSERT_EQ(csDcerpcPrepareLateResponse(&gLate, 100), 0);
        std::memcpy(gLate.response, "\xAA\xBB", 2);
        EXPECT_EQ(csDcerpcSendLateResponse(&gLate, 0, 2), 1);
        ASSERT_EQ(gSent.size(), 1u);
        EXPECT_EQ(gSent[0].body, c.words);
        // The read after the write gets the PDU saved for it, whole.
        uint32_t remaining = 9;
        Bytes got = read(pipe, 4280, &remaining);
        EXPECT_EQ(remaining, 0u);
        Pdu p = parsePdu(got);
        EXPECT_EQ(p.ptype, CS_RPC_RESPONSE);
        EXPECT_EQ(p.fragLength, got.size());
        EXPECT_EQ(p.callId, 5u);
        EXPECT_EQ(p.body, (Bytes{0xAA, 0xBB, 0, 0, 0, 0}));
        EXPECT_EQ(pipe->callState, nullptr);
    }
}

TEST_F(Carriers, ADeferredFailureTravelsAsAFaultAndAClosedPipeKeepsNothing)
{
    csDispatchSetWriteFile(pipe->fid, pipe);
    csDcerpcSetLateResponseCallbacks(csDispatchSaveWriteAndXResponseContext,
                                     csWriteAndXPipePrepareLateResponse, csWriteAndXPipeSendLateResponse);
    ASSERT_EQ(write(pipe, requestPdu(0, 0, {}, 3, 6)), CS_RPC_LATE);
    csDcerpcPrepareLateResponse(&gLate, 100);
    EXPECT_EQ(csDcerpcSendLateResponse(&gLate, 0x5, 10), 1);
    Pdu p = parsePdu(read(pipe, 4280));
    EXPECT_EQ(p.ptype, CS_RPC_FAULT);
    EXPECT_EQ(p.fragLength, 32u);
    EXPECT_EQ(p.body, (Bytes{5, 0, 0, 0, 0, 0, 0, 0}));

    // The pipe closes before the answer: the answer has nowhere to stay.
    ASSERT_EQ(write(pipe, requestPdu(0, 0, {}, 3, 7)), CS_RPC_LATE);
    csReleaseFile(pipe->fid);
    csDcerpcPrepareLateResponse(&gLate, 100);
    EXPECT_EQ(csDcerpcSendLateResponse(&gLate, 0, 0), 1);
    EXPECT_EQ(pipe->callState, nullptr);
}

// The server's late buffer too small for a PDU: nothing is written or sent.
TEST_F(Carriers, ALateAnswerWithoutRoomIsNotSent)
{
    csDcerpcSetLateResponseCallbacks(csDispatchSaveWriteAndXResponseContext, csWriteAndXPipePrepareLateResponse,
                                     csWriteAndXPipeSendLateResponse);
    csDispatchSetWriteFile(pipe->fid, pipe);
    ASSERT_EQ(write(pipe, requestPdu(0, 0, {})), CS_RPC_LATE);
    gLate.prepare = [](CSLateResponseContext *context) {
        context->response = gLateBuffer + 100;
        context->remaining = 31;
        return 0;
    };
    std::memset(gLateBuffer, 0x5A, sizeof gLateBuffer);
    csDcerpcPrepareLateResponse(&gLate, 100);
    EXPECT_EQ(gLate.response, nullptr);
    EXPECT_EQ(csDcerpcSendLateResponse(&gLate, 0, 0), 0);
    EXPECT_EQ(csDcerpcSendLateResponse(&gLate, 5, 0), 0);
    for (uint8_t b : gLateBuffer)
        ASSERT_EQ(b, 0x5A);
    EXPECT_TRUE(gSent.empty());
}

TEST_F(Carriers, ASavedAnswerLongerThanTheReadGoesOnWithTheNextRead)
{
    Bytes pduBytes(300);
    for (size_t i = 0; i < pduBytes.size(); ++i)
        pduBytes[i] = uint8_t(i);
    csDcerpcSaveCompleteResponse(pipe, pduBytes.data(), uint32_t(pduBytes.size()));
    uint32_t remaining = 0;
    Bytes a = read(pipe, 200, &remaining);
    EXPECT_EQ(remaining, 100u);
    Bytes b = read(pipe, 200, &remaining);
    EXPECT_EQ(remaining, 0u);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(a, pduBytes);
    EXPECT_EQ(pipe->callState, nullptr);
    // A write while it waits loses it, as any answer.
    csDcerpcSaveCompleteResponse(pipe, pduBytes.data(), 10);
    csDispatchSetNtError(1);
    EXPECT_EQ(write(pipe, requestPdu(0, 1, {})), 0xC0000023u);
}

}  // namespace
