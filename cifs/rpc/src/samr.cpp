// The security account manager: the users of the user list as the account
// domain, the BUILTIN aliases "Administrators" and "Users" with membership
// derived from the administrator mark, and the administration of users by
// local administrators.
#include "csdcerpc.h"
#include "ndr_lsa.h"
#include "ndr_text.h"

#include "cmcrypt.h"
#include "cmcryptntlm.h"
#include "cmsd.h"
#include "cmtime.h"
#include "csdb.h"
#include "udhooks.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kRefused = 0xC0000005u;  // every refusal of samr
constexpr uint32_t kInvalidInfoClass = 0xC0000003u;
constexpr uint32_t kNoRoom = 122;
constexpr uint32_t kSomeNotMapped = 0x107u;
constexpr uint32_t kNoneMapped = 0xC0000073u;
constexpr uint32_t kNoSids = 0x1C000024u;
constexpr uint16_t kMark = 0xA5A5;
constexpr uint32_t kConnectAccess = 0x30;
constexpr uint32_t kUserAccess = 0x70FFF;
constexpr uint32_t kAliasAccess = 0x2000F;
constexpr uint32_t kGroupAccess = 3;
constexpr uint32_t kGrantedUserAccess = 0x000F07FFu;
constexpr uint32_t kNameUnits = 260;
constexpr uint32_t kMaxLookup = 1000;
constexpr uint32_t kPasswordBuffer = CM_SAMR_PASSWORD_SIZE;
constexpr uint32_t kSaltedBuffer = CM_SAMR_PASSWORD_SIZE + 16;

// A handle as read from the request.
struct Handle {
    uint32_t attributes = 0, data1 = 0;
    uint16_t data2 = 0, data3 = 0;
    bool valid() const { return data2 == kMark; }
    bool builtin() const { return data3 == 1; }
    int32_t rid() const { return int32_t(data1); }
};

Handle readHandle(CMRpcPacketDescriptor *in)
{
    Handle h;
    cmRpcParseUint32(in, &h.attributes);
    cmRpcParseUint32(in, &h.data1);
    cmRpcParseUint16(in, &h.data2);
    cmRpcParseUint16(in, &h.data3);
    cmRpcParseSkip(in, 8);
    return h;
}

void packHandle(CMRpcPacketDescriptor *out, uint32_t data1, uint16_t data3)
{
    cmRpcPackUint32(out, 1);
    cmRpcPackUint32(out, data1);
    cmRpcPackUint16(out, kMark);
    cmRpcPackUint16(out, data3);
    cmRpcPackZeroes(out, 8);
}

void packNullHandle(CMRpcPacketDescriptor *out) { cmRpcPackZeroes(out, 20); }

// A caller whose token is of the local domain and whose own RID carries
// the administrator mark of the user list.
bool localAdministrator(const CMRpcPacketDescriptor *in)
{
    const auto *token = static_cast<const CMSdAccessToken *>(in->token);
    if (!token || token->ridCount < 1)
        return false;
    const bool local = rpc::sameSid(token->domain, *cmSdGetComputerSid()) ||
                       rpc::sameSid(token->domain, *cmSdGetLocalDomainAlias());
    return local && int32_t(token->rids[0]) < 0;
}

rpc::WText wide(const CMWchar *text)
{
    rpc::WText out;
    for (uint32_t i = 0; i < kNameUnits && text[i]; ++i)
        out.push_back(text[i]);
    return out;
}

bool userExists(int32_t rid, rpc::WText *name = nullptr)
{
    CMWchar n[kNameUnits] = {}, full[kNameUnits] = {};
    if (!udGetUserNameByRid(rid, n, full))
        return false;
    if (name)
        *name = wide(n);
    return true;
}

bool lookupRid(uint32_t rid, rpc::WText *name, rpc::WText *description = nullptr)
{
    CMWchar n[kNameUnits] = {}, d[kNameUnits] = {};
    if (!cmSdLookupRid(rid, n, d))
        return false;
    if (name)
        *name = wide(n);
    if (description)
        *description = wide(d);
    return true;
}

