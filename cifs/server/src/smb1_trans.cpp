// SMB1 TRANSACTION, TRANSACTION2 and NT_TRANSACT: each request's blocks
// found inside the message, routed by name or code to its handler, and the
// answer's words packed from what the handler wrote. One message each way.
#include "smb1_answer.h"

#include "cscommands.h"
#include "cstrans.h"
#include "cstrans2.h"

#include <array>
#include <cstring>
#include <string_view>

using namespace cs::smb1;

namespace {

constexpr uint32_t kTransWords = 14;    // TRANSACTION and TRANSACTION2 before the setup
constexpr uint32_t kNtTransWords = 19;  // NT_TRANSACT before the setup
constexpr uint32_t kTrans2Subcommands = 17;
constexpr uint32_t kNtTransactFunctions = 7;
constexpr uint32_t kNameSize = 256;

uint8_t *responseLimit(uint8_t *response) { return response + (CS_RESPONSE_LIMIT - 1); }

uint32_t roomFrom(uint8_t *response, uint8_t *at)
{
    uint8_t *limit = responseLimit(response);
    return at < limit ? uint32_t(limit - at) : 0;
}

// The request's parts, each inside the message, or refused.
struct Parts {
    const uint8_t *parameters = nullptr, *data = nullptr;
    uint32_t parameterCount = 0, dataCount = 0;
};

bool takeBlocks(Parts &p, uint32_t parameterOffset, uint32_t parameterCount, uint32_t dataOffset,
                uint32_t dataCount)
{
    if ((parameterCount && !inMessage(parameterOffset, parameterCount)) ||
        (dataCount && !inMessage(dataOffset, dataCount)))
        return false;
    // An empty block still points into the message: readers take a
    // position and a length, never a null.
    const uint8_t *header = requestHeader();
    const uint8_t *end = header + cs::gFrame.requestLength;
    p.parameters = parameterCount ? header + parameterOffset : end;
    p.parameterCount = parameterCount;
    p.data = dataCount ? header + dataOffset : end;
    p.dataCount = dataCount;
    return true;
}

// TRANSACTION and TRANSACTION2 share their request words.
uint32_t readTransaction(const Block &block, CSTransaction &t)
{
    if (block.words() < kTransWords)
        return kInvalid();
    const uint32_t setupCount = block.byte(26);
    if (block.words() != kTransWords + setupCount)
        return kInvalid();
    Parts p;
    if (!takeBlocks(p, block.word(20), block.word(18), block.word(24), block.word(22)))
        return kInvalid();
    t.words = block.params;
    t.header = requestHeader();
    t.parameters = p.parameters;
    t.parameterCount = p.parameterCount;
    t.maxParameterCount = block.word(4);
    t.data = p.data;
    t.dataCount = p.dataCount;
    t.maxDataCount = block.word(6);
    t.maxSetupCount = block.byte(8);
    t.setup = block.params + 1 + 2 * kTransWords;
    t.setupCount = setupCount;
    return 0;
}

// The answer's parts lie between from and the response's limit; returns
// their end, or null when they do not.
uint8_t *answerEnd(uint8_t *parameters, uint32_t parameterCount, uint8_t *data, uint32_t dataCount,
                   uint8_t *from, uint8_t *limit)
{
    auto inside = [&](const uint8_t *p, uint32_t n) {
        return p >= from && p <= limit && n <= uint32_t(limit - p);
    };
    if (!parameters)
        parameters = from;
    if (!inside(parameters, parameterCount) || (data && !inside(data, dataCount)))
        return nullptr;
    uint8_t *end = parameters + parameterCount;
    if (data && data + dataCount > end)
        end = data + dataCount;
    return end;
}

// TRANSACTION's name: after the setup words and ByteCount, UTF-16 from an
// even offset or 8-bit, terminated inside the byte block.
bool readName(const Block &block, bool wide, char *name, uint32_t size)
{
    const uint8_t *p = block.bytes();
    const uint8_t *end = block.bytesEnd();
    if (wide && (fromHeader(p) & 1))
        ++p;
    for (uint32_t n = 0; n < size; ++n) {
        if (p + (wide ? 2 : 1) > end)
            return false;
        const uint16_t ch = wide ? u16(p) : *p;
        p += wide ? 2 : 1;
        name[n] = char(ch > 0xFF ? '?' : ch);
        if (ch == 0)
            return true;
    }
    return false;
}

using TransactionHandler = uint32_t (*)(CSTransaction *);

struct NamedRoute {
    std::string_view prefix;
    TransactionHandler handler;
};

TransactionHandler routeByName(std::string_view name)
{
    // LANMAN first: its name begins with the pipes' prefix too.
    static const std::array<NamedRoute, 3> routes{{
        {"\\PIPE\\LANMAN", csRapApiEntry},
        {"\\MAILSLOT\\BROWSE", csMailslotBrowse},
        {"\\PIPE\\", csNamedPipeEntry},
    }};
    for (const NamedRoute &r : routes)
        if (name.substr(0, r.prefix.size()) == r.prefix)
            return r.handler;
    return nullptr;
}

using Trans2Handler = uint32_t (*)(CSTrans2Request *);

const std::array<Trans2Handler, kTrans2Subcommands> &trans2Commands()
{
    static const std::array<Trans2Handler, kTrans2Subcommands> rows = [] {
        std::array<Trans2Handler, kTrans2Subcommands> t{};
        t[0x00] = csTrans2Open;
        t[0x01] = csTrans2FindFirst;
        t[0x02] = csTrans2FindNext;
        t[0x03] = csTrans2QueryFsInformation;
        t[0x05] = csTrans2QueryPathInformation;
        t[0x06] = csTrans2SetPathInformation;
        t[0x07] = csTrans2QueryFileInformation;
        t[0x08] = csTrans2SetFileInformation;
        t[0x0D] = csTrans2CreateDirectory;
        return t;
    }();
    return rows;
}

const std::array<TransactionHandler, kNtTransactFunctions> &ntTransactCommands()
{
    static const std::array<TransactionHandler, kNtTransactFunctions> rows{
        nullptr,
        csNtTransactionCreate,
        nullptr,
        csNtTransactionSetSecurityDescriptor,
        csNtTransactionNotifyChange,
        nullptr,
        csNtTransactionQuerySecurityDescriptor,
    };
    return rows;
}

// A result after which the answer is built: success, a warning, and the
// "buffer too small" that keeps the parameters (LengthNeeded).
bool answered(uint32_t status)
{
    if (status == 0 || status == CS_STATUS_TRANS_TOO_SMALL)
        return true;
    if ((status >> 29) == 7 || (status >> 28) == 0xC || (status & 0xFC) == 0)
        return false;
    return true;
}

}  // namespace

