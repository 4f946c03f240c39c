// Change notification: requests parked on a directory handle until a change
// at (or, watching the tree, under) the directory, a CANCEL, or the handle's
// end. Any change completes them; the client lists the directory again.
#include "cssmb2.h"

#include "cmstring.h"
#include "cscommands.h"
#include "csservices.h"
#include "cstrans.h"
#include "file_errors.h"
#include "dispatch_frame.h"
#include "late_answers.h"
#include "oplocks.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kNotSupported = 0xC00000BBu;
constexpr uint32_t kInvalidHandle = 0xC0000008u;
constexpr uint32_t kUnsuccessful = 0xC0000001u;
constexpr uint32_t kDeletePending = 0xC0000056u;
constexpr uint32_t kPending = 0x00000103u;
constexpr uint32_t kEnumDir = 0x0000010Cu;
constexpr uint32_t kCleanup = 0x0000010Bu;
constexpr uint32_t kCancelled = 0xC0000120u;
constexpr uint32_t kActionRemoved = 2;
constexpr uint32_t kActionModified = 3;
// A changed path is recorded up to this many characters.
constexpr size_t kPathLimit = 513;

struct Parked {
    cs2::SavedRequest request;
    uint32_t filter = 0;
    bool watchTree = false;
};

// SMB2 requests by the file they wait on; SMB1 ones keep their context in
// the file. All of it runs on the server loop's thread.
std::map<uint16_t, Parked> gParked;

using Path = std::vector<CMWchar>;

Path pathOf(const CMWchar *p)
{
    Path out;
    for (size_t i = 0; p && p[i] && i < kPathLimit; ++i)
        out.push_back(p[i]);
    return out;
}

// A change at the watched directory, or below it when the tree is watched.
bool covers(const CMWchar *watchedPath, bool watchTree, const Path &changed)
{
    Path watched = pathOf(watchedPath);
    while (watched.size() > 1 && watched.back() == '/')
        watched.pop_back();
    if (changed.size() < watched.size() || !std::equal(watched.begin(), watched.end(), changed.begin()))
        return false;
    if (changed.size() == watched.size())
        return true;
    return watchTree && changed[watched.size()] == '/';
}

// The NT_TRANSACT answer without parameters or data.
uint32_t writeSmb1Template(uint8_t *out, uint32_t room)
{
    if (room < 39)
        return 0;
    std::memset(out, 0, 39);
    out[0] = 18;
    return 39;
}

void answerSmb1(CSFile *file, uint32_t status)
{
    file->notify[2] = 0;
    CSLateResponseContext &c = file->notifyContext;
    cs2::OnSocket on(c.socket);
    csDispatchPrepareLateResponse(&c);
    if (!c.response)
        return;
    uint32_t length = status == 0 ? writeSmb1Template(c.response, c.remaining) : 0;
    if (length == 0) {
        if (c.remaining < 3)
            return;
        std::memset(c.response, 0, 3);
        length = 3;
    }
    csDispatchSendLateResponse(&c, status, length);
}

void answerSmb2(uint16_t fid, uint32_t status)
{
    auto it = gParked.find(fid);
    if (it == gParked.end())
        return;
    const cs2::SavedRequest r = it->second.request;
    gParked.erase(it);
    if (CSFile *file = csGetFileByJustFid(fid))
        file->notify[2] = 0;
    cs2::sendLate(r, status, cs2::errorBody, nullptr);
}

void complete(const Path &changed, uint32_t action)
{
    const bool removed = (action & 0xF) == kActionRemoved;
    std::vector<uint16_t> smb2;
    for (auto &[fid, p] : gParked) {
        CSFile *file = csGetFileByJustFid(fid);
        CSName *name = file ? csGetNameByNid(file->nid) : nullptr;
        if (name && covers(name->path, p.watchTree, changed))
            smb2.push_back(fid);
    }
    for (uint16_t fid : smb2)
        answerSmb2(fid, removed ? kDeletePending : kEnumDir);

    std::vector<CSFile *> smb1;
    csStartNotifyRequestSearch();
    while (CSFile *file = csEnumerateNotifyRequest()) {
        if (gParked.count(file->fid) || file->notifyContext.isSmb2)
            continue;
        CSName *name = csGetNameByNid(file->nid);
        if (name && covers(name->path, file->notify[1] != 0, changed))
            smb1.push_back(file);
    }
    for (CSFile *file : smb1)
        answerSmb1(file, removed ? kDeletePending : 0);
}

}  // namespace