// Names that go into the user list: printable ASCII only, so that nothing
// is narrowed into another character on the way to the file.
bool plainName(const rpc::WText &name)
{
    if (name.empty())
        return false;
    for (CMWchar c : name)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

// A counted string read as its header now and its text later.
struct Counted {
    uint32_t pointer = 0;
    CMRpcUnicodeString text{};
};

void parseHeader(CMRpcPacketDescriptor *in, Counted *s)
{
    uint16_t length = 0, size = 0;
    cmRpcAllign(in, 4);
    cmRpcParseUint16(in, &length);
    cmRpcParseUint16(in, &size);
    cmRpcParseUint32(in, &s->pointer);
}

void parseBody(CMRpcPacketDescriptor *in, Counted *s)
{
    if (s->pointer)
        rpc::parseCountedText(in, &s->text);
}

void parseCounted(CMRpcPacketDescriptor *in, Counted *s)
{
    parseHeader(in, s);
    parseBody(in, s);
}

// An empty counted string goes with a null pointer.
void packOptionalHeader(CMRpcPacketDescriptor *out, const rpc::WText &text)
{
    if (!text.empty()) {
        rpc::packStringHeader(out, text);
        return;
    }
    cmRpcAllignZero(out, 4);
    cmRpcPackUint32(out, 0);
    cmRpcPackUint32(out, 0);
}

void packOptionalBody(CMRpcPacketDescriptor *out, const rpc::WText &text)
{
    if (!text.empty())
        rpc::packStringBody(out, text);
}

bool isAccountDomain(const CMSdDomainSid &sid) { return rpc::sameSid(sid, *cmSdGetComputerSid()); }

// The RID of an account-domain SID naming a user of the list.
bool memberUser(const CMSdDomainSid &sid, int32_t *rid)
{
    if (sid.count == 0)
        return false;
    CMSdDomainSid domain = sid;
    domain.count = uint8_t(sid.count - 1);
    *rid = int32_t(sid.subauthorities[sid.count - 1]);
    return isAccountDomain(domain) && userExists(*rid);
}

// Every user of the list with its RID; at most this many.
std::vector<int32_t> userRids(uint32_t limit = 100000)
{
    std::vector<int32_t> out;
    int32_t rid = 0;
    for (uint32_t i = 0; i < limit && udGetUserInfo(i, &rid, nullptr, nullptr, nullptr, nullptr); ++i)
        out.push_back(rid);
    return out;
}

void packUlongArray(CMRpcPacketDescriptor *out, const std::vector<uint32_t> &values)
{
    cmRpcPackUint32(out, uint32_t(values.size()));
    rpc::packPointer(out, !values.empty());
    if (values.empty())
        return;
    cmRpcPackUint32(out, uint32_t(values.size()));
    for (uint32_t v : values)
        cmRpcPackUint32(out, v);
}

// What a refused operation answers beside its status.
enum class Empty {
    kNothing,
    kPointer,      // a null pointer
    kHandle,       // the null handle
    kUlongArray,   // count 0, null pointer
    kEnumeration,  // resume 0, null buffer, count 0
    kNewUser,      // null handle, access 0, RID 0
};

void packEmpty(CMRpcPacketDescriptor *out, Empty answer)
{
    switch (answer) {
    case Empty::kNothing:
        break;
    case Empty::kPointer:
        rpc::packPointer(out, false);
        break;
    case Empty::kHandle:
        packNullHandle(out);
        break;
    case Empty::kUlongArray:
        packUlongArray(out, {});
        break;
    case Empty::kEnumeration:
        cmRpcPackUint32(out, 0);
        rpc::packPointer(out, false);
        cmRpcPackUint32(out, 0);
        break;
    case Empty::kNewUser:
        packNullHandle(out);
        cmRpcPackZeroes(out, 8);
        break;
    }
}

// Every operation starts alike: its handle, then the arguments `read`
// takes. A stub that overran is answered with nothing and status 0; a
// handle that is not ours, or a failed `allowed`, with the empty answer and
// the refusal. `allowed` runs only past both, so it may act.
class Request {
public:
    template <typename Read> Request(CMRpcPacketDescriptor *in, Read read) : h(readHandle(in))
    {
        read();
        overran_ = cmRpcIsOverrun(in) != 0;
    }
    explicit Request(CMRpcPacketDescriptor *in) : Request(in, [] {}) {}

    bool overran() const { return overran_; }

    // The status to stop with, or none to go on.
    template <typename Allowed>
    std::optional<uint32_t> stop(CMRpcPacketDescriptor *out, Empty answer, Allowed allowed) const
    {
        if (overran_)
            return 0u;
        if (!h.valid() || !allowed()) {
            packEmpty(out, answer);
            return kRefused;
        }
        return std::nullopt;
    }
    std::optional<uint32_t> stop(CMRpcPacketDescriptor *out, Empty answer) const
    {
        return stop(out, answer, [] { return true; });
    }

    const Handle h;

private:
    bool overran_ = false;
};

// SamrCloseHandle
uint32_t closeHandle(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    const Request r(in);
    if (auto status = r.stop(out, Empty::kHandle))
        return *status;
    packNullHandle(out);
    return 0;
}

// SamrSetSecurityObject
uint32_t setSecurityObject(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t information = 0;
    const Request r(in, [&] {
        uint32_t pointer = 0, length = 0, data = 0;
        cmRpcParseUint32(in, &information);
        cmRpcParseUint32(in, &pointer);
        if (pointer) {
            cmRpcParseUint32(in, &length);
            cmRpcParseUint32(in, &data);
            if (data) {
                uint32_t maximum = 0;
                cmRpcParseUint32(in, &maximum);
                cmRpcParseSkip(in, maximum);
            }
        }
    });
    if (auto status = r.stop(out, Empty::kNothing, [&] { return localAdministrator(in); }))
        return *status;
    return information == CM_SD_DACL ? 0 : kInvalidInfoClass;
}

// SamrQuerySecurityObject
uint32_t querySecurityObject(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t information = 0;
    const Request r(in, [&] { cmRpcParseUint32(in, &information); });
    if (auto status = r.stop(out, Empty::kPointer))
        return *status;
    CMSdSecurityDescriptor sd{};
    if (!(information & CM_SD_DACL) || !userExists(r.h.rid()) ||
        !cmSdGetLocalSecurityDescriptorForUser(r.h.data1, &sd) || sd.length > CM_SD_MAX_SIZE) {
        rpc::packPointer(out, false);
        return kInvalidInfoClass;
    }
    rpc::packPointer(out);
    cmRpcPackUint32(out, sd.length);
    rpc::packPointer(out);
    cmRpcPackUint32(out, sd.length);
    cmRpcPackBytes(out, sd.data, sd.length);
    return 0;
}

// SamrLookupDomainInSamServer
uint32_t lookupDomain(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    Counted name;
    const Request r(in, [&] { parseCounted(in, &name); });
    if (auto status =
            r.stop(out, Empty::kPointer, [&] { return rpc::narrow(rpc::units(name.text)) == rpc::hostName(); }))
        return *status;
    rpc::packPointer(out);
    rpc::packSid(out, cmSdGetComputerSid());
    return 0;
}

// A SAMPR_ENUMERATION_BUFFER of names with their RIDs.
void packEnumeration(CMRpcPacketDescriptor *out, const std::vector<std::pair<uint32_t, rpc::WText>> &entries)
{
    rpc::packPointer(out);
    cmRpcPackUint32(out, uint32_t(entries.size()));
    rpc::packPointer(out, !entries.empty());
    if (!entries.empty()) {
        cmRpcPackUint32(out, uint32_t(entries.size()));
        for (const auto &e : entries) {
            cmRpcPackUint32(out, e.first);
            rpc::packStringHeader(out, e.second);
        }
        for (const auto &e : entries)
            rpc::packStringBody(out, e.second);
    }
    cmRpcPackUint32(out, uint32_t(entries.size()));
}

// SamrEnumerateDomainsInSamServer
uint32_t enumerateDomains(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    const Request r(in, [&] { cmRpcParseSkip(in, 8); });  // resume handle, preferred length
    if (auto status = r.stop(out, Empty::kEnumeration))
        return *status;
    cmRpcPackUint32(out, 0);
    packEnumeration(out, {{0, rpc::widen(rpc::hostName())}, {1, rpc::widen("Builtin")}});
    return 0;
}

// SamrOpenDomain
uint32_t openDomain(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    CMSdDomainSid sid{};
    const Request r(in, [&] {
        cmRpcParseSkip(in, 4);  // access
        rpc::parseSid(in, &sid);
    });
    const bool builtin = rpc::sameSid(sid, *cmSdGetLocalDomainAlias());
    if (auto status = r.stop(out, Empty::kHandle, [&] { return builtin || isAccountDomain(sid); }))
        return *status;
    packHandle(out, kMark, builtin ? 1 : 0);
    return 0;
}

// SamrQueryInformationDomain
uint32_t queryInformationDomain(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t level = 0;
    const Request r(in, [&] { cmRpcParseUint16(in, &level); });
    if (auto status = r.stop(out, Empty::kPointer))
        return *status;
    if (level != 2) {
        rpc::packPointer(out, false);
        return kInvalidInfoClass;
    }
    const rpc::WText name = rpc::widen("Builtin");
    rpc::packPointer(out);
    cmRpcPackUint16(out, level);
    cmRpcAllignZero(out, 4);
    cmRpcPackUint32(out, 0);  // force logoff: only the top bit
    cmRpcPackUint32(out, 0x80000000u);
    packOptionalHeader(out, rpc::WText());  // OEM information
    rpc::packStringHeader(out, name);
    packOptionalHeader(out, rpc::WText());  // replica source
    cmRpcPackZeroes(out, 8);                // modified count
    cmRpcPackUint32(out, 0);                // server state
    cmRpcPackUint32(out, 0);                // server role
    cmRpcPackByte(out, 0);                  // UAS compatibility
    cmRpcAllignZero(out, 4);
    const bool builtin = r.h.builtin();
    cmRpcPackUint32(out, builtin ? 0 : udGetUserCount());
    cmRpcPackUint32(out, builtin ? 0 : 1);
    cmRpcPackUint32(out, builtin ? 0 : 2);
    rpc::packStringBody(out, name);
    return 0;
}

// SamrEnumerateAliasesInDomain
uint32_t enumerateAliases(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    const Request r(in, [&] { cmRpcParseSkip(in, 8); });  // resume handle, preferred length
    if (auto status = r.stop(out, Empty::kEnumeration))
        return *status;
    std::vector<std::pair<uint32_t, rpc::WText>> aliases;
    if (r.h.builtin())
        aliases = {{CM_SD_RID_ADMINISTRATORS, rpc::widen("Administrators")},
                   {CM_SD_RID_USERS, rpc::widen("Users")}};
    cmRpcPackUint32(out, 0);
    packEnumeration(out, aliases);
    return cmRpcIsOverrun(out) ? kNoRoom : 0;
}

// A SAMPR_PSID_ARRAY: count, pointer, then the conformant array of SID
// pointers and the SIDs. A count beyond the stub is not believed.
void parseSidArray(CMRpcPacketDescriptor *in, std::vector<CMSdDomainSid> &sids)
{
    uint32_t count = 0, pointer = 0;
    cmRpcParseUint32(in, &count);
    cmRpcParseUint32(in, &pointer);
    if (!pointer || count == 0)
        return;
    uint32_t maximum = 0;
    cmRpcParseUint32(in, &maximum);
    if (maximum != count || cmRpcSpace(in) < 0 || count > uint32_t(cmRpcSpace(in)) / 4) {
        in->overrun = 1;
        in->current = in->origin + in->length;
        return;
    }
    std::vector<uint32_t> present(count);
    for (uint32_t &p : present)
        cmRpcParseUint32(in, &p);
    for (uint32_t i = 0; i < count && !cmRpcIsOverrun(in); ++i) {
        CMSdDomainSid sid{};
        if (present[i] && rpc::parseSid(in, &sid))
            sids.push_back(sid);
    }
}

// SamrGetAliasMembership
uint32_t getAliasMembership(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    std::vector<CMSdDomainSid> sids;
    const Request r(in, [&] { parseSidArray(in, sids); });
    if (auto status = r.stop(out, Empty::kUlongArray))
        return *status;
    if (sids.empty()) {
        packUlongArray(out, {});
        return kNoSids;
    }
    bool user = false, administrator = false;
    for (const CMSdDomainSid &sid : sids) {
        int32_t rid = 0;
        if (r.h.builtin() && memberUser(sid, &rid)) {
            user = true;
            administrator = administrator || rid < 0;
        }
    }
    std::vector<uint32_t> aliases;
    if (user)
        aliases.push_back(CM_SD_RID_USERS);
    if (administrator)
        aliases.push_back(CM_SD_RID_ADMINISTRATORS);
    packUlongArray(out, aliases);
    return 0;
}

uint32_t mappedStatus(uint32_t count, uint32_t found)
{
    return found == count ? 0 : found ? kSomeNotMapped : kNoneMapped;
}

// Aliases answer only on the Builtin domain.
bool answersOn(const Handle &h, uint32_t rid) { return cmSdGetRidType(rid) != 4 || h.builtin(); }

// A count, then a conformant varying array's header [size_is(1000),
// length_is(count)]: `items` gets that many places when the stub can hold
// them, each of at least `itemBytes`.
template <typename T>
bool parseVaryingCount(CMRpcPacketDescriptor *in, uint32_t itemBytes, uint32_t *counted, std::vector<T> *items)
{
    uint32_t count = 0, maximum = 0, offset = 0, actual = 0;
    cmRpcParseUint32(in, &count);
    *counted = count;
    cmRpcParseUint32(in, &maximum);
    cmRpcParseUint32(in, &offset);
    cmRpcParseUint32(in, &actual);
    if (cmRpcIsOverrun(in) || offset != 0 || actual != count || count > maximum || count > kMaxLookup ||
        cmRpcSpace(in) < 0 || count > uint32_t(cmRpcSpace(in)) / itemBytes) {
        in->overrun = 1;
        in->current = in->origin + in->length;
        return false;
    }
    items->resize(count);
    return true;
}

// SamrLookupNamesInDomain
uint32_t lookupNames(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t count = 0;
    std::vector<Counted> names;
    const Request r(in, [&] {
        if (parseVaryingCount(in, 8, &count, &names)) {
            for (Counted &n : names)
                parseHeader(in, &n);
            for (Counted &n : names)
                parseBody(in, &n);
        }
    });
    if (r.overran())
        return 0;
    const Handle &h = r.h;
    std::vector<uint32_t> rids, uses;
    uint32_t found = 0;
    for (const Counted &n : names) {
        rpc::WText name = rpc::units(n.text);
        name.push_back(0);
        uint32_t rid = 0;
        if (h.valid() && name.size() > 1 && cmSdLookupName(name.c_str(), &rid) && answersOn(h, rid)) {
            rids.push_back(rid);
            uses.push_back(cmSdGetRidType(rid));
            ++found;
        } else {
            rids.push_back(0);
            uses.push_back(8);
        }
    }
    packUlongArray(out, rids);
    packUlongArray(out, uses);
    if (!h.valid())
        return kRefused;
    return mappedStatus(count, found);
}

// SamrLookupIdsInDomain
uint32_t lookupIds(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t count = 0;
    std::vector<uint32_t> ids;
    const Request r(in, [&] {
        if (parseVaryingCount(in, 4, &count, &ids))
            for (uint32_t &id : ids)
                cmRpcParseUint32(in, &id);
    });
    if (r.overran())
        return 0;
    const Handle &h = r.h;
    std::vector<rpc::WText> names(ids.size());
    std::vector<uint32_t> uses;
    uint32_t found = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (h.valid() && answersOn(h, ids[i]) && lookupRid(ids[i], &names[i])) {
            uses.push_back(cmSdGetRidType(ids[i]));
            ++found;
        } else {
            names[i].clear();
            uses.push_back(8);
        }
    }
    cmRpcPackUint32(out, uint32_t(names.size()));
    rpc::packPointer(out, !names.empty());
    if (!names.empty()) {
        cmRpcPackUint32(out, uint32_t(names.size()));
        for (const rpc::WText &n : names)
            packOptionalHeader(out, n);
        for (const rpc::WText &n : names)
            packOptionalBody(out, n);
    }
    packUlongArray(out, uses);
    if (!h.valid())
        return kRefused;
    return mappedStatus(count, found);
}

