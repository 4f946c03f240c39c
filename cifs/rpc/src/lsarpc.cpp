// The local security authority and its directory-services companion on the
// pipe "lsarpc": the machine's role and identity, and translations between
// account names and SIDs of the computer and BUILTIN domains.
#include "csdcerpc.h"
#include "ndr_lsa.h"
#include "ndr_text.h"

#include "cmnetbios.h"
#include "cmsd.h"
#include "syerror.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kInvalidLevel = 0x1C000021u;
constexpr uint32_t kInvalidInfoClass = 0xC0000003u;
constexpr uint32_t kInvalidParameter = 0xC0000032u;  // a lookup level other than 1
constexpr uint32_t kSomeNotMapped = 0x107u;
constexpr uint32_t kNoneMapped = 0xC0000073u;
constexpr int32_t kNoMemoryErrno = 0xFF03F0;
constexpr uint16_t kSidTypeDomain = 3;
constexpr uint16_t kSidTypeUnknown = 8;
constexpr uint32_t kNameUnits = 256;

// The policy-handle counter of LsarOpenPolicy.
uint32_t gPolicyCounter = 1;

int init()
{
    gPolicyCounter = 1;
    return 0;
}

void packHandle(CMRpcPacketDescriptor *out, uint32_t attributes, uint32_t first, uint32_t second)
{
    cmRpcPackUint32(out, attributes);
    cmRpcPackUint32(out, first);
    cmRpcPackUint32(out, second);
    cmRpcPackZeroes(out, 8);
}

uint32_t mapped(uint32_t count, uint32_t found)
{
    return found == count ? 0 : found ? kSomeNotMapped : kNoneMapped;
}

// LsarClose
uint32_t lsaClose(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    cmRpcParseSkip(in, 20);
    if (cmRpcIsOverrun(in))
        return 0;
    cmRpcPackZeroes(out, 20);
    return 0;
}

// LsarOpenPolicy
uint32_t openPolicy(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *out)
{
    packHandle(out, 1, gPolicyCounter++, 0);
    return 0;
}

// LSAPR_OBJECT_ATTRIBUTES: nothing of it is used, but it must be passed
// over to reach the access mask.
void skipObjectAttributes(CMRpcPacketDescriptor *in)
{
    uint32_t length = 0, root = 0, name = 0, attributes = 0, sd = 0, qos = 0;
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &length);
    cmRpcParseUint32(in, &root);
    cmRpcParseUint32(in, &name);
    cmRpcParseUint32(in, &attributes);
    cmRpcParseUint32(in, &sd);
    cmRpcParseUint32(in, &qos);
    if (root)
        cmRpcParseSkip(in, 1);
    if (name) {
        cmRpcAllign(in, 4);
        cmRpcParseSkip(in, 4);
        CMRpcUnicodeString skipped;
        rpc::parseStringPointer(in, &skipped);
    }
    if (sd) {
        // A security descriptor is refused rather than guessed past.
        in->overrun = 1;
        in->current = in->origin + in->length;
    }
    // Quality of service: length, impersonation level (a u16 enum),
    // tracking mode and effective-only bytes.
    if (qos) {
        cmRpcAllign(in, 4);
        cmRpcParseSkip(in, 8);
    }
}

// LsarOpenPolicy2
uint32_t openPolicy2(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    CMRpcUnicodeString server;
    const bool named = rpc::parseStringPointer(in, &server);
    skipObjectAttributes(in);
    uint32_t access = 0;
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &access);
    if (cmRpcIsOverrun(in))
        return 0;
    std::string name = named ? rpc::narrow(server, 1024) : std::string();
    while (!name.empty() && name[0] == '\\')
        name.erase(0, 1);
    if (name.size() > 16)
        name.resize(16);
    packHandle(out, 0, 0, named && name == rpc::hostName() ? 1 : 2);
    return 0;
}

