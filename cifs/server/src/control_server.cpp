// The server side of the control channel: one datagram, one command of the
// table, one answer to the sender. Every argument is read and checked before
// a handler changes anything.
#include "control_wire.h"
#include "csauth.h"
#include "csdb.h"
#include "csfiles.h"
#include "csserver.h"
#include "csshares.h"
#include "cmipaddr.h"
#include "cmstring.h"
#include "sysockets.h"
#include "udhooks.h"

#include <cstring>
#include <vector>

namespace cs::ctrl {

namespace {

using Handler = int (*)(CMBufferReader *, CMBufferWriter *);

constexpr uint32_t kOk = 0;
// Argument buffers, in units with the terminator.
constexpr uint32_t kShareName = 130, kSharePath = 1002, kShareComment = 502, kUserText = 514, kUserName = 130;

const CMWchar kUnknown[] = {'u', 'n', 'k', 'n', 'o', 'w', 'n', 0};
const CMWchar kEmpty[] = {0};

int answer(CMBufferWriter *w, bool ok)
{
    cmBufferWriteUint32(w, ok ? kOk : CM_ERR_CTRL_FAILED);
    return 1;
}

bool readNumber(CMBufferReader *r, uint16_t *value)
{
    cmBufferReadUint16(r, value);
    return !cmBufferReaderIsOverrun(r);
}

// A UTF-16 argument buffer of n units.
struct Text {
    explicit Text(uint32_t n) : units(n, 0) {}
    bool read(CMBufferReader *r) { return readString(r, units.data(), uint32_t(units.size())); }
    CMWchar *get() { return units.data(); }
    std::vector<CMWchar> units;
};

int doStop(CMBufferReader *, CMBufferWriter *w)
{
    if (CSServerContext *c = csGetServerContext())
        c->restart = 0;
    csServerEndLoop();
    answer(w, true);
    return 0;
}

int doRestart(CMBufferReader *, CMBufferWriter *w)
{
    if (CSServerContext *c = csGetServerContext())
        c->restart = 1;
    csServerEndLoop();
    answer(w, true);
    return 0;
}

int doAddShare(CMBufferReader *r, CMBufferWriter *w)
{
    Text name(kShareName), path(kSharePath), status(kSharePath), comment(kShareComment);
    uint16_t level = 0;
    if (!name.read(r) || !path.read(r) || !status.read(r) || !readNumber(r, &level) || !comment.read(r))
        return answer(w, false);
    return answer(w, vxAddShareW(name.get(), path.get(), status.get(), int16_t(level), comment.get()) == 0);
}

int doRemoveShare(CMBufferReader *r, CMBufferWriter *w)
{
    Text name(kShareName);
    if (!name.read(r))
        return answer(w, false);
    return answer(w, vxRemoveShareW(name.get()) == 0);
}

int doEnumShares(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t index = 0;
    CSShare *s = readNumber(r, &index) ? csGetShareByIndex(index) : nullptr;
    if (!s)
        return answer(w, false);
    answer(w, true);
    const Item items[] = {{Item::Wide, s->name, nullptr, 0},
                          {Item::Wide, s->path, nullptr, 0},
                          {Item::Wide, s->statusPath, nullptr, 0},
                          {Item::Number, nullptr, nullptr, uint16_t(s->debugLevel)},
                          {Item::Wide, s->comment, nullptr, 0}};
    writeRecord(w, items, 5);
    return 1;
}

int doAddUser(CMBufferReader *r, CMBufferWriter *w)
{
    Text name(kUserText), fullName(kUserText), description(kUserText), credential(kUserText);
    uint16_t administrator = 0;
    if (!name.read(r) || !fullName.read(r) || !description.read(r) || !credential.read(r) ||
        !readNumber(r, &administrator))
        return answer(w, false);
    // Names are looked up without regard to case: a second "Bob" beside
    // "bob" would have the next steps rewrite the first one's line.
    int32_t rid = 0;
    if (udGetUserRidByName(name.get(), &rid))
        return answer(w, false);
    if (!udCreateUser(name.get(), fullName.get(), description.get()))
        return answer(w, false);
    if (!udGetUserRidByName(name.get(), &rid))
        return answer(w, false);
    // A user is never left behind with the empty password it was created with.
    if (!udSetUserInfo(rid, name.get(), fullName.get(), description.get(), credential.get()) ||
        !udSetUserAsAdministrator(rid, administrator == 1)) {
        udDeleteUserByRid(rid);
        return answer(w, false);
    }
    return answer(w, true);
}

int doRemoveUser(CMBufferReader *r, CMBufferWriter *w)
{
    Text name(kUserName);
    int32_t rid = 0;
    if (!name.read(r) || !udGetUserRidByName(name.get(), &rid))
        return answer(w, false);
    bool deleted = udDeleteUserByRid(rid) != 0;
    // Every logon of the account goes, not only the first.
    std::vector<uint16_t> uids;
    for (uint32_t i = 0; CSUser *u = csGetUserByIndex(i); ++i)
        if (u->token.ridCount > 0 && u->token.rids[0] == uint32_t(rid))
            uids.push_back(u->uid);
    for (uint16_t uid : uids)
        csReleaseUser(uid, 1);
    return answer(w, deleted);
}

int doCleanUserConnections(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t domainUser = 0;
    Text name(kUserText);
    if (!readNumber(r, &domainUser) || !name.read(r))
        return answer(w, false);
    return answer(w, vxCleanUserServerConnectionsW(name.get(), domainUser) == 0);
}

int doEnumUsers(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t index = 0;
    CSServerContext *c = csGetServerContext();
    int32_t rid = 0;
    int owner = 0;
    if (!c || !readNumber(r, &index) ||
        !udGetUserInfo(index, &rid, &owner, c->userName, c->fullName, c->description))
        return answer(w, false);
    answer(w, true);
    const Item items[] = {{Item::Wide, c->userName, nullptr, 0},
                          {Item::Wide, c->fullName, nullptr, 0},
                          {Item::Wide, c->description, nullptr, 0},
                          {Item::Number, nullptr, nullptr, uint16_t(rid < 0 ? 1 : 0)}};
    writeRecord(w, items, 4);
    return 1;
}

CSSession *sessionByIndex(uint32_t index)
{
    for (uint32_t id = 0; id < CS_MAX_SESSIONS; ++id)
        if (CSSession *s = csGetSessionById(id))
            if (index-- == 0)
                return s;
    return nullptr;
}

int doEnumClients(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t index = 0;
    CSSession *s = readNumber(r, &index) ? sessionByIndex(index) : nullptr;
    if (!s)
        return answer(w, false);
    const CSUser *u = csGetUserBySession(s);
    char text[16];
    CMWchar address[16];
    cmIpToAscii(text, &s->clientIp);
    cmAnsiToUnicode(address, text);
    answer(w, true);
    const Item items[] = {{Item::Wide, address, nullptr, 0},
                          {Item::Number, nullptr, nullptr, uint16_t(s->dialect)},
                          {Item::Wide, u ? u->name : kUnknown, nullptr, 0},
                          {Item::Number, nullptr, nullptr, uint16_t(u && u->guest ? 1 : 0)},
                          {Item::Number, nullptr, nullptr, uint16_t(u && u->anonymous ? 1 : 0)},
                          {Item::Number, nullptr, nullptr, uint16_t(u && u->printerOwner ? 1 : 0)}};
    writeRecord(w, items, 6);
    return 1;
}

int doSetEncryptionMethods(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t methods = 0;
    return answer(w, readNumber(r, &methods) && csChangeEncryptionLevel(methods));
}

int doSetMessageSigningPolicy(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t policy = 0;
    if (!readNumber(r, &policy) || policy > 2)
        return answer(w, false);
    csSetMessageSigningPolicy(policy);
    return answer(w, true);
}

int doEnumFiles(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t index = 0;
    CSFile *f = readNumber(r, &index) ? csGetFileByIndex(index) : nullptr;
    if (!f)
        return answer(w, false);
    const CSSession *s = csGetSessionById(f->sessionId);
    const CSUser *u = s ? csGetUserBySession(s) : nullptr;
    const CMWchar *path = csGetFileName(f->fid);
    char address[16];
    uint32_t ip = s ? s->clientIp : 0;
    cmIpToAscii(address, &ip);
    answer(w, true);
    const Item items[] = {{Item::Narrow, nullptr, address, 0},
                          {Item::Wide, path ? path : kEmpty, nullptr, 0},
                          {Item::Wide, u ? u->name : kEmpty, nullptr, 0},
                          {Item::Number, nullptr, nullptr, uint16_t(f->isDirectory ? 1 : 0)}};
    writeRecord(w, items, 4);
    return 1;
}

int doSetPermissive(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t value = 0;
    if (!readNumber(r, &value))
        return answer(w, false);
    csAuthSetPermissive(value != 0);
    if (value == 0) {
        csDisconnectAllAnonymousUsers();
        csServerDropAllClients();
    }
    return answer(w, true);
}

int doSetPrinterOwner(CMBufferReader *r, CMBufferWriter *w)
{
    uint16_t owner = 0;
    Text name(kUserName);
    int32_t rid = 0;
    if (!readNumber(r, &owner) || !name.read(r) || !udGetUserRidByName(name.get(), &rid) ||
        !udSetUserAsPrinterOwner(rid, owner))
        return answer(w, false);
    if (owner == 0)
        csDisconnectAllPrinters(name.get());
    return answer(w, true);
}

struct Command {
    uint32_t code;
    Handler handler;
};

const Command kCommands[] = {
    {CS_CTRL_STOP, doStop},
    {CS_CTRL_RESTART, doRestart},
    {CS_CTRL_ADD_SHARE, doAddShare},
    {CS_CTRL_REMOVE_SHARE, doRemoveShare},
    {CS_CTRL_ENUM_SHARES, doEnumShares},
    {CS_CTRL_ADD_USER, doAddUser},
    {CS_CTRL_REMOVE_USER, doRemoveUser},
    {CS_CTRL_CLEAN_USER_CONNECTIONS, doCleanUserConnections},
    {CS_CTRL_ENUM_USERS, doEnumUsers},
    {CS_CTRL_SET_PERMISSIVE, doSetPermissive},
    {CS_CTRL_SET_PRINTER_OWNER, doSetPrinterOwner},
    {CS_CTRL_ENUM_CLIENTS, doEnumClients},
    {CS_CTRL_SET_ENCRYPTION_METHODS, doSetEncryptionMethods},
    {CS_CTRL_SET_SIGNING_POLICY, doSetMessageSigningPolicy},
    {CS_CTRL_ENUM_FILES, doEnumFiles},
};

}  // namespace

int serve(const uint8_t *request, uint32_t length, uint8_t *reply, uint32_t room, uint32_t *replyLength)
{
    CMBufferReader r;
    CMBufferWriter w;
    cmBufferWriterInit(&w, reply, room);
    int result = 1;
    if (length < 4 || length > CS_CTRL_MAX_MESSAGE) {
        answer(&w, false);
    } else {
        cmBufferReaderInit(&r, request, length);
        uint32_t code = 0;
        cmBufferReadUint32(&r, &code);
        const Command *command = nullptr;
        for (const Command &c : kCommands)
            if (c.code == code)
                command = &c;
        if (command) {
            try {
                result = command->handler(&r, &w);
            } catch (...) {
                // Out of memory for an argument buffer: nothing was changed.
                cmBufferWriterReset(&w);
                result = answer(&w, false);
            }
        } else {
            cmBufferWriteUint32(&w, CM_ERR_GENERAL);
        }
    }
    *replyLength = cmBufferWriterGetDataCount(&w);
    return result;
}

}  // namespace cs::ctrl

extern "C" int doControl(int descriptor)
{
    // One byte more than a message may have tells a longer datagram apart.
    uint8_t request[CS_CTRL_MAX_MESSAGE + 1];
    uint8_t reply[CS_CTRL_MAX_MESSAGE];
    uint32_t ip = 0;
    uint16_t port = 0;
    int received = syRecvFromSocket(descriptor, request, sizeof request, &ip, &port);
    if (received <= 0)
        return 1;
    uint32_t replyLength = 0;
    int result = cs::ctrl::serve(request, uint32_t(received), reply, sizeof reply, &replyLength);
    // A stop or restart whose sender has gone is still obeyed: its effect
    // has been made.
    sySendToSocket(descriptor, reply, replyLength, &ip, port);
    return result;
}
