// Serving one SMB2/SMB3 message: the transform, the compound chain through
// the command table, credits and the MessageId window, the checks of each
// element (size, session, tree, signature, encryption), the 3.1.1 preauth
// hash, signing and sealing of the answer.
#include "smb2_context.h"

#include "cmcryptsmb3.h"
#include "cmsign.h"
#include "csdispatch.h"
#include "csshares.h"
#include "cssign.h"
#include "dispatch_frame.h"
#include "sysockets.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace cs2 {

Context &context()
{
    static Context c;
    return c;
}

}  // namespace cs2

namespace {

using cs2::context;

constexpr uint32_t kHeader = CM_SMB2_HEADER_SIZE;
constexpr uint32_t kTransform = CM_SMB2_TRANSFORM_HEADER_SIZE;
constexpr uint32_t kFirstRead = kHeader + 2;  // the header and StructureSize
constexpr uint32_t kSigned = CM_SMB2_FLAGS_SIGNED;
constexpr uint32_t kRelated = 0x04;

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kSessionDeleted = 0xC0000203u;
constexpr uint32_t kNameDeleted = 0xC00000C9u;
constexpr uint32_t kAccessDenied = 0xC0000022u;
constexpr uint32_t kNotImplemented = 0xC0000002u;
constexpr uint32_t kMoreProcessing = 0xC0000016u;

const std::array<CS2CommandRow, CS2_COMMANDS> kCommands = {{
    {csSmb2OnNegotiate, 36, 0x07},   {csSmb2OnSessionSetup, 25, 0x06},
    {csSmb2OnLogoff, 4, 0x04},       {csSmb2OnTreeConnect, 9, 0x04},
    {csSmb2OnTreeDisconnect, 4, 0},  {csSmb2OnCreate, 57, 0},
    {csSmb2OnClose, 24, 0},          {csSmb2OnFlush, 24, 0},
    {csSmb2OnRead, 49, 0x10},        {csSmb2OnWrite, 49, 0x08},
    {csSmb2OnLock, 48, 0},           {csSmb2OnIoctl, 57, 0},
    {csSmb2OnCancel, 4, 0},          {csSmb2OnEcho, 4, 0x06},
    {csSmb2OnQueryDirectory, 33, 0}, {csSmb2OnChangeNotify, 32, 0},
    {csSmb2OnQueryInfo, 41, 0},      {csSmb2OnSetInfo, 33, 0},
    {csSmb2OnOplockBreak, 24, 0},
}};

uint16_t u16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t *p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

void releaseMessageBuffer(uint8_t *buffer) { nsPutBuffer(buffer); }

// The response buffer, back to the pool on every path that does not send it.
struct ResponseBuffer {
    uint8_t *data = nsGetBuffer();
    ~ResponseBuffer()
    {
        if (data)
            nsPutBuffer(data);
    }
    uint8_t *release()
    {
        uint8_t *d = data;
        data = nullptr;
        return d;
    }
};

// A direct-transfer-out packet is ended on every path.
struct DtPacket {
    int fd;
    ~DtPacket()
    {
        if (csDispatchIsDtOut())
            syDtEndPacket(fd);
    }
};

// What is left of the message, read and thrown away by its deadline.
bool discardRest(NSRecvContext *reader)
{
    uint8_t scratch[4096];
    while (reader->remaining > 0)
        if (!cs::readMessage(reader, scratch, std::min<uint32_t>(reader->remaining, sizeof scratch)))
            return false;
    return true;
}

// The MessageId window: each id (CreditCharge of them for a large request)
// once, and only those granted.
bool takeMessageIds(CSSession *s, uint64_t mid, uint16_t charge)
{
    const uint64_t n = charge ? charge : 1;
    if (mid < s->midLow || mid + n > s->midEnd || mid + n < mid || mid + n - s->midLow > CS2_MID_WINDOW)
        return false;
    for (uint64_t id = mid; id < mid + n; ++id) {
        const uint64_t bit = id - s->midLow;
        if (s->midUsed[bit / 64] & (uint64_t(1) << (bit % 64)))
            return false;
    }
    for (uint64_t id = mid; id < mid + n; ++id) {
        const uint64_t bit = id - s->midLow;
        s->midUsed[bit / 64] |= uint64_t(1) << (bit % 64);
    }
    // Slide past the ids used from the low end.
    while (s->midLow < s->midEnd && (s->midUsed[0] & 1)) {
        for (int i = 0; i < 4; ++i)
            s->midUsed[i] = (s->midUsed[i] >> 1) | (i < 3 ? s->midUsed[i + 1] << 63 : 0);
        ++s->midLow;
    }
    return true;
}

// Credits the client holds: granted ids not yet used.
uint64_t creditsHeld(const CSSession *s)
{
    uint64_t used = 0;
    for (uint64_t w : s->midUsed)
        used += uint64_t(__builtin_popcountll(w));
    return s->midEnd - s->midLow - used;
}

uint16_t grantCredits(CSSession *s, uint16_t command, uint16_t requested)
{
    if (command == CS2_COMMAND_CANCEL)
        return 0;
    uint32_t grant = command == CS2_COMMAND_NEGOTIATE ? 1 : std::min<uint32_t>(requested, s->creditPool);
    grant = std::min<uint32_t>(grant, CM_SMB2_MAX_CREDITS);
    // A client left without credits could never send again.
    if (grant == 0 && creditsHeld(s) == 0)
        grant = 1;
    const uint64_t room = CS2_MID_WINDOW - (s->midEnd - s->midLow);
    grant = uint32_t(std::min<uint64_t>(grant, room));
    s->creditPool = s->creditPool + 1 >= grant ? s->creditPool + 1 - grant : 0;
    s->creditsGranted = grant;
    s->midEnd += grant;
    return uint16_t(grant);
}

// A sealed message speaks for the session that sealed it only: every
// element names that session.
bool namesTransformSession(const uint8_t *message, uint32_t length, const CMUint64 &sid)
{
    uint32_t at = 0;
    for (uint32_t hop = 0; hop < length / kHeader + 1; ++hop) {
        if (uint64_t(at) + kHeader > length)
            return true;
        const uint8_t *h = message + at;
        const bool related = hop > 0 && (u32(h + 16) & kRelated);
        if (!related && (u32(h + 40) != sid.low || u32(h + 44) != sid.high))
            return false;
        const uint32_t next = u32(h + 20);
        if (next == 0 || next < kHeader || uint64_t(at) + next >= length)
            return true;
        at += next;
    }
    return true;
}

bool nextIsSound(uint32_t next, uint32_t at, uint32_t length)
{
    return next == 0 || (next % 8 == 0 && next >= kHeader && uint64_t(at) + next + kHeader <= length);
}

// The room each later element of a chain keeps for its answer: a header and
// the error body, aligned to 8.
constexpr uint32_t kLeastAnswer = (kHeader + 9 + 7) & ~7u;

// How many elements follow the one at `at` before the chain ends.
uint32_t laterElements(const uint8_t *message, uint32_t at, uint32_t length)
{
    uint32_t count = 0;
    while (uint64_t(at) + kHeader <= length) {
        const uint32_t next = u32(message + at + 20);
        if (next == 0 || !nextIsSound(next, at, length))
            break;
        at += next;
        ++count;
    }
    return count;
}

// Signs an answer as the session's dialect wants; a sealed one is not signed
// at 3.x.
void signAnswer(const CSSession &session, bool sealed, uint32_t sid, uint8_t *answer, uint32_t length)
{
    if (session.dialect >= CS_DIALECT_SMB30) {
        if (!sealed)
            csCreateMessageSignatureSMB3(sid, answer, length);
    } else {
        csCreateMessageSignatureSMB2(sid, answer, length);
    }
}

// Turns the single plain answer at `answer` into one carrying status and the
// error body; its new length.
uint32_t answerWithError(const CSSession &session, uint8_t *answer, uint32_t status)
{
    CMBufferWriter w;
    cmBufferWriterInit(&w, answer + 8, 4);
    cmBufferWriteUint32(&w, status);
    cmBufferWriterInit(&w, answer + kHeader, 16);
    cs2WriteErrorBody(&w);
    const uint32_t length = kHeader + cmBufferWriterGetPosition(&w) - (answer + kHeader);
    signAnswer(session, false, u32(answer + 40), answer, length);
    return length;
}

// The user that a message names, for its signature: also on rows that need
// no session (a signed re-authentication).
CSUser *namedUser(const CMSmb2Header &h)
{
    if (h.sid.low == 0 && h.sid.high == 0)
        return nullptr;
    return csGetUserByUid(uint16_t((h.sid.low - CS_SMB2_SESSION_BASE) & 0xFFFF));
}

// One element of a request as the checks see it.
struct Element {
    const CMSmb2Header &header;
    uint8_t *bytes;
    uint32_t length;
    CSUser *signer;  // the user its SessionId names, for the signature
    CSUser *user = nullptr;
    CSTree *tree = nullptr;
};

// The checks before a handler runs: StructureSize, session, tree,
// signature, encryption. 0 or the status to answer; endChain when the
// elements behind this one get no answer.
uint32_t checkElement(Element &e, const CS2CommandRow &row, uint16_t structureSize, CSSession *session,
                      bool encrypted, bool &endChain)
{
    const CMSmb2Header &h = e.header;
    if (structureSize != row.structureSize)
        return kInvalidParameter;
    if (!(row.flags & CS2_ROW_NO_SESSION)) {
        // Only a finished logon speaks for a user.
        if (!e.signer || !e.signer->authenticated)
            return kSessionDeleted;
        e.user = e.signer;
        csRenewUserTimeStamp(e.user);
        if (!cs::setIdentity(e.user)) {
            endChain = true;
            return kAccessDenied;
        }
    }
    // CANCEL names a request, whose tree was checked when it came: it needs
    // none of its own (and is never answered).
    const bool cancel = h.command == CS2_COMMAND_CANCEL;
    if (!(row.flags & CS2_ROW_NO_TREE) && !cancel) {
        e.tree = csGetTreeByTid(uint16_t(h.tid & 0xFFFF));
        if (!e.tree || !e.user || e.tree->uid != e.user->uid)
            return kNameDeleted;
    }
    if (encrypted)
        return 0;
    const int good = session->dialect < CS_DIALECT_SMB30
                         ? csCheckMessageSignatureSMB2(e.signer, e.bytes, e.length, h.flags)
                         : csCheckMessageSignatureSMB3(e.signer, e.bytes, e.length, h.flags);
    const CSShare *share = e.tree ? static_cast<const CSShare *>(e.tree->share) : nullptr;
    if (!good || (e.user && csIsServerEncrypted()) || (share && share->encryptionRequired)) {
        endChain = true;
        return kAccessDenied;
    }
    return 0;
}

}  // namespace