extern "C" {

uint32_t csComTransaction(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    CSTransaction t{};
    if (uint32_t status = readTransaction(block, t))
        return status;
    char name[kNameSize];
    if (!readName(block, unicode(), name, sizeof name))
        return kInvalid();
    TransactionHandler handler = routeByName(name);
    if (!handler)
        return kNotSupported();

    // The handler writes from after the ten answer words: setup words (none
    // so far), ByteCount, pad, parameters and data.
    uint8_t *start = *position;
    uint8_t *limit = responseLimit(response);
    if (roomFrom(response, start) < CS_TRANS_RESPONSE_WORDS + 2)
        return kTooSmall();
    t.response = response;
    t.setupOut = t.byteCount = start + CS_TRANS_RESPONSE_WORDS;
    setU16(t.byteCount, 0);
    const uint32_t status = handler(&t);
    if (status == CS_STATUS_LATE)
        return status;
    uint8_t *end =
        answerEnd(t.parametersOut, t.parameterCountOut, t.dataOut, t.dataCountOut, t.byteCount + 2, limit);
    if (!end || t.setupCountOut > 0xFF)
        return kTooSmall();
    uint8_t *data = t.dataOut ? t.dataOut : end;
    uint8_t *parameters = t.parametersOut ? t.parametersOut : data;

    Reply r(response, start);
    r.u8(uint8_t(10 + t.setupCountOut));
    r.u16(uint16_t(t.parameterCountOut));
    r.u16(uint16_t(t.dataCountOut));
    r.u16(0);
    r.u16(uint16_t(t.parameterCountOut));
    r.u16(uint16_t(parameters - response));
    r.u16(0);
    r.u16(uint16_t(t.dataCountOut));
    r.u16(uint16_t(data - response));
    r.u16(0);
    r.u8(uint8_t(t.setupCountOut));
    r.u8(0);
    if (r.overrun())
        return kTooSmall();
    *position = end;
    return status;
}

uint32_t csComTransaction2(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() != kTransWords + 1)
        return kGeneral();
    CSTransaction t{};
    if (uint32_t status = readTransaction(block, t))
        return status;
    const uint16_t subcommand = u16(t.setup);
    Trans2Handler handler = subcommand < kTrans2Subcommands ? trans2Commands()[subcommand] : nullptr;
    if (!handler)
        return kNotSupported();

    // Ten words, ByteCount and a pad byte before the parameters.
    uint8_t *start = *position;
    uint8_t *limit = responseLimit(response);
    if (roomFrom(response, start) < 24)
        return kTooSmall();
    CSTrans2Request r2{};
    r2.header = t.header;
    r2.parameters = t.parameters;
    r2.parameterCount = t.parameterCount;
    r2.data = t.data;
    r2.dataCount = t.dataCount;
    r2.maxDataCount = t.maxDataCount;
    r2.outParameters = start + 24;
    r2.room = roomFrom(response, r2.outParameters);
    const uint32_t status = handler(&r2);
    if (!answered(status))
        return status;
    uint8_t *end =
        answerEnd(r2.outParameters, r2.outParameterCount, r2.outData, r2.outDataCount, start + 24, limit);
    if (!end)
        return kTooSmall();
    uint8_t *data = r2.outData ? r2.outData : r2.outParameters + r2.outParameterCount;

    Reply r(response, start);
    r.u8(10);
    r.u16(uint16_t(r2.outParameterCount));
    r.u16(uint16_t(r2.outDataCount));
    r.u16(0);
    r.u16(uint16_t(r2.outParameterCount));
    r.u16(uint16_t(r2.outParameters - response));
    r.u16(0);
    r.u16(uint16_t(r2.outDataCount));
    r.u16(uint16_t(data - response));
    r.u16(0);
    r.u8(0);
    r.u8(0);
    r.u16(uint16_t(end - (start + 23)));
    r.u8(0);
    if (r.overrun())
        return kTooSmall();
    *position = end;
    return status;
}