// LsarQueryInformationPolicy
uint32_t queryInformationPolicy(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t attributes = 0, first = 0, second = 0;
    uint16_t level = 0;
    cmRpcParseUint32(in, &attributes);
    cmRpcParseUint32(in, &first);
    cmRpcParseUint32(in, &second);
    cmRpcParseSkip(in, 8);
    cmRpcParseUint16(in, &level);
    if (cmRpcIsOverrun(in))
        return 0;
    if (level != 3 && level != 5) {
        rpc::packPointer(out, false);
        return kInvalidLevel;
    }
    const bool domain = second == 2;
    const rpc::WText name = rpc::widen(domain ? rpc::domainName() : rpc::hostName());
    const CMSdDomainSid *sid = domain ? cmSdGetDomainSid() : cmSdGetComputerSid();
    rpc::packPointer(out);
    cmRpcPackUint16(out, level);
    rpc::packStringHeader(out, name, true);
    rpc::packPointer(out);
    rpc::packStringBody(out, name, true);
    rpc::packSid(out, sid);
    return 0;
}

// A conformant varying string with its zero behind a unique pointer.
void packDsText(CMRpcPacketDescriptor *out, const std::string &text) { rpc::packText(out, text.c_str()); }

// DsRolerGetPrimaryDomainInformation
uint32_t dsRoleGetPrimaryDomainInformation(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t level = 0;
    cmRpcParseUint16(in, &level);
    if (cmRpcIsOverrun(in))
        return 0;
    if (level != 1) {
        rpc::packPointer(out, false);
        return kInvalidInfoClass;
    }
    const char *dns = cmGetFullDomainName();
    const bool hasDns = dns && dns[0] && dns[0] != '<';
    rpc::packPointer(out);
    cmRpcPackUint16(out, level);
    cmRpcAllignZero(out, 4);
    // Standalone server when the domain flag says so, else member server.
    cmRpcPackUint16(out, cmNetBiosGetDomain()->isGroup ? 2 : 3);
    cmRpcAllignZero(out, 4);
    cmRpcPackUint32(out, 0);  // flags
    rpc::packPointer(out);
    rpc::packPointer(out, hasDns);
    rpc::packPointer(out, hasDns);
    cmRpcPackZeroes(out, 16);  // domain GUID
    packDsText(out, rpc::domainName());
    if (hasDns) {
        packDsText(out, dns);
        packDsText(out, dns);
    }
    return 0;
}

// One translated SID of LsarLookupSids2.
struct SidName {
    bool found = false;
    uint16_t type = kSidTypeUnknown;
    rpc::WText name;
    CMSdDomainSid domain{};
};

// The referenced-domain list: host name and SID of each entry.
void packDomainList(CMRpcPacketDescriptor *out, const std::vector<const CMSdDomainSid *> &domains)
{
    const rpc::WText host = rpc::widen(rpc::hostName());
    rpc::packPointer(out);
    cmRpcPackUint32(out, uint32_t(domains.size()));
    rpc::packPointer(out, !domains.empty());
    cmRpcPackUint32(out, uint32_t(domains.size()));  // max entries
    if (domains.empty())
        return;
    cmRpcPackUint32(out, uint32_t(domains.size()));
    for (size_t i = 0; i < domains.size(); ++i) {
        rpc::packStringHeader(out, host);
        rpc::packPointer(out);
    }
    for (const CMSdDomainSid *sid : domains) {
        rpc::packStringBody(out, host);
        rpc::packSid(out, sid);
    }
}

// Reads the entries of a SID enumeration buffer.
bool parseSids(CMRpcPacketDescriptor *in, std::vector<CMSdDomainSid> &sids)
{
    uint32_t count = 0, array = 0;
    cmRpcParseUint32(in, &count);
    cmRpcParseUint32(in, &array);
    if (!array || count == 0)
        return !cmRpcIsOverrun(in);
    uint32_t maximum = 0;
    cmRpcParseUint32(in, &maximum);
    // Each entry takes at least a pointer: a count beyond the stub is not believed.
    if (maximum != count || cmRpcSpace(in) < 0 || count > uint32_t(cmRpcSpace(in)) / 4) {
        in->overrun = 1;
        in->current = in->origin + in->length;
        return false;
    }
    std::vector<uint32_t> present(count);
    for (uint32_t &p : present)
        cmRpcParseUint32(in, &p);
    sids.resize(count);
    for (uint32_t i = 0; i < count && !cmRpcIsOverrun(in); ++i)
        if (present[i])
            rpc::parseSid(in, &sids[i]);
    return !cmRpcIsOverrun(in);
}

bool isLocalDomain(const CMSdDomainSid &sid)
{
    return rpc::sameSid(sid, *cmSdGetComputerSid()) || rpc::sameSid(sid, *cmSdGetLocalDomainAlias());
}