// SamrOpenGroup, SamrOpenAlias, SamrOpenUser: a handle with the RID in data1.
uint32_t openAccount(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out, uint32_t allowed,
                     bool (*known)(const Handle &, uint32_t))
{
    uint32_t access = 0, rid = 0;
    const Request r(in, [&] {
        cmRpcParseUint32(in, &access);
        cmRpcParseUint32(in, &rid);
    });
    if (auto status = r.stop(out, Empty::kHandle, [&] { return (access & ~allowed) == 0 && known(r.h, rid); }))
        return *status;
    packHandle(out, rid, 0);
    return 0;
}

uint32_t openGroup(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    return openAccount(in, out, kGroupAccess,
                       [](const Handle &, uint32_t rid) { return lookupRid(rid, nullptr); });
}

uint32_t openAlias(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    return openAccount(in, out, kAliasAccess, [](const Handle &h, uint32_t) { return h.builtin(); });
}

uint32_t openUser(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    return openAccount(in, out, kUserAccess,
                       [](const Handle &, uint32_t rid) { return userExists(int32_t(rid)); });
}

// SamrQueryInformationGroup
uint32_t queryInformationGroup(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t level = 0;
    const Request r(in, [&] { cmRpcParseUint16(in, &level); });
    rpc::WText name, description;
    if (auto status = r.stop(out, Empty::kPointer, [&] { return lookupRid(r.h.data1, &name, &description); }))
        return *status;
    if (level != 5) {
        rpc::packPointer(out, false);
        return kInvalidInfoClass;
    }
    rpc::packPointer(out);
    cmRpcPackUint16(out, level);
    rpc::packStringHeader(out, name);
    cmRpcPackUint32(out, 7);  // attributes
    cmRpcPackUint32(out, 0);  // members
    packOptionalHeader(out, description);
    rpc::packStringBody(out, name);
    packOptionalBody(out, description);
    return 0;
}