extern "C" {

const CS2CommandRow *cs2GetCommand(uint16_t code) { return code < CS2_COMMANDS ? &kCommands[code] : nullptr; }

int cs2DispatchInit(void)
{
    context() = cs2::Context{};
    context().savedFid = 0xFFFF;
    return 0;
}

void cs2DispatchExit(void) { context() = cs2::Context{}; }

const CMSmb2Header *cs2DispatchGetCurrentHeader(void) { return context().current; }

const uint8_t *cs2DispatchCurrentHeader(void)
{
    return context().current ? context().current->_start : nullptr;
}

void cs2ParseFid(uint16_t *fid)
{
    if (*fid == 0xFFFF)
        *fid = context().savedFid;
    else
        context().savedFid = *fid;
}

void cs2WriteErrorBody(CMBufferWriter *writer)
{
    cmBufferWriteUint16(writer, 9);
    cmBufferWriteByte(writer, 0);
    cmBufferWriteByte(writer, 0);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteByte(writer, 0);
}

int csSmb2DispatchRequest(NSRecvContext *reader, uint8_t *buffer, uint32_t length)
{
    cs2::Context &ctx = context();
    ctx.encrypted = 0;
    ctx.savedFid = 0xFFFF;
    // The current header lives on this stack: nobody sees it afterwards.
    struct CurrentHeader {
        cs2::Context &ctx;
        ~CurrentHeader() { ctx.current = nullptr; }
    } current{ctx};
    NSSocket *socket = reader->socket;
    const int fd = nsGetSySocket(socket);

    CSSession *session = csGetSessionBySocket();
    if (!session) {
        session = csGetNewSession();
        if (!session)
            return 0;
        // The NEGOTIATE that opens a connection is MessageId 0.
        session->midLow = 0;
        session->midEnd = 1;
    }
    csDispatchSetNtError(1);

    ResponseBuffer out;
    if (!out.data)
        return 0;
    uint8_t *message = buffer;
    uint32_t messageLength = length + 4;
    uint8_t *responseStart = nsSkipHeader(socket, out.data);
    uint32_t received = 0;
    CSUser sealer{};

    if (std::memcmp(buffer, cmSmb2TrnsfrmHdrProtocolId, 4) == 0) {
        int opened = cs2TransformHeaderDecrypt(reader, buffer, length);
        if (opened != 1) {
            // The rest of a refused message is read past, so the next one
            // starts where the client put it.
            return opened == 0 && discardRest(reader) ? -1 : 0;
        }
        message = buffer + kTransform;
        messageLength = length + 4 - kTransform;
        received = messageLength;
        if (!namesTransformSession(message, messageLength, ctx.transformSid))
            return -1;
        ctx.encrypted = 1;
        // The answer is sealed for the session that sealed the request, also
        // when the request (a LOGOFF) ends that session.
        if (CSUser *u = csGetUserByUid(uint16_t((ctx.transformSid.low - CS_SMB2_SESSION_BASE) & 0xFFFF)))
            sealer = *u;
        std::memset(out.data, 0, CS2_BUFFER_SIZE);
        responseStart += kTransform;
    } else {
        if (length < kFirstRead - 4 || !cs::readMessage(reader, buffer + 4, kFirstRead - 4))
            return 0;
        received = kFirstRead;
    }
    uint8_t *const responseEnd = out.data + CS2_BUFFER_SIZE;

    // The first element decides how the rest of the message is read.
    const uint16_t firstCommand = u16(message + 12);
    const CS2CommandRow *firstRow = cs2GetCommand(firstCommand);
    if (!firstRow)
        return 0;
    DtPacket dtPacket{fd};
    if (!ctx.encrypted) {
        const bool plain = !(u32(message + 16) & kSigned) && u32(message + 20) == 0;
        const uint32_t fixedRest = firstRow->structureSize > 3 ? firstRow->structureSize - 3u : 0;
        if (plain && (firstRow->flags & CS2_ROW_DT_IN) && uint64_t(received) + fixedRest <= messageLength) {
            if (!cs::readMessage(reader, buffer + received, fixedRest))
                return 0;
            received += fixedRest;
            csDispatchSetDtIn(1);
            csDispatchDtSaveParameters(buffer + received, reader);
        } else {
            // A message must fit its buffer unless its payload goes straight to a file.
            if (messageLength > CS2_BUFFER_SIZE ||
                !cs::readMessage(reader, buffer + received, messageLength - received))
                return 0;
            received = messageLength;
        }
        if (plain && (firstRow->flags & CS2_ROW_DT_OUT)) {
            syDtStartPacket(fd);
            csDispatchSetDtOut(1);
        }
    }

    uint32_t at = 0;          // this element in the request
    uint32_t outAt = 0;       // its answer in the response
    uint32_t lastAnswer = 0;  // where the last answer starts
    uint32_t lastLength = 0;
    uint16_t lastCommand = 0;
    CMSmb2Header previous{};
    bool havePrevious = false;
    uint32_t later = laterElements(message, 0, received);
    for (;;) {
        if (uint64_t(at) + kFirstRead > received)
            return 0;
        CMBufferReader headerReader;
        cmBufferReaderInit(&headerReader, message + at, received - at);
        CMSmb2Header request;
        cmSmb2HeaderRead(&request, &headerReader);
        uint16_t structureSize = 0;
        cmBufferReadUint16(&headerReader, &structureSize);
        ctx.current = &request;
        const CS2CommandRow *row = cs2GetCommand(request.command);
        if (!row)
            return 0;
        const bool soundNext = nextIsSound(request.next, at, received);
        const uint32_t elementLength = request.next && soundNext ? request.next : received - at;
        // Related elements act on the session and tree of the one before.
        if (havePrevious && (request.flags & kRelated)) {
            request.sid = previous.sid;
            request.tid = previous.tid;
        }

        const bool cancel = request.command == CS2_COMMAND_CANCEL;
        if (!cancel && !takeMessageIds(session, (uint64_t(request.mid.high) << 32) | request.mid.low,
                                       session->dialect >= CS_DIALECT_SMB21 ? request.creditCharge : 1))
            return 0;

        CMSmb2Header response = request;
        std::memset(response.signature, 0, sizeof response.signature);
        response.next = 0;
        response.status = 0;
        CMBufferWriter headerWriter;
        cmBufferWriterInit(&headerWriter, responseStart + outAt,
                           uint32_t(responseEnd - (responseStart + outAt)));
        cmSmb2HeaderSetForResponse(&response, &headerWriter,
                                   grantCredits(session, request.command, request.credits));
        CMBufferWriter body;
        if (uint64_t(outAt) + kHeader + 16 > uint64_t(responseEnd - responseStart))
            return 0;
        // The elements behind keep room for an answer each, so that a READ or
        // a listing that would fill the buffer is cut short rather than leave
        // them none; a chain too long for even that ends the connection below.
        const uint32_t bodyRoom = uint32_t(responseEnd - (responseStart + outAt + kHeader));
        const uint64_t reserve = uint64_t(later) * kLeastAnswer;
        // (A body cut for later elements ends aligned, as the next answer starts.)
        const uint32_t limit = later && reserve + 16 <= bodyRoom ? uint32_t(bodyRoom - reserve) & ~7u : bodyRoom;
        cmBufferWriterInit(&body, responseStart + outAt + kHeader, limit);
        if (later)
            --later;
        CMBufferReader requestReader;
        cmBufferReaderInit(&requestReader, message + at, elementLength);
        cmBufferReaderSetOffset(&requestReader, kFirstRead);

        Element e{request, message + at, elementLength, namedUser(request)};
        bool endChain = !soundNext;
        uint32_t status = soundNext ? checkElement(e, *row, structureSize, session, ctx.encrypted, endChain)
                                    : kInvalidParameter;
        bool handled = false;
        if (status == 0) {
            if (!row->handler) {
                status = kNotImplemented;
            } else {
                status = row->handler(&request, &response, &requestReader, session, e.user, e.tree, &body);
                handled = true;
            }
        }
        if (handled) {
            if (status == CS2_STATUS_DISCONNECT)
                return 0;
            if (status == CS2_STATUS_LATE) {
                if (csDispatchIsDtIn() && !csDispatchDtFromSocket(reader, csDispatchDtGetCount()))
                    return 0;
                return discardRest(reader) ? 1 : 0;
            }
        }
        bool keepBody =
            handled && (status == 0 || status == kMoreProcessing || status == CS2_STATUS_BODY_SET);
        if (keepBody && cmBufferWriterIsOverrun(&body)) {
            keepBody = false;
            status = 0xC0000023u;  // a body past the buffer: buffer too small
        }
        if (keepBody) {
            if (status != CS2_STATUS_BODY_SET)
                response.status = status;
        } else {
            response.status = status;
            cmBufferWriterInit(&body, responseStart + outAt + kHeader,
                               uint32_t(responseEnd - (responseStart + outAt + kHeader)));
            cs2WriteErrorBody(&body);
        }

        const bool more = request.next != 0 && !endChain;
        if (more) {
            cmSmb2HeaderAlignWriter(&response, &body, 8);
            response.next = cmSmb2HeaderGetWriterOffset(&response, &body);
        }
        const uint32_t answerLength = cmSmb2HeaderGetWriterOffset(&response, &body);
        cmSmb2HeaderWrite(&response, &headerWriter);
        if (cmBufferWriterIsOverrun(&headerWriter) || cmBufferWriterIsOverrun(&body))
            return 0;

        uint8_t *answer = responseStart + outAt;
        if (response.command == CS2_COMMAND_SESSION_SETUP && response.status == 0 &&
            session->dialect == CS_DIALECT_SMB311) {
            response.flags |= CM_SMB2_FLAGS_SIGNED;
            answer[16] = uint8_t(response.flags);
        }
        signAnswer(*session, ctx.encrypted != 0, response.sid.low, answer, answerLength);
        lastAnswer = outAt;
        lastLength = answerLength;
        lastCommand = response.command;
        outAt += answerLength;
        previous = request;
        havePrevious = true;
        if (!more)
            break;
        at += request.next;
    }

    if (csDispatchIsDtIn()) {
        uint32_t failed = 0;
        if (!cs::dtFromSocket(reader, csDispatchDtGetCount(), &failed))
            return 0;
        // The file refused the data: the WRITE (alone in its message) answers
        // why, and the rest of its data is read past below.
        if (failed) {
            outAt = lastLength = answerWithError(*session, responseStart, failed);
            lastAnswer = 0;
        }
    }
    if (!discardRest(reader))
        return 0;

    // The 3.1.1 preauth hash takes the answers of the exchange it covers.
    uint8_t *last = responseStart + lastAnswer;
    if (session->dialect == CS_DIALECT_SMB311) {
        if (lastCommand == CS2_COMMAND_NEGOTIATE && session->negotiateHashPending) {
            cmSmb311CalcMessagesHash(last, lastLength, session->preauthHash, nullptr);
            session->negotiateHashPending = 0;
        } else if (lastCommand == CS2_COMMAND_SESSION_SETUP) {
            CSUser *u = csGetUserByUid(uint16_t((u32(last + 40) - CS_SMB2_SESSION_BASE) & 0xFFFF));
            if (u32(last + 40) != 0 && u && u->preauthInProgress)
                cmSmb311CalcMessagesHash(last, lastLength, u->preauthHash, nullptr);
        }
    }

    uint32_t messageOut = outAt;
    if (ctx.encrypted) {
        responseStart -= kTransform;
        CSUser *live = csGetUserByUid(sealer.uid);
        if (cs2TransformHeaderEncrypt(live ? live : &sealer, responseStart, messageOut) != 1)
            return 0;
        messageOut += kTransform;
    }
    uint32_t total = messageOut;
    const bool sendFile = csDispatchIsDtOut() && csDispatchDtAvailable();
    if (sendFile)
        total += csDispatchDtGetCount();
    uint32_t packet = nsPrepareNBBuffer(out.data, total, messageOut);
    if (packet == 0)
        return 0;
    uint8_t *frame = out.release();
    if (nsSendFromBuffer(socket, frame, packet, packet, releaseMessageBuffer) != int(packet))
        return 0;
    if (sendFile && !csDispatchDtToSocket(reader))
        return 0;
    return 1;
}

}  // extern "C"