// LsarLookupSids2
uint32_t lookupSids2(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    cmRpcParseSkip(in, 20);
    std::vector<CMSdDomainSid> sids;
    parseSids(in, sids);
    uint32_t names = 0, namesPointer = 0, mappedIn = 0, options = 0, revision = 0;
    uint16_t level = 0;
    cmRpcParseUint32(in, &names);
    cmRpcParseUint32(in, &namesPointer);
    cmRpcParseUint16(in, &level);
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &mappedIn);
    cmRpcParseUint32(in, &options);
    cmRpcParseUint32(in, &revision);
    if (cmRpcIsOverrun(in))
        return 0;
    if (level != 1) {
        cmRpcPackZeroes(out, 16);
        return kInvalidParameter;
    }
    std::vector<SidName> result;
    try {
        result.resize(sids.size());
    } catch (const std::bad_alloc &) {
        sySetLastVxError(kNoMemoryErrno);
        cmRpcPackZeroes(out, 16);
        return sids.empty() ? 0 : kNoneMapped;
    }
    std::vector<const CMSdDomainSid *> domains;
    uint32_t found = 0;
    for (size_t i = 0; i < sids.size(); ++i) {
        const CMSdDomainSid &sid = sids[i];
        SidName &r = result[i];
        if (sid.count == 0)
            continue;
        r.domain = sid;
        r.domain.count = uint8_t(sid.count - 1);
        if (!isLocalDomain(r.domain))
            continue;
        const uint32_t rid = sid.subauthorities[sid.count - 1];
        CMWchar name[kNameUnits] = {}, description[kNameUnits] = {};
        if (!cmSdLookupRid(rid, name, description))
            continue;
        r.found = true;
        r.type = uint16_t(cmSdGetRidType(rid));
        for (uint32_t k = 0; k < kNameUnits && name[k]; ++k)
            r.name.push_back(name[k]);
        ++found;
    }
    for (const SidName &r : result)
        if (r.found)
            domains.push_back(&r.domain);
    packDomainList(out, domains);

    // Translated names
    cmRpcPackUint32(out, uint32_t(result.size()));
    rpc::packPointer(out, !result.empty());
    if (!result.empty()) {
        cmRpcPackUint32(out, uint32_t(result.size()));
        uint32_t index = 0;
        for (const SidName &r : result) {
            const rpc::WText name = r.found && r.type != kSidTypeDomain ? r.name : rpc::WText();
            cmRpcPackUint16(out, r.type);
            cmRpcAllignZero(out, 4);
            cmRpcPackUint16(out, uint16_t(2 * name.size()));
            cmRpcPackUint16(out, uint16_t(2 * name.size()));
            rpc::packPointer(out, !name.empty());
            cmRpcPackUint32(out, r.found ? index++ : 0);
            cmRpcPackUint32(out, 0);  // flags
        }
        for (const SidName &r : result)
            if (r.found && r.type != kSidTypeDomain && !r.name.empty())
                rpc::packStringBody(out, r.name);
    }
    cmRpcPackUint32(out, found);
    return mapped(uint32_t(result.size()), found);
}

// One translated name of the LookupNames calls.
struct NameSid {
    bool found = false;
    uint32_t rid = 0;
    uint16_t type = kSidTypeUnknown;
    bool builtin = false;
};

// "HOST\account" or "account": the account part when the prefix is the
// whole NetBIOS or DNS host name, nothing when it is another one.
bool accountOf(const rpc::WText &name, rpc::WText &account)
{
    const size_t slash = name.find(CMWchar('\\'));
    if (slash == rpc::WText::npos) {
        account = name;
        return true;
    }
    const std::string prefix = rpc::narrow(name.substr(0, slash));
    const char *full = cmGetFullHostName();
    if (prefix != rpc::hostName() && !(full && prefix == full))
        return false;
    account = name.substr(slash + 1);
    return true;
}