uint32_t aliasMembers(uint32_t alias)
{
    uint32_t n = 0;
    for (int32_t rid : userRids())
        if (alias == CM_SD_RID_USERS || (alias == CM_SD_RID_ADMINISTRATORS && rid < 0))
            ++n;
    return n;
}

// SamrQueryInformationAlias
uint32_t queryInformationAlias(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t level = 0;
    const Request r(in, [&] { cmRpcParseUint16(in, &level); });
    rpc::WText name, description;
    if (auto status = r.stop(out, Empty::kPointer, [&] { return lookupRid(r.h.data1, &name, &description); }))
        return *status;
    if (level < 1 || level > 3) {
        rpc::packPointer(out, false);
        return kInvalidInfoClass;
    }
    rpc::packPointer(out);
    cmRpcPackUint16(out, level);
    if (level == 1) {
        rpc::packStringHeader(out, name);
        cmRpcPackUint32(out, aliasMembers(r.h.data1));
        rpc::packStringHeader(out, description);
        rpc::packStringBody(out, name);
        rpc::packStringBody(out, description);
    } else {
        const rpc::WText text = level == 2 ? name : rpc::widen("Local user");
        rpc::packStringHeader(out, text);
        rpc::packStringBody(out, text);
    }
    return 0;
}

// SamrAddMemberToAlias and SamrRemoveMemberFromAlias: membership of
// "Administrators" is the user's administrator mark.
uint32_t changeAlias(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out, int on)
{
    CMSdDomainSid sid{};
    const Request r(in, [&] { rpc::parseSid(in, &sid); });
    int32_t rid = 0;
    if (auto status = r.stop(out, Empty::kNothing, [&] { return localAdministrator(in) && memberUser(sid, &rid); }))
        return *status;
    if (r.h.data1 == CM_SD_RID_ADMINISTRATORS && !udSetUserAsAdministrator(rid, on))
        return kRefused;
    return 0;
}