extern "C" {

int cs2NotifyInit(void)
{
    gParked.clear();
    return 0;
}

void cs2NotifyExit(void) { gParked.clear(); }

void csNotifyImmediatelly(const CMWchar *path, uint32_t action, uint32_t)
{
    if (!path)
        return;
    const Path changed = pathOf(path);
    // The directory that holds the change saw its contents change.
    const auto slash = std::find(changed.rbegin(), changed.rend(), CMWchar('/'));
    const size_t cut = size_t(changed.rend() - slash);  // one past the '/', 0 when none
    if (cut > 1)
        complete(Path(changed.begin(), changed.begin() + (cut - 1)), kActionModified);
    complete(changed, action);
}

void csNotifyFileReleased(CSFile *file)
{
    if (!file || !file->notify[2])
        return;
    if (gParked.count(file->fid))
        answerSmb2(file->fid, kCleanup);
    else
        answerSmb1(file, kCleanup);
}

uint32_t csSmb2OnChangeNotify(CMSmb2Header *request, CMSmb2Header *response, CMBufferReader *reader,
                              CSSession *, CSUser *user, CSTree *tree, CMBufferWriter *)
{
    uint16_t flags = 0, fid = 0;
    uint32_t outputLength = 0, filter = 0;
    cmBufferReadUint16(reader, &flags);
    cmBufferReadUint32(reader, &outputLength);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    cmBufferReadUint32(reader, &filter);
    if (cmBufferReaderIsOverrun(reader))
        return kInvalidParameter;
    cs2ParseFid(&fid);
    if (!user || !user->ntStatusMode)
        return kNotSupported;
    CSFile *file = tree ? csGetFileByFid(fid, uint16_t(tree->tid), user->uid) : nullptr;
    if (!file)
        return kInvalidHandle;
    CSName *name = csGetNameByNid(file->nid);
    if (!name)
        return kUnsuccessful;
    if (name->deleteOnClose)
        return kDeletePending;
    // One request waits per handle: an earlier one gives way.
    if (gParked.count(fid))
        answerSmb2(fid, kCancelled);

    CMUint64 aid{};
    cs2GenerateNextAsyncId(&aid);
    response->flags |= CM_SMB2_FLAG_ASYNC;
    response->aid = aid;
    Parked p;
    p.request = cs2::saveRequest(*request, user->uid);
    p.request.aid = aid;
    p.filter = filter;
    p.watchTree = (flags & 0x0001) != 0;
    gParked[fid] = p;
    file->notify[0] = filter;
    file->notify[1] = p.watchTree ? 1 : 0;
    file->notify[2] = 1;
    file->notifyContext.isSmb2 = 1;
    file->asyncIdLow = aid.low;
    file->asyncIdHigh = aid.high;
    return kPending;
}

uint32_t csNtTransactionNotifyChange(CSTransaction *t)
{
    using cs::errDos;
    using cs::errSrv;
    // CompletionFilter, FID, WatchTree, a reserved byte.
    if (!t || !t->header || !t->setup || t->setupCount < 4)
        return csErrorReturn(kInvalidParameter, errDos(87));
    const uint8_t *h = t->header;
    const uint16_t tid = uint16_t(h[24] | h[25] << 8), uid = uint16_t(h[28] | h[29] << 8);
    const uint8_t *s = t->setup;
    const uint32_t filter = uint32_t(s[0] | s[1] << 8 | s[2] << 16 | uint32_t(s[3]) << 24);
    const uint16_t fid = uint16_t(s[4] | s[5] << 8);
    const bool watchTree = s[6] != 0;
    CSUser *user = csGetUserByUid(uid);
    if (!user || !user->ntStatusMode)
        return csErrorReturn(kNotSupported, 0xFFFF0002u);
    CSFile *file = csGetFileByFid(fid, tid, uid);
    if (!file)
        return csErrorReturn(kInvalidHandle, errDos(6));
    CSName *name = csGetNameByNid(file->nid);
    if (!name)
        return csErrorReturn(kUnsuccessful, errSrv(1));
    if (name->deleteOnClose)
        return csErrorReturn(kDeletePending, errDos(6));
    // One request waits per handle: an earlier one gives way.
    if (file->notify[2])
        csNotifyFileReleased(file);
    csDispatchSaveResponseContext(&file->notifyContext);
    file->notify[0] = filter;
    file->notify[1] = watchTree ? 1 : 0;
    file->notify[2] = 1;
    return CS_STATUS_LATE;
}

uint32_t cs2CancelNotify(const CMSmb2Header *request, CSUser *user)
{
    for (auto &[fid, p] : gParked)
        if (cs2::cancels(*request, user->uid, p.request)) {
            answerSmb2(fid, kCancelled);
            break;
        }
    return CS2_STATUS_LATE;
}

uint32_t csComNtCancel(const uint8_t *, uint8_t *, uint8_t **)
{
    const uint8_t *h = cs::gFrame.requestBuffer;
    if (!h)
        return CS_STATUS_LATE;
    auto u16 = [&](int at) { return uint16_t(h[at] | h[at + 1] << 8); };
    if (CSFile *file = csGetFileByContext(u16(26), u16(30), u16(24), u16(28)))
        if (!file->notifyContext.isSmb2)
            answerSmb1(file, kCancelled);
    return CS_STATUS_LATE;
}

}  // extern "C"
