// Oplocks: the break of a holder's batch oplock when another open comes,
// the opens that wait on it, the holder's acknowledgment and the late
// answers that let the waiters go; STATUS_PENDING interim answers with
// their AsyncIds and SMB2 CANCEL.
#include "oplocks.h"

#include "late_answers.h"

#include "cmsmbheader.h"
#include "cspaths.h"
#include "csservices.h"
#include "cssign.h"
#include "nssocket.h"
#include "smb2_context.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

namespace {

constexpr uint32_t kPending = 0x00000103u;
constexpr uint32_t kCancelled = 0xC0000120u;
constexpr uint32_t kFileClosed = 0xC0000128u;
constexpr uint32_t kInvalidDeviceState = 0xC0000184u;
constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint16_t kCommandOplockBreak = 18;
constexpr uint32_t kSmb1Header = 32;
// An SMB1 message handed over for sending: header, words and bytes.
constexpr uint32_t kSmb1MessageLimit = 200;

struct Waiter {
    bool smb2 = false;
    cs2::SavedRequest request;     // SMB2
    CSLateResponseContext smb1{};  // SMB1
    CS2CreateAnswer answer{};
    uint32_t savedStatus = 0;
    uint16_t holderNid = 0;
    uint64_t since = 0;
};

struct Holder {
    bool smb2 = false;
    CSSocketSlot socket = nullptr;
    uint16_t uid = 0, tid = 0;
    bool encrypted = false;
    uint64_t breakSentAt = 0;
};

// By the waiting or holding file's id. All of it runs on the server loop's thread.
std::map<uint16_t, Waiter> gWaiters;
std::map<uint16_t, Holder> gHolders;
uint32_t gAsyncCounter = 1;

uint64_t nowMs()
{
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
void setLe16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void setLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void createBody(CMBufferWriter *w, const void *answer)
{
    cs2WriteCreateBody(w, static_cast<const CS2CreateAnswer *>(answer));
}

// The NT_CREATE_ANDX answer of an SMB1 open that waited.
void answerSmb1Waiter(Waiter &w)
{
    CSLateResponseContext &c = w.smb1;
    csDispatchPrepareLateResponse(&c);
    if (!c.response)
        return;
    uint32_t length = 3;
    if (w.savedStatus == 0 && c.remaining >= 71) {
        CMBufferWriter out;
        cmBufferWriterInit(&out, c.response, c.remaining);
        cmBufferWriteByte(&out, 34);
        cmBufferWriteByte(&out, 0xFF);
        cmBufferWriteByte(&out, 0);
        cmBufferWriteUint16(&out, 0);
        cmBufferWriteByte(&out, 0);
        cmBufferWriteUint16(&out, w.answer.fid);
        cmBufferWriteUint32(&out, w.answer.action);
        uint8_t times[32];
        csWriteFileTimes(&w.answer.information, csGetNameByNid(w.answer.nid), times);
        cmBufferWriteBytes(&out, times, sizeof times);
        cmBufferWriteUint32(&out, w.answer.information.attributes);
        cmBufferWriteUint64(&out, &w.answer.information.allocationSize);
        cmBufferWriteUint64(&out, &w.answer.information.endOfFile);
        cmBufferWriteUint16(&out, 0);
        cmBufferWriteUint16(&out, 7);
        cmBufferWriteByte(&out, (w.answer.information.attributes & SY_ATTR_DIRECTORY) ? 1 : 0);
        cmBufferWriteUint16(&out, 0);
        length = cmBufferWriterGetDataCount(&out);
    } else {
        std::memset(c.response, 0, c.remaining < 3 ? c.remaining : 3);
    }
    csDispatchSendLateResponse(&c, w.savedStatus, length);
}

// Lets every open waiting on the name go. A waiter whose open had failed
// loses its provisional file.
void completeWaiters(uint16_t holderNid)
{
    std::vector<uint16_t> done;
    for (auto &[fid, w] : gWaiters)
        if (w.holderNid == holderNid)
            done.push_back(fid);
    for (uint16_t fid : done) {
        auto it = gWaiters.find(fid);
        if (it == gWaiters.end())
            continue;
        Waiter w = it->second;
        gWaiters.erase(it);
        if (w.smb2) {
            w.answer.oplockLevel = 0;
            if (w.savedStatus == 0)
                cs2::sendLate(w.request, 0, createBody, &w.answer);
            else
                cs2::sendLate(w.request, w.savedStatus, cs2::errorBody, nullptr);
        } else {
            answerSmb1Waiter(w);
        }
        if (w.savedStatus != 0) {
            cs2::OnSocket on(w.smb2 ? w.request.socket : w.smb1.socket);
            csReleaseFile(fid);
        }
    }
}

bool sendSmb1Break(const Holder &h, uint16_t fid)
{
    std::vector<uint8_t> frame(NS_SESSION_HEADER + kSmb1Header + 19, 0);
    uint8_t *m = frame.data() + NS_SESSION_HEADER;
    std::memcpy(m, cmSmbProtocolId, 4);
    m[4] = 0x24;
    setLe16(m + 24, h.tid);
    setLe16(m + 26, 0xFFFF);
    setLe16(m + 28, h.uid);
    setLe16(m + 30, 0xFFFF);
    uint8_t *words = m + kSmb1Header;
    words[0] = 8;
    words[1] = 0xFF;
    setLe16(words + 5, fid);
    words[7] = 0x02;
    const uint32_t length = kSmb1Header + 19;
    const uint32_t packet = nsPrepareNBBuffer(frame.data(), length, length);
    return packet && nsSendFromBuffer(static_cast<NSSocket *>(h.socket), frame.data(), packet, packet,
                                      nullptr) == int(packet);
}

bool sendBreak(const Holder &h, CSFile *holder)
{
    if (!h.smb2)
        return sendSmb1Break(h, holder->fid);
    return cs2SendOplockBreakNotification(holder) == 1;
}

// The waiter's share of a break check: which holders it waits on, whether
// the break went out.
int breakHolders(CSFile *file, const std::function<void(uint16_t)> &save)
{
    if (!file || file->pipe)
        return 0;
    CSName *name = csGetNameByNid(file->nid);
    if (!name)
        return 0;
    int result = 0;
    for (CSFile *f = name->first; f; f = f->next) {
        if (f == file || !f->oplockLevel)
            continue;
        auto holder = gHolders.find(f->fid);
        if (holder == gHolders.end())
            continue;
        if (f->oplockState) {
            save(name->nid);
            result = 1;
            continue;
        }
        f->oplockState = 1;
        holder->second.breakSentAt = nowMs();
        if (sendBreak(holder->second, f)) {
            save(name->nid);
            result = 1;
        } else {
            // A holder that cannot hear the break keeps nothing cached for long.
            result = -1;
        }
    }
    return result;
}

}  // namespace

extern "C" {

CMUint64 cs2GenerateNextAsyncId(CMUint64 *asyncId)
{
    if (++gAsyncCounter == 0)
        gAsyncCounter = 1;
    CMUint64 id{gAsyncCounter, 0};
    if (asyncId)
        *asyncId = id;
    return id;
}

uint32_t csSmb2SendInterimResponse(const CMSmb2Header *request)
{
    if (!request)
        return 0;
    CSUser *user = csGetUserByUid(uint16_t(request->sid.low - CS_SMB2_SESSION_BASE));
    CSSession *session = cs2::sessionOf(user);
    if (!user || !session || request->sid.low < CS_SMB2_SESSION_BASE)
        return 0;
    cs2::SavedRequest r = cs2::saveRequest(*request, user->uid);
    cs2GenerateNextAsyncId(&r.aid);
    std::vector<uint8_t> m =
        cs2::asyncMessage(r, kPending, session->signingActive != 0, cs2::errorBody, nullptr);
    if (m.empty())
        return 0;
    cs2::signMessage(session, m.data(), uint32_t(m.size()), r.encrypted);
    if (!cs2::sendMessage(csDispatchGetSocket(), m, r.encrypted ? user : nullptr))
        return 0;
    return r.aid.low;
}

int cs2SendOplockBreakNotification(CSFile *holder)
{
    auto it = holder ? gHolders.find(holder->fid) : gHolders.end();
    if (it == gHolders.end())
        return 0;
    const Holder &h = it->second;
    std::vector<uint8_t> m(CM_SMB2_HEADER_SIZE + 24);
    CMBufferWriter w;
    cmBufferWriterInit(&w, m.data(), uint32_t(m.size()));
    CMSmb2Header header;
    cmSmb2HeaderInitForResponse(&header, &w, 0);
    header.command = kCommandOplockBreak;
    header.flags = CM_SMB2_FLAG_RESPONSE;
    header.mid = CMUint64{0xFFFFFFFFu, 0xFFFFFFFFu};
    header.sid = CMUint64{uint32_t(h.uid) + CS_SMB2_SESSION_BASE, 0};
    header.tid = h.tid;
    cmSmb2HeaderWrite(&header, &w);
    cmBufferWriteUint16(&w, 24);
    cmBufferWriteByte(&w, 0);
    cmBufferWriteByte(&w, 0);
    cmBufferWriteUint32(&w, 0);
    cmBufferWriteUint16(&w, holder->fid);
    cmBufferWriteZeroes(&w, 14);
    cs2::OnSocket on(h.socket);
    return cs2::sendMessage(h.socket, m, h.encrypted ? csGetUserByUid(h.uid) : nullptr) ? 1 : 0;
}

void cs2SetOplockOwner(CSFile *file, CSUser *user, CSTree *tree, const CSShare *share, uint8_t level)
{
    file->oplockLevel = level;
    file->oplockState = 0;
    if (!level) {
        gHolders.erase(file->fid);
        return;
    }
    Holder h;
    h.smb2 = true;
    h.socket = csDispatchGetSocket();
    h.uid = user->uid;
    h.tid = uint16_t(tree->tid);
    h.encrypted = share && share->encryptionRequired;
    gHolders[file->fid] = h;
}

int cs2BreakCheck(CSCreateParameters *p, const CS2CreateAnswer *answer, uint32_t savedStatus)
{
    const CMSmb2Header *current = cs2DispatchGetCurrentHeader();
    return breakHolders(p->file, [&](uint16_t nid) {
        Waiter w;
        w.smb2 = true;
        if (current)
            w.request = cs2::saveRequest(*current, p->uid);
        w.answer = *answer;
        w.savedStatus = savedStatus;
        w.holderNid = nid;
        w.since = nowMs();
        gWaiters[p->file->fid] = w;
    });
}

int csBreakCheck(CSCreateParameters *p)
{
    if (!p || !p->file)
        return 0;
    // Pipes and print jobs have nothing to cache: no oplock for them.
    if (p->file->pipe || p->file->isPrintJob)
        return -1;
    // The SMB1 open may be granted an oplock once nothing waits: it is then
    // a holder whose breaks go to this connection.
    Holder self;
    self.socket = csDispatchGetSocket();
    self.uid = p->uid;
    self.tid = p->tid;
    gHolders[p->file->fid] = self;
    return breakHolders(p->file, [&](uint16_t nid) {
        Waiter w;
        csDispatchSaveResponseContext(&w.smb1);
        w.answer.fid = p->file->fid;
        w.answer.nid = p->file->nid;
        w.answer.action = p->action;
        w.answer.information = p->information;
        w.holderNid = nid;
        w.since = nowMs();
        gWaiters[p->file->fid] = w;
    });
}

uint32_t cs2DeferCreate(CMSmb2Header *request, CMSmb2Header *, CSFile *file)
{
    auto it = gWaiters.find(file->fid);
    const uint32_t aid = csSmb2SendInterimResponse(request);
    if (!aid || it == gWaiters.end()) {
        gWaiters.erase(file->fid);
        csReleaseFile(file->fid);
        return 0xFFFFFFFFu;
    }
    it->second.request.aid = CMUint64{aid, 0};
    file->asyncIdLow = aid;
    file->asyncIdHigh = 0;
    return CS2_STATUS_LATE;
}

int csBreakComplete(CSFile *holder, uint8_t *acknowledgment, uint32_t flags)
{
    if (!holder)
        return 1;
    if (acknowledgment) {
        // The holder's own SMB1 answer goes first, on its connection.
        uint8_t message[kSmb1MessageLimit];
        std::memcpy(message, acknowledgment, kSmb1Header + 1);
        uint32_t length = kSmb1Header + 1 + 2u * message[kSmb1Header] + 2;
        if (length <= kSmb1MessageLimit) {
            std::memcpy(message, acknowledgment, length);
            length += le16(message + length - 2);
        }
        if (length <= kSmb1MessageLimit) {
            std::memcpy(message, acknowledgment, length);
            if (csDispatchIsNtError())
                setLe16(message + 10, uint16_t(le16(message + 10) | 0x4000));
            (void)flags;
            CSSession *session = csGetSessionBySocket();
            csCreateMessageSignatureSMB(session, csGetUserByUid(le16(message + 28)), message, length);
            std::vector<uint8_t> frame(NS_SESSION_HEADER + length);
            std::memcpy(frame.data() + NS_SESSION_HEADER, message, length);
            const uint32_t packet = nsPrepareNBBuffer(frame.data(), length, length);
            if (packet)
                nsSendFromBuffer(static_cast<NSSocket *>(csDispatchGetSocket()), frame.data(), packet, packet,
                                 nullptr);
        }
    }
    gHolders.erase(holder->fid);
    holder->oplockState = 0;
    holder->oplockLevel = 0;
    completeWaiters(holder->nid);
    return 1;
}

void cs2HolderGone(CSFile *file) { csBreakComplete(file, nullptr, 0); }

void csOplockFileReleased(CSFile *file)
{
    if (!file)
        return;
    gWaiters.erase(file->fid);
    // Only a file that holds an oplock has waiters to let go.
    if (file->oplockLevel)
        csBreakComplete(file, nullptr, 0);
    else
        gHolders.erase(file->fid);
}

void csOplockExpire(uint64_t now)
{
    if (now == 0)
        now = nowMs();
    std::vector<std::pair<uint16_t, CSSocketSlot>> late;
    for (auto &[fid, h] : gHolders)
        if (h.breakSentAt && now >= h.breakSentAt + kCs2BreakTimeoutMs)
            late.emplace_back(fid, h.socket);
    for (auto &[fid, socket] : late) {
        cs2::OnSocket on(socket);
        if (CSFile *f = csGetFileByJustFid(fid))
            csBreakComplete(f, nullptr, 0);
    }
}

uint32_t csSmb2OnOplockBreak(CMSmb2Header *, CMSmb2Header *response, CMBufferReader *reader,
                             CSSession *session, CSUser *user, CSTree *tree, CMBufferWriter *writer)
{
    uint8_t level = 0;
    uint16_t fid = 0;
    cmBufferReadByte(reader, &level);
    cmBufferReaderSkip(reader, 5);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    if (cmBufferReaderIsOverrun(reader))
        return kInvalidParameter;
    cs2ParseFid(&fid);
    CSFile *file = (user && tree) ? csGetFileByFid(fid, uint16_t(tree->tid), user->uid) : nullptr;
    if (!file)
        return kFileClosed;
    if (!file->oplockLevel)
        return kInvalidDeviceState;
    // The acknowledgment is answered like any response (signed as the
    // session signs), before the waiters hear.
    cmBufferWriteUint16(writer, 24);
    cmBufferWriteByte(writer, level);
    cmBufferWriteZeroes(writer, 5);
    cmBufferWriteUint16(writer, fid);
    cmBufferWriteZeroes(writer, 14);
    (void)session;
    (void)response;
    csBreakComplete(file, nullptr, 0);
    return 0;
}

uint32_t csSmb2OnCancel(CMSmb2Header *request, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *user,
                        CSTree *, CMBufferWriter *)
{
    // CANCEL itself is never answered; an unknown request has nothing to end.
    if (!user)
        return CS2_STATUS_LATE;
    for (auto it = gWaiters.begin(); it != gWaiters.end(); ++it) {
        Waiter &w = it->second;
        if (!w.smb2 || !cs2::cancels(*request, user->uid, w.request))
            continue;
        const uint16_t fid = it->first;
        const cs2::SavedRequest r = w.request;
        gWaiters.erase(it);
        cs2::sendLate(r, kCancelled, cs2::errorBody, nullptr);
        // The open that waited is given up: its file goes, also a made one.
        csReleaseFile(fid);
        return CS2_STATUS_LATE;
    }
    return cs2CancelNotify(request, user);
}

}  // extern "C"