uint32_t addMemberToAlias(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    return changeAlias(in, out, 1);
}
uint32_t removeMemberFromAlias(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    return changeAlias(in, out, 0);
}

// SamrGetMembersInAlias
uint32_t getMembersInAlias(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    const Request r(in);
    if (r.overran())
        return 0;
    const Handle &h = r.h;
    std::vector<int32_t> members;
    if (h.valid() && (h.data1 == CM_SD_RID_USERS || h.data1 == CM_SD_RID_ADMINISTRATORS))
        for (int32_t rid : userRids())
            if (h.data1 == CM_SD_RID_USERS || rid < 0)
                members.push_back(rid);
    cmRpcPackUint32(out, uint32_t(members.size()));
    rpc::packPointer(out, !members.empty());
    if (!members.empty()) {
        cmRpcPackUint32(out, uint32_t(members.size()));
        for (size_t i = 0; i < members.size(); ++i)
            rpc::packPointer(out);
        for (int32_t rid : members)
            rpc::packSidRid(out, cmSdGetComputerSid(), uint32_t(rid));
    }
    return h.valid() ? 0 : kRefused;
}

// SamrDeleteUser
uint32_t deleteUser(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    const Request r(in);
    if (r.overran())
        return 0;
    const Handle &h = r.h;
    if (!h.valid() || !localAdministrator(in) || !udDeleteUserByRid(h.rid())) {
        packHandle(out, h.data1, h.data3);
        return kRefused;
    }
    packNullHandle(out);
    return 0;
}

// The all-information structure's texts, in wire order.
enum AllText {
    kUserName,
    kFullName,
    kHomeDirectory,
    kHomeDrive,
    kScript,
    kProfile,
    kAdminComment,
    kWorkstations,
    kUserComment,
    kParameters,
    kTexts
};

constexpr uint32_t kWhichUserName = 0x1;
constexpr uint32_t kWhichFullName = 0x2;
constexpr uint32_t kWhichAdminComment = 0x10;

void packAllInformation(CMRpcPacketDescriptor *out, int32_t rid, const rpc::WText &name)
{
    CMUint64 now{0, 0};
    cmGetCurrentTime(&now);
    std::array<rpc::WText, kTexts> texts;
    texts[kUserName] = name;
    texts[kFullName] = name;
    texts[kAdminComment] = rpc::widen("Local user");
    cmRpcAllignZero(out, 4);
    cmRpcPackZeroes(out, 16);  // last logon, last logoff
    cmRpcPackUint32(out, now.low);
    cmRpcPackUint32(out, now.high);  // password last set
    cmRpcPackZeroes(out, 8);         // account expires
    cmRpcPackUint32(out, now.low);
    cmRpcPackUint32(out, now.high);  // password can change
    cmRpcPackUint32(out, 0xFFFFFFFFu);
    cmRpcPackUint32(out, 0x7FFFFFFFu);  // password must change
    for (const rpc::WText &t : texts)
        packOptionalHeader(out, t);
    cmRpcPackZeroes(out, 16);  // LM and NT hashes: empty
    cmRpcPackZeroes(out, 8);   // private data
    cmRpcPackZeroes(out, 8);   // security descriptor
    cmRpcPackUint32(out, uint32_t(rid));
    cmRpcPackUint32(out, rid < 0 ? CM_SD_RID_DOMAIN_ADMINS : CM_SD_RID_DOMAIN_USERS);
    cmRpcPackUint32(out, 0x210);       // normal account, password does not expire
    cmRpcPackUint32(out, 0x00FFFFFF);  // which fields
    cmRpcPackUint16(out, 168);         // units per week
    cmRpcAllignZero(out, 4);
    rpc::packPointer(out);
    cmRpcPackZeroes(out, 8);  // bad password and logon counts, country, code page
    cmRpcPackZeroes(out, 4);  // password present and expired flags
    for (const rpc::WText &t : texts)
        packOptionalBody(out, t);
    // Logon hours
    cmRpcPackUint32(out, 1260);
    cmRpcPackUint32(out, 0);
    cmRpcPackUint32(out, 21);
    for (int i = 0; i < 21; ++i)
        cmRpcPackByte(out, 0xFF);
    cmRpcAllignZero(out, 4);
}

// SamrQueryInformationUser
uint32_t queryInformationUser(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t level = 0;
    const Request r(in, [&] { cmRpcParseUint16(in, &level); });
    rpc::WText name;
    if (auto status = r.stop(out, Empty::kPointer, [&] { return userExists(r.h.rid(), &name); }))
        return *status;
    if (level != 16 && level != 21) {
        rpc::packPointer(out, false);
        return kInvalidInfoClass;
    }
    rpc::packPointer(out);
    cmRpcPackUint16(out, level);
    if (level == 16) {
        cmRpcAllignZero(out, 4);
        cmRpcPackUint32(out, 0x10);
        return 0;
    }
    packAllInformation(out, r.h.rid(), name);
    return 0;
}

