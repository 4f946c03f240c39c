// SMB1 TRANSACTION, TRANSACTION2 and NT_TRANSACT: each request's blocks
// found inside the message, routed by name or code to its handler, and the
// answer's words packed from what the handler wrote. One message each way.
#include "smb1_answer.h"

#include "cscommands.h"
#include "cstransaction.h"

#include <array>
#include <cstring>
#include <string_view>

using namespace cs::smb1;

namespace {

constexpr uint32_t kTransWords = 14;    // TRANSACTION and TRANSACTION2 before the setup
constexpr uint32_t kNtTransWords = 19;  // NT_TRANSACT before the setup
constexpr uint32_t kTrans2Subcommands = 17;
constexpr uint32_t kNtTransactFunctions = 7;

uint8_t *responseLimit(uint8_t *response) { return response + (CS_RESPONSE_LIMIT - 1); }

uint32_t roomFrom(uint8_t *response, uint8_t *at)
{
    uint8_t *limit = responseLimit(response);
    return at < limit ? uint32_t(limit - at) : 0;
}

// The parameter and data blocks: inside the message, or refused.
bool takeBlocks(CSTransactionContext &c, uint32_t parameterOffset, uint32_t parameterCount,
                uint32_t dataOffset, uint32_t dataCount)
{
    if ((parameterCount && !inMessage(parameterOffset, parameterCount)) ||
        (dataCount && !inMessage(dataOffset, dataCount)))
        return false;
    const uint8_t *header = requestHeader();
    c.request.header = header;
    c.request.parameters = parameterCount ? header + parameterOffset : nullptr;
    c.request.parameterCount = parameterCount;
    c.request.data = dataCount ? header + dataOffset : nullptr;
    c.request.dataCount = dataCount;
    return true;
}

// TRANSACTION and TRANSACTION2 share their request words.
uint32_t readTransaction(const Block &block, CSTransactionContext &c)
{
    if (block.words() < kTransWords)
        return kInvalid();
    const uint32_t setupCount = block.byte(26);
    if (block.words() != kTransWords + setupCount)
        return kInvalid();
    c.words = block.params;
    c.maxParameterCount = block.word(4);
    c.request.maxDataCount = block.word(6);
    c.maxSetupCount = block.byte(8);
    c.setup = block.params + 1 + 2 * kTransWords;
    c.setupCount = setupCount;
    if (!takeBlocks(c, block.word(20), block.word(18), block.word(24), block.word(22)))
        return kInvalid();
    return 0;
}

// The answer's blocks lie between from and the response's limit; returns
// their end, or null when they do not.
uint8_t *answerEnd(const CSTrans2Request &r, uint8_t *from, uint8_t *limit)
{
    auto inside = [&](const uint8_t *p, uint32_t n) {
        return p >= from && p <= limit && n <= uint32_t(limit - p);
    };
    if (!inside(r.outParameters, r.outParameterCount) || (r.outData && !inside(r.outData, r.outDataCount)))
        return nullptr;
    uint8_t *end = r.outParameters + r.outParameterCount;
    if (r.outData && r.outData + r.outDataCount > end)
        end = r.outData + r.outDataCount;
    return end;
}

// TRANSACTION's name: after the setup words and ByteCount, UTF-16 from an
// even offset or 8-bit, terminated inside the byte block.
bool readName(const Block &block, bool wide, char *name)
{
    const uint8_t *p = block.bytes();
    const uint8_t *end = block.bytesEnd();
    if (wide && (fromHeader(p) & 1))
        ++p;
    for (uint32_t n = 0; n < CS_TRANSACTION_NAME_SIZE; ++n) {
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

struct NamedRoute {
    std::string_view prefix;
    CSTransactionHandler handler;
};

CSTransactionHandler routeByName(std::string_view name)
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

const std::array<CSTransactionHandler, kNtTransactFunctions> &ntTransactCommands()
{
    static const std::array<CSTransactionHandler, kNtTransactFunctions> rows{
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
    CSTransactionContext c{};
    if (uint32_t status = readTransaction(block, c))
        return status;
    if (!readName(block, unicode(), c.name))
        return kInvalid();
    CSTransactionHandler handler = routeByName(c.name);
    if (!handler)
        return kNotSupported();

    // The handler writes from after the ten answer words.
    uint8_t *start = *position;
    uint8_t *limit = responseLimit(response);
    if (roomFrom(response, start) < 21 + 2)
        return kTooSmall();
    c.request.outParameters = start + 21;
    c.request.room = roomFrom(response, c.request.outParameters);
    const uint32_t status = handler(&c);
    if (status == CS_STATUS_LATE)
        return status;
    uint8_t *end = answerEnd(c.request, start + 21, limit);
    if (!end || c.outSetupCount > c.request.room / 2)
        return kTooSmall();

    Reply r(response, start);
    r.u8(uint8_t(10 + c.outSetupCount));
    r.u16(uint16_t(c.request.outParameterCount));
    r.u16(uint16_t(c.request.outDataCount));
    r.u16(0);
    r.u16(uint16_t(c.request.outParameterCount));
    r.u16(uint16_t(c.request.outParameters - response));
    r.u16(0);
    r.u16(uint16_t(c.request.outDataCount));
    r.u16(uint16_t((c.request.outData ? c.request.outData : end) - response));
    r.u16(0);
    r.u8(uint8_t(c.outSetupCount));
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
    CSTransactionContext c{};
    if (uint32_t status = readTransaction(block, c))
        return status;
    const uint16_t subcommand = u16(c.setup);
    Trans2Handler handler = subcommand < kTrans2Subcommands ? trans2Commands()[subcommand] : nullptr;
    if (!handler)
        return kNotSupported();

    // Ten words, ByteCount and a pad byte before the parameters.
    uint8_t *start = *position;
    uint8_t *limit = responseLimit(response);
    if (roomFrom(response, start) < 24)
        return kTooSmall();
    c.request.outParameters = start + 24;
    c.request.room = roomFrom(response, c.request.outParameters);
    const uint32_t status = handler(&c.request);
    if (!answered(status))
        return status;
    uint8_t *end = answerEnd(c.request, start + 24, limit);
    if (!end)
        return kTooSmall();
    uint8_t *data =
        c.request.outData ? c.request.outData : c.request.outParameters + c.request.outParameterCount;

    Reply r(response, start);
    r.u8(10);
    r.u16(uint16_t(c.request.outParameterCount));
    r.u16(uint16_t(c.request.outDataCount));
    r.u16(0);
    r.u16(uint16_t(c.request.outParameterCount));
    r.u16(uint16_t(c.request.outParameters - response));
    r.u16(0);
    r.u16(uint16_t(c.request.outDataCount));
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
    CSTransactionHandler handler = function < kNtTransactFunctions ? ntTransactCommands()[function] : nullptr;
    if (!handler)
        return kNotSupported();
    CSTransactionContext c{};
    c.words = params;
    c.maxSetupCount = block.byte(0);
    c.maxParameterCount = block.dword(11);
    c.request.maxDataCount = block.dword(15);
    c.setup = params + 1 + 2 * kNtTransWords;
    c.setupCount = block.byte(35);
    if (!takeBlocks(c, block.dword(23), block.dword(19), block.dword(31), block.dword(27)))
        return kInvalid();

    // Eighteen words and ByteCount, then the parameters at an even offset.
    uint8_t *start = *position;
    uint8_t *limit = responseLimit(response);
    uint32_t at = uint32_t(start - response) + 39;
    at += at & 1;
    if (response + at >= limit)
        return kTooSmall();
    c.request.outParameters = response + at;
    c.request.room = roomFrom(response, c.request.outParameters);
    const uint32_t status = handler(&c);
    if (!answered(status))
        return status;
    uint8_t *end = answerEnd(c.request, c.request.outParameters, limit);
    if (!end)
        return kTooSmall();
    uint8_t *data =
        c.request.outData ? c.request.outData : c.request.outParameters + c.request.outParameterCount;

    Reply r(response, start);
    r.u8(18);
    r.zeros(3);
    r.u32(c.request.outParameterCount);
    r.u32(c.request.outDataCount);
    r.u32(c.request.outParameterCount);
    r.u32(uint32_t(c.request.outParameters - response));
    r.u32(0);
    r.u32(c.request.outDataCount);
    r.u32(uint32_t(data - response));
    r.u32(0);
    r.u8(0);
    r.u16(uint16_t(end - (start + 39)));
    if (r.overrun())
        return kTooSmall();
    if (r.at() < c.request.outParameters)
        std::memset(r.at(), 0, size_t(c.request.outParameters - r.at()));
    *position = end;
    return status;
}

// The TRANSACTION words of a pipe's late answer.
void csTransactionPrepareLateResponse(CSLateResponseContext *context)
{
    csDispatchPrepareLateResponse(context);
    if (!context || !context->response || context->remaining < 21) {
        if (context)
            context->remaining = 0;
        return;
    }
    context->response += 21;
    context->remaining -= 21;
}

int csTransactionSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    if (!context || !context->response || length < 3)
        return 0;
    context->response -= 21;
    context->remaining += 21;
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
    return csDispatchSendLateResponse(context, status, length + 21);
}

}  // extern "C"