uint32_t lookupNames(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out, bool withSids)
{
    cmRpcParseSkip(in, 20);
    uint32_t count = 0;
    cmRpcParseUint32(in, &count);
    std::vector<CMRpcUnicodeString> names;
    rpc::parseStringArray(in, count, names);
    uint32_t sids = 0, sidsPointer = 0, mappedIn = 0, options = 0, revision = 0;
    uint16_t level = 0;
    cmRpcParseUint32(in, &sids);
    cmRpcParseUint32(in, &sidsPointer);
    cmRpcParseUint16(in, &level);
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &mappedIn);
    if (withSids) {
        cmRpcParseUint32(in, &options);
        cmRpcParseUint32(in, &revision);
    }
    if (cmRpcIsOverrun(in))
        return 0;

    std::vector<NameSid> result;
    try {
        result.resize(names.size());
    } catch (const std::bad_alloc &) {
        sySetLastVxError(kNoMemoryErrno);
        cmRpcPackZeroes(out, 16);
        return names.empty() ? 0 : kNoneMapped;
    }
    uint32_t found = 0;
    bool accounts = false;
    for (size_t i = 0; i < names.size(); ++i) {
        rpc::WText account;
        if (!accountOf(rpc::units(names[i]), account) || account.empty())
            continue;
        account.push_back(0);
        uint32_t rid = 0;
        if (!cmSdLookupName(account.c_str(), &rid))
            continue;
        NameSid &r = result[i];
        r.found = true;
        r.rid = rid;
        r.type = uint16_t(cmSdGetRidType(rid));
        r.builtin = r.type == 4;
        accounts = accounts || !r.builtin;
        ++found;
    }
    // BUILTIN first, then the computer's own domain when an account of it maps.
    std::vector<const CMSdDomainSid *> domains{cmSdGetLocalDomainAlias()};
    if (accounts)
        domains.push_back(cmSdGetComputerSid());
    packDomainList(out, domains);

    cmRpcPackUint32(out, uint32_t(result.size()));
    rpc::packPointer(out, !result.empty());
    if (!result.empty()) {
        cmRpcPackUint32(out, uint32_t(result.size()));
        for (const NameSid &r : result) {
            cmRpcPackUint16(out, r.type);
            cmRpcAllignZero(out, 4);
            if (withSids)
                rpc::packPointer(out, r.found);
            else
                cmRpcPackUint32(out, r.found ? r.rid : 0);
            cmRpcPackUint32(out, r.found ? (r.builtin ? 0 : 1) : 0xFFFFFFFFu);
            cmRpcPackUint32(out, 0);  // flags
        }
        if (withSids)
            for (const NameSid &r : result)
                if (r.found)
                    rpc::packSidRid(out, r.builtin ? cmSdGetLocalDomainAlias() : cmSdGetComputerSid(), r.rid);
    }
    cmRpcPackUint32(out, found);
    return mapped(uint32_t(result.size()), found);
}

// LsarLookupNames2
uint32_t lookupNames2(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    return lookupNames(in, out, false);
}

// LsarLookupNames3
uint32_t lookupNames3(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    return lookupNames(in, out, true);
}

CSDcerpcOperation operation(uint32_t opnum)
{
    switch (opnum) {
    case 0:
        return lsaClose;
    case 6:
        return openPolicy;
    case 7:
        return queryInformationPolicy;
    case 44:
        return openPolicy2;
    case 57:
        return lookupSids2;
    case 58:
        return lookupNames2;
    case 68:
        return lookupNames3;
    default:
        return nullptr;
    }
}

struct Table {
    CSDcerpcOperation operations[69];
    Table()
    {
        for (uint32_t i = 0; i < 69; ++i)
            operations[i] = operation(i);
    }
};

const CSDcerpcOperation kDsOperations[1] = {dsRoleGetPrimaryDomainInformation};

}  // namespace

extern "C" {

const CSDcerpcInterface *csRpcLsa(void)
{
    static const Table kTable;
    static const CSDcerpcInterface kInterface = {
        init,
        nullptr,
        nullptr,
        "lsarpc",
        // 12345778-1234-abcd-ef00-0123456789ab
        {0x78, 0x57, 0x34, 0x12, 0x34, 0x12, 0xcd, 0xab, 0xef, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab},
        0,
        0,
        69,
        kTable.operations,
        nullptr};
    return &kInterface;
}

const CSDcerpcInterface *csRpcLsads(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "lsarpc",
        // 3919286a-b10c-11d0-9ba8-00c04fd92ef5
        {0x6a, 0x28, 0x19, 0x39, 0x0c, 0xb1, 0xd0, 0x11, 0x9b, 0xa8, 0x00, 0xc0, 0x4f, 0xd9, 0x2e, 0xf5},
        0,
        0,
        1,
        kDsOperations,
        nullptr};
    return &kInterface;
}

}  // extern "C"