// What SetInformationUser reads of the all-information structure.
struct AllInformation {
    uint32_t which = 0;
    std::array<Counted, kTexts> texts;
};

// The fixed part, then (password buffer between, read by the caller) the
// deferred texts, blobs, descriptor and logon hours.
void parseAllFixed(CMRpcPacketDescriptor *in, AllInformation *a, uint32_t pointers[5])
{
    cmRpcAllign(in, 4);
    cmRpcParseSkip(in, 48);  // six times
    for (Counted &t : a->texts)
        parseHeader(in, &t);
    uint16_t l = 0, m = 0;
    for (int i = 0; i < 2; ++i) {  // LM and NT hashes
        cmRpcParseUint16(in, &l);
        cmRpcParseUint16(in, &m);
        cmRpcParseUint32(in, &pointers[i]);
    }
    cmRpcParseUint16(in, &l);  // private data
    cmRpcParseUint16(in, &m);
    cmRpcParseUint32(in, &pointers[2]);
    uint32_t length = 0;
    cmRpcParseUint32(in, &length);  // security descriptor
    cmRpcParseUint32(in, &pointers[3]);
    cmRpcParseSkip(in, 12);  // user id, primary group, account control
    cmRpcParseUint32(in, &a->which);
    cmRpcParseUint16(in, &l);  // units per week
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &pointers[4]);
    cmRpcParseSkip(in, 12);  // counts, country, code page, flags
}

void parseAllDeferred(CMRpcPacketDescriptor *in, AllInformation *a, const uint32_t pointers[5])
{
    for (Counted &t : a->texts)
        parseBody(in, &t);
    for (int i = 0; i < 3; ++i)
        if (pointers[i]) {
            CMRpcUnicodeString skipped;
            rpc::parseCountedText(in, &skipped);
        }
    // Byte arrays: aligned before, never after (the stub may end there).
    if (pointers[3]) {
        uint32_t count = 0;
        cmRpcAllign(in, 4);
        cmRpcParseUint32(in, &count);
        cmRpcParseSkip(in, count);
    }
    if (pointers[4]) {
        uint32_t maximum = 0, offset = 0, actual = 0;
        cmRpcAllign(in, 4);
        cmRpcParseUint32(in, &maximum);
        cmRpcParseUint32(in, &offset);
        cmRpcParseUint32(in, &actual);
        cmRpcParseSkip(in, actual);
    }
}

// The key a client encrypts SAMR passwords under: the session key, and at
// SMB 3.0 and 3.1.1 the application key derived from it.
const uint8_t *passwordKey(const CSUser *user)
{
    const uint32_t dialect = user->session ? user->session->dialect : 0;
    return dialect == CS_DIALECT_SMB30 || dialect == CS_DIALECT_SMB311 ? user->applicationKey
                                                                       : user->sessionKey;
}