uint32_t csComNtTransaction(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() < kNtTransWords || block.words() != kNtTransWords + block.byte(35))
        return kInvalid();
    const uint16_t function = block.word(36);
    TransactionHandler handler = function < kNtTransactFunctions ? ntTransactCommands()[function] : nullptr;
    if (!handler)
        return kNotSupported();
    CSTransaction t{};
    Parts p;
    if (!takeBlocks(p, block.dword(23), block.dword(19), block.dword(31), block.dword(27)))
        return kInvalid();
    t.words = params;
    t.header = requestHeader();
    t.response = response;
    t.parameters = p.parameters;
    t.parameterCount = p.parameterCount;
    t.maxParameterCount = block.dword(11);
    t.data = p.data;
    t.dataCount = p.dataCount;
    t.maxDataCount = block.dword(15);
    t.maxSetupCount = block.byte(0);
    t.setup = params + 1 + 2 * kNtTransWords;
    t.setupCount = block.byte(35);

    // Eighteen words and ByteCount, then the parameters at an even offset.
    uint8_t *start = *position;
    uint8_t *limit = responseLimit(response);
    uint32_t at = uint32_t(start - response) + 39;
    at += at & 1;
    if (response + at >= limit)
        return kTooSmall();
    t.parametersOut = response + at;
    const uint32_t status = handler(&t);
    if (!answered(status))
        return status;
    uint8_t *end =
        answerEnd(t.parametersOut, t.parameterCountOut, t.dataOut, t.dataCountOut, response + at, limit);
    if (!end)
        return kTooSmall();
    uint8_t *parameters = t.parametersOut ? t.parametersOut : response + at;
    uint8_t *data = t.dataOut ? t.dataOut : parameters + t.parameterCountOut;

    Reply r(response, start);
    r.u8(18);
    r.zeros(3);
    r.u32(t.parameterCountOut);
    r.u32(t.dataCountOut);
    r.u32(t.parameterCountOut);
    r.u32(uint32_t(parameters - response));
    r.u32(0);
    r.u32(t.dataCountOut);
    r.u32(uint32_t(data - response));
    r.u32(0);
    r.u8(0);
    r.u16(uint16_t(end - (start + 39)));
    if (r.overrun())
        return kTooSmall();
    if (r.at() < response + at)
        std::memset(r.at(), 0, size_t(response + at - r.at()));
    *position = end;
    return status;
}

// The TRANSACTION words of a pipe's late answer.
int csTransactionPrepareLateResponse(CSLateResponseContext *context)
{
    if (!context)
        return 0;
    csDispatchPrepareLateResponse(context);
    if (context->response && context->remaining >= CS_TRANS_RESPONSE_WORDS) {
        context->response += CS_TRANS_RESPONSE_WORDS;
        context->remaining -= CS_TRANS_RESPONSE_WORDS;
    } else {
        context->response = nullptr;
        context->remaining = 0;
    }
    return 0;
}

int csTransactionSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    if (!context || !context->response || length < 3)
        return 0;
    context->response -= CS_TRANS_RESPONSE_WORDS;
    context->remaining += CS_TRANS_RESPONSE_WORDS;
    uint8_t *w = context->response;
    w[0] = 10;
    setU16(w + 1, 0);                     // TotalParameterCount
    setU16(w + 3, uint16_t(length - 3));  // TotalDataCount
    setU16(w + 5, 0);
    setU16(w + 7, 0);   // ParameterCount
    setU16(w + 9, 56);  // ParameterOffset
    setU16(w + 11, 0);
    setU16(w + 13, uint16_t(length - 3));  // DataCount
    setU16(w + 15, 56);                    // DataOffset
    setU16(w + 17, 0);
    w[19] = 0;  // SetupCount
    w[20] = 0;
    return csDispatchSendLateResponse(context, status, length + CS_TRANS_RESPONSE_WORDS);
}

}  // extern "C"