std::string hexHash(const uint8_t *hash)
{
    char text[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(text + 2 * i, 3, "%02X", hash[i]);
    return std::string(text, 32);
}

// The password of a decrypted buffer as the NT hash's hex text; false
// when the length does not describe UTF-16 text inside the buffer.
bool passwordHash(const uint8_t *buffer, bool bigEndian, std::string *hex)
{
    const uint8_t *l = buffer + 512;
    const uint32_t length = bigEndian ? uint32_t(l[0]) << 24 | l[1] << 16 | l[2] << 8 | l[3]
                                      : uint32_t(l[3]) << 24 | l[2] << 16 | l[1] << 8 | l[0];
    if (length >= 512 || length % 2 != 0)
        return false;
    const uint8_t *text = buffer + 512 - length;
    // Surrogates must come in pairs; a wrong key gives noise that rarely does.
    for (uint32_t i = 0; i < length; i += 2) {
        const uint16_t unit = uint16_t(text[i] | text[i + 1] << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 2 >= length)
                return false;
            const uint16_t next = uint16_t(text[i + 2] | text[i + 3] << 8);
            if (next < 0xDC00 || next > 0xDFFF)
                return false;
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    uint8_t hash[16];
    cmMD4(hash, text, length);
    *hex = hexHash(hash);
    return true;
}

// The hash a user has now, for a change that keeps the password.
bool currentHash(const rpc::WText &name, std::string *hex)
{
    rpc::WText key = name;
    key.push_back(0);
    uint8_t stored[UD_PASSWORD_OUT_SIZE] = {};
    int hashed = 0;
    int32_t rid = 0;
    const int kind = udGetPassword(key.c_str(), stored, &hashed, &rid);
    if (kind == 3 || (kind == 4 && hashed)) {
        *hex = hexHash(kind == 3 ? stored : stored + 16);
        return true;
    }
    if (kind != 4)
        return false;
    std::vector<uint8_t> wide;
    for (size_t i = 0; stored[i] && i < sizeof stored; ++i) {
        wide.push_back(stored[i]);
        wide.push_back(0);
    }
    uint8_t hash[16];
    cmMD4(hash, wide.data(), uint32_t(wide.size()));
    *hex = hexHash(hash);
    return true;
}

// SamrSetInformationUser and SamrSetInformationUser2
uint32_t setInformationUser(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    uint16_t level = 0, arm = 0;
    const Request r(in, [&] {
        cmRpcParseUint16(in, &level);
        cmRpcAllign(in, 2);
        cmRpcParseUint16(in, &arm);
    });
    if (r.overran())
        return 0;
    const Handle &h = r.h;
    if (level != 21 && level != 23 && level != 25) {
        // The arm is not read: nothing more of the request is used.
        in->current = in->origin + in->length;
        return h.valid() ? kInvalidInfoClass : kRefused;
    }
    AllInformation all;
    uint32_t pointers[5] = {};
    uint8_t password[kSaltedBuffer] = {};
    parseAllFixed(in, &all, pointers);
    const uint32_t passwordBytes = level == 23 ? kPasswordBuffer : level == 25 ? kSaltedBuffer : 0;
    cmRpcParseBytes(in, password, passwordBytes);
    parseAllDeferred(in, &all, pointers);
    if (cmRpcIsOverrun(in))
        return 0;

    rpc::WText current;
    CSUser *user = static_cast<CSUser *>(in->user);
    if (!h.valid() || !localAdministrator(in) || !userExists(h.rid(), &current) || arm != level)
        return kRefused;

    std::string hash;
    if (passwordBytes) {
        if (!user)
            return kRefused;
        // Class 23's buffer carries no salt; class 25's is salted.
        cmDecryptPassword(passwordKey(user), password, level == 25);
        const bool good = passwordHash(password, in->nbo != 0, &hash);
        std::memset(password, 0, sizeof password);
        if (!good)
            return kRefused;
    } else if (!currentHash(current, &hash)) {
        return kRefused;
    }

    rpc::WText name = current;
    if (level != 23 && (all.which & kWhichUserName) && all.texts[kUserName].pointer) {
        name = rpc::units(all.texts[kUserName].text);
        if (!plainName(name))
            return kRefused;
        // A name another user already has.
        rpc::WText key = name;
        key.push_back(0);
        int32_t other = 0;
        if (udGetUserRidByName(key.c_str(), &other) && other != h.rid())
            return kRefused;
    }
    rpc::WText fullName = (all.which & kWhichFullName) ? rpc::units(all.texts[kFullName].text) : rpc::WText();
    rpc::WText comment =
        (all.which & kWhichAdminComment) ? rpc::units(all.texts[kAdminComment].text) : rpc::WText();
    name.push_back(0);
    fullName.push_back(0);
    comment.push_back(0);
    const rpc::WText hex = rpc::widen(hash) + CMWchar(0);
    const bool stored =
        udSetUserInfo(h.rid(), name.c_str(), (all.which & kWhichFullName) ? fullName.c_str() : nullptr,
                      (all.which & kWhichAdminComment) ? comment.c_str() : nullptr, hex.c_str());
    return stored ? 0 : kRefused;
}

// SamrGetGroupsForUser
uint32_t getGroupsForUser(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    const Request r(in);
    if (auto status = r.stop(out, Empty::kPointer, [&] { return userExists(r.h.rid()); }))
        return *status;
    std::vector<uint32_t> groups;
    if (r.h.data3 != 0) {
        groups.push_back(CM_SD_RID_DOMAIN_USERS);
        if (r.h.rid() < 0)
            groups.push_back(CM_SD_RID_DOMAIN_ADMINS);
    }
    rpc::packPointer(out);
    cmRpcPackUint32(out, uint32_t(groups.size()));
    rpc::packPointer(out, !groups.empty());
    if (!groups.empty()) {
        cmRpcPackUint32(out, uint32_t(groups.size()));
        for (uint32_t g : groups) {
            cmRpcPackUint32(out, g);
            cmRpcPackUint32(out, 7);
        }
    }
    return 0;
}

struct DisplayUser {
    int32_t rid;
    rpc::WText name, fullName, description;
};

// SamrQueryDisplayInformation and SamrQueryDisplayInformation2
uint32_t queryDisplayInformation(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t level = 0;
    uint32_t index = 0, count = 0;
    const Request r(in, [&] {
        cmRpcParseUint16(in, &level);
        cmRpcAllign(in, 4);
        cmRpcParseUint32(in, &index);
        cmRpcParseUint32(in, &count);
        cmRpcParseSkip(in, 4);  // preferred length
    });
    if (r.overran())
        return 0;
    CMRpcPacketDescriptor sizes;
    cmRpcCloneDescriptor(out, &sizes);
    cmRpcPackZeroes(out, 8);
    cmRpcPackUint16(out, level);
    cmRpcAllignZero(out, 4);
    if (auto status = r.stop(out, Empty::kUlongArray))
        return *status;
    const uint8_t *start = out->current;
    if (level == 1) {
        std::vector<DisplayUser> users;
        int32_t room = cmRpcSpace(out);
        for (uint32_t i = index; users.size() < count && users.size() < kMaxLookup; ++i) {
            CMWchar n[kNameUnits] = {}, f[kNameUnits] = {}, d[kNameUnits] = {};
            int32_t rid = 0;
            if (!udGetUserInfo(i, &rid, nullptr, n, f, d))
                break;
            DisplayUser u{rid, wide(n), wide(f), wide(d)};
            const int32_t need =
                int32_t(2 * (u.name.size() + u.fullName.size() + u.description.size() + 24)) * 2;
            if (room < need)
                break;
            room -= need;
            users.push_back(std::move(u));
        }
        cmRpcPackUint32(out, uint32_t(users.size()));
        rpc::packPointer(out, !users.empty());
        if (!users.empty()) {
            cmRpcPackUint32(out, uint32_t(users.size()));
            uint32_t n = index;
            for (const DisplayUser &u : users) {
                cmRpcPackUint32(out, ++n);
                cmRpcPackUint32(out, uint32_t(u.rid));
                cmRpcPackUint32(out, 0x210);
                packOptionalHeader(out, u.name);
                packOptionalHeader(out, u.description);
                packOptionalHeader(out, u.fullName);
            }
            for (const DisplayUser &u : users) {
                packOptionalBody(out, u.name);
                packOptionalBody(out, u.description);
                packOptionalBody(out, u.fullName);
            }
        }
        const uint32_t written = uint32_t(out->current - start);
        cmRpcPackUint32(&sizes, written);
        cmRpcPackUint32(&sizes, written);
        return 0;
    }
    if (level == 3) {
        if (index > 1) {
            cmRpcPackUint32(out, 0);
            rpc::packPointer(out, false);
            return kInvalidInfoClass;
        }
        std::vector<std::pair<uint32_t, rpc::WText>> groups;
        const uint32_t order[2] = {CM_SD_RID_DOMAIN_USERS, CM_SD_RID_DOMAIN_ADMINS};
        for (uint32_t i = index; i < 2 && groups.size() < count; ++i) {
            rpc::WText name;
            lookupRid(order[i], &name);
            groups.emplace_back(order[i], name);
        }
        cmRpcPackUint32(out, uint32_t(groups.size()));
        rpc::packPointer(out, !groups.empty());
        if (!groups.empty()) {
            cmRpcPackUint32(out, uint32_t(groups.size()));
            uint32_t n = index;
            for (const auto &g : groups) {
                cmRpcPackUint32(out, ++n);
                cmRpcPackUint32(out, g.first);
                cmRpcPackUint32(out, 7);
                packOptionalHeader(out, g.second);
                packOptionalHeader(out, rpc::WText());
            }
            for (const auto &g : groups)
                packOptionalBody(out, g.second);
        }
        cmRpcPackUint32(&sizes, 64);
        cmRpcPackUint32(&sizes, 64);
        return 0;
    }
    cmRpcPackUint32(out, 0);
    rpc::packPointer(out, false);
    return 0;
}

// SamrGetUserDomainPasswordInformation
uint32_t getUserDomainPasswordInformation(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    const Request r(in);
    if (r.overran())
        return 0;
    // The zero policy goes out whatever the handle.
    cmRpcPackUint16(out, 0);
    cmRpcAllignZero(out, 4);
    cmRpcPackUint32(out, 0);
    return r.h.valid() ? 0 : kRefused;
}

// SamrRemoveMemberFromForeignDomain
uint32_t removeMemberFromForeignDomain(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    CMSdDomainSid sid{};
    const Request r(in, [&] { rpc::parseSid(in, &sid); });
    if (auto status = r.stop(out, Empty::kNothing, [&] {
            return localAdministrator(in) && sid.count != 0 &&
                   userExists(int32_t(sid.subauthorities[sid.count - 1]));
        }))
        return *status;
    return 0;
}

// SamrCreateUser2InDomain
uint32_t createUser2(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    Counted name;
    const Request r(in, [&] {
        parseCounted(in, &name);
        cmRpcParseSkip(in, 8);  // account type, access
    });
    const rpc::WText text = rpc::units(name.text);
    int32_t rid = 0;
    rpc::WText key = text;
    key.push_back(0);
    // An existing name is refused; the new user is read back for its RID.
    if (auto status = r.stop(out, Empty::kNewUser, [&] {
            return localAdministrator(in) && plainName(text) && !udGetUserRidByName(key.c_str(), &rid) &&
                   udCreateUser(key.c_str(), key.c_str(), nullptr) && udGetUserRidByName(key.c_str(), &rid);
        }))
        return *status;
    packHandle(out, uint32_t(rid), 0);
    cmRpcPackUint32(out, kGrantedUserAccess);
    cmRpcPackUint32(out, uint32_t(rid));
    return 0;
}

// The server name of a connect: only the access asked for decides.
uint32_t connect(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out, bool five)
{
    CMRpcUnicodeString server;
    rpc::parseStringPointer(in, &server);
    uint32_t revision = 0, access = 0, version = 0, arm = 0, features = 0;
    if (!five)
        cmRpcParseUint32(in, &revision);
    cmRpcParseUint32(in, &access);
    if (five) {
        cmRpcParseUint32(in, &version);
        cmRpcParseUint32(in, &arm);
        cmRpcParseUint32(in, &revision);
        cmRpcParseUint32(in, &features);
    }
    if (cmRpcIsOverrun(in))
        return 0;
    if (five) {
        cmRpcPackUint32(out, 1);
        cmRpcPackUint32(out, 1);
        cmRpcPackUint32(out, 3);
        cmRpcPackUint32(out, 0);
    }
    if ((access & ~kConnectAccess) != 0) {
        packNullHandle(out);
        return kRefused;
    }
    packHandle(out, kMark, 0);
    return 0;
}

uint32_t connect4(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out) { return connect(in, out, false); }
uint32_t connect5(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out) { return connect(in, out, true); }

struct Table {
    CSDcerpcOperation operations[68] = {};
    Table()
    {
        operations[1] = closeHandle;
        operations[2] = setSecurityObject;
        operations[3] = querySecurityObject;
        operations[5] = lookupDomain;
        operations[6] = enumerateDomains;
        operations[7] = openDomain;
        operations[8] = queryInformationDomain;
        operations[15] = enumerateAliases;
        operations[16] = getAliasMembership;
        operations[17] = lookupNames;
        operations[18] = lookupIds;
        operations[19] = openGroup;
        operations[20] = queryInformationGroup;
        operations[27] = openAlias;
        operations[28] = queryInformationAlias;
        operations[31] = addMemberToAlias;
        operations[32] = removeMemberFromAlias;
        operations[33] = getMembersInAlias;
        operations[34] = openUser;
        operations[35] = deleteUser;
        operations[36] = queryInformationUser;
        operations[37] = setInformationUser;
        operations[39] = getGroupsForUser;
        operations[40] = queryDisplayInformation;
        operations[44] = getUserDomainPasswordInformation;
        operations[45] = removeMemberFromForeignDomain;
        operations[48] = queryDisplayInformation;
        operations[50] = createUser2;
        operations[58] = setInformationUser;
        operations[62] = connect4;
        operations[64] = connect5;
    }
};

}  // namespace

extern "C" {

const CSDcerpcInterface *csRpcSamr(void)
{
    static const Table kTable;
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "samr",
        // 12345778-1234-abcd-ef00-0123456789ac
        {0x78, 0x57, 0x34, 0x12, 0x34, 0x12, 0xcd, 0xab, 0xef, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xac},
        1,
        0,
        68,
        kTable.operations,
        nullptr};
    return &kInterface;
}

}  // extern "C"
