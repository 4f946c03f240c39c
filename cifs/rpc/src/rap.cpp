// The LAN Manager remote API on "\PIPE\LANMAN": four APIs, each served only
// with its exact descriptors; fixed parts first, then the strings their
// pointers name, every item written only after its room was tested.
#include "ndr_text.h"

#include "csauth.h"
#include "csbrowse.h"
#include "csdb.h"
#include "csdcerpc.h"
#include "csshares.h"
#include "cstrans.h"
#include "cmstring.h"
#include "cmnetbios.h"
#include "udhooks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kOk = 0;
constexpr uint16_t kMoreData = 234;
constexpr uint16_t kShareNotFound = 2141;
constexpr uint32_t kNameBytes = 13;

struct Request {
    const CSUser *user;
    CMRpcPacketDescriptor *params;  // after the two descriptors
    uint8_t *parameters;            // the handler's response parameters
    uint8_t *dataStart;
    uint8_t *data;  // moves as items are written
    uint32_t room;
};

struct RapApi;
using Handler = uint16_t (*)(const RapApi &row, Request &r);

struct RapApi {
    uint32_t api;
    uint32_t reserved;
    const char *parameterDescriptor;
    const char *dataDescriptor;
    Handler handler;
    uint32_t level;
};

// One request parameter by its descriptor letter; the cursor moves past it.
// Strings point into the request and end within it.
uint32_t rapWalkDescriptor(const char **descriptor, CMRpcPacketDescriptor *params,
                           const char **text = nullptr)
{
    const char letter = char(std::toupper(uint8_t(**descriptor)));
    if (letter == 0)
        return 0;
    ++*descriptor;
    uint32_t value = 0;
    switch (letter) {
    case 'B': {
        uint8_t b = 0;
        cmRpcParseByte(params, &b);
        value = b;
        break;
    }
    case 'D':
        cmRpcParseUint32(params, &value);
        break;
    case 'W':
    case 'L':
    case 'T': {
        uint16_t w = 0;
        cmRpcParseUint16(params, &w);
        value = w;
        break;
    }
    case 'Z': {
        CMRpcAsciiString s;
        cmRpcParseAscii(params, &s, 0);
        cmRpcParseSkip(params, 1);
        if (text)
            *text = cmRpcIsOverrun(params) ? "" : s.text;
        break;
    }
    default:
        break;
    }
    // A count after the letter goes over as many bytes more.
    if (std::isdigit(uint8_t(**descriptor))) {
        uint32_t n = 0;
        while (std::isdigit(uint8_t(**descriptor)))
            n = n * 10 + uint32_t(*(*descriptor)++ - '0');
        cmRpcParseSkip(params, n);
    }
    return value;
}

std::string narrow(const CMWchar *text)
{
    std::string out;
    for (; text && *text; ++text)
        out.push_back(*text < 0x100 ? char(*text) : '?');
    return out;
}

uint32_t available(const Request &r, uint32_t bufferLength) { return std::min(r.room, bufferLength); }

// A string pointer of the data block: its offset from the block's start,
// with base and converter 0.
uint32_t pointer(const Request &r, const uint8_t *at) { return uint32_t(at - r.dataStart); }

void putParameter(Request &r, const char *letter, uint32_t value)
{
    uint8_t *p = r.parameters;
    writeResponseParameter(&letter, &p, value);
    r.parameters = p;
}

void putData(Request &r, const char **descriptor, uintptr_t value)
{
    uint8_t *p = r.data;
    writeResponseData(descriptor, &p, value);
    r.data = p;
}

// Strings go after the fixed parts: each copied with its zero.
uint8_t *putString(uint8_t *&strings, const std::string &s)
{
    uint8_t *at = strings;
    std::memcpy(at, s.c_str(), s.size() + 1);
    strings += s.size() + 1;
    return at;
}

// What every handler's parameters end with: the level (the row already
// holds it), the receive buffer (nothing) and the receive buffer's length,
// which is returned.
uint32_t readBufferLength(Request &r)
{
    const char *d = "WrL";
    rapWalkDescriptor(&d, r.params);
    rapWalkDescriptor(&d, r.params);
    return rapWalkDescriptor(&d, r.params);
}

// The bytes needed go into the parameters whether or not they fit.
bool announceNeed(Request &r, uint32_t need, uint32_t bufferLength)
{
    putParameter(r, "h", need);
    return need <= available(r, bufferLength);
}

// A share's name in its 13-byte field, cut to 12 characters and a zero.
void fixedName(char (&field)[kNameBytes], const std::string &name)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, name.c_str(), std::min<size_t>(name.size(), kNameBytes - 1));
}

uint16_t ipcOrDiskType(const CSShare *s)
{
    if (s->isIpc)
        return 3;
    if (s->isPrinter)
        return 1;
    return 0;
}

// NetShareEnum, level 1: 20-byte entries, then the remarks.
uint16_t netShareEnum(const RapApi &, Request &r)
{
    const uint32_t bufferLength = readBufferLength(r);
    const CSShare *listable[CS_MAX_SHARES];
    std::string remarks[CS_MAX_SHARES];
    uint32_t count = 0;
    for (uint32_t i = 0; const CSShare *s = csGetShareByIndex(i); ++i)
        if (cmWStrlen(s->name) < kNameBytes && csAuthShareIsAccessible(r.user, s->isPrinter) &&
            count < CS_MAX_SHARES) {
            remarks[count] = s->isIpc ? std::string() : narrow(s->comment);
            listable[count++] = s;
        }
    const uint32_t limit = available(r, bufferLength);
    uint32_t fit = 0, used = 0;
    for (; fit < count; ++fit) {
        const uint32_t need = 20 + uint32_t(remarks[fit].size()) + 1;
        if (used + need > limit)
            break;
        used += need;
    }
    uint8_t *strings = r.data + 20 * fit;
    for (uint32_t i = 0; i < fit; ++i) {
        char name[kNameBytes];
        fixedName(name, narrow(listable[i]->name));
        const uint8_t pad = 0;
        const char *desc = "B13BWz";
        putData(r, &desc, reinterpret_cast<uintptr_t>(name));
        putData(r, &desc, reinterpret_cast<uintptr_t>(&pad));
        putData(r, &desc, ipcOrDiskType(listable[i]));
        putData(r, &desc, pointer(r, putString(strings, remarks[i])));
    }
    r.data = strings;
    putParameter(r, "h", fit);
    // Available: every share of the table, listable or not; the status
    // alone says whether a listable one was left out.
    putParameter(r, "h", csGetSharesCount());
    return fit == count ? kOk : kMoreData;
}

// NetShareGetInfo, levels 0, 1 and 2.
uint16_t netShareGetInfo(const RapApi &row, Request &r)
{
    const char *d = "z";
    const char *shareName = "";
    rapWalkDescriptor(&d, r.params, &shareName);
    const uint32_t bufferLength = readBufferLength(r);
    CMWchar wide[CS_SHARE_NAME_MAX + 1];
    const size_t n = std::strlen(shareName);
    const CSShare *s = nullptr;
    if (n <= CS_SHARE_NAME_MAX) {
        for (size_t i = 0; i <= n; ++i)
            wide[i] = uint8_t(shareName[i]);
        s = csGetShareByName(wide);
    }
    if (!s) {
        putParameter(r, "h", 0);
        return kShareNotFound;
    }
    const std::string name = narrow(s->name), path = narrow(s->path);
    const bool special = name == "IPC$" || name == "ADMIN$";
    const std::string remark = narrow(s->comment);
    // What the layout below writes, fixed part and strings.
    uint32_t need = kNameBytes;
    if (row.level >= 1)
        need = 20 + (special ? 0 : uint32_t(remark.size()) + 1);
    if (row.level == 2)
        need += 20 + uint32_t(path.size()) + 1;
    if (!announceNeed(r, need, bufferLength))
        return kMoreData;

    char field[kNameBytes];
    fixedName(field, name);
    const char *desc = row.dataDescriptor;
    putData(r, &desc, reinterpret_cast<uintptr_t>(field));
    if (row.level == 0)
        return kOk;
    uint8_t *strings = r.dataStart + (row.level == 1 ? 20 : 40);
    const uint8_t pad = 0;
    putData(r, &desc, reinterpret_cast<uintptr_t>(&pad));
    putData(r, &desc, special ? 3 : 0);
    putData(r, &desc, special ? 0 : pointer(r, putString(strings, remark)));
    if (row.level == 2) {
        putData(r, &desc, 63);  // permissions
        putData(r, &desc, 50);  // max uses
        putData(r, &desc, csGetNumberOfShareUsers(s));
        putData(r, &desc, pointer(r, putString(strings, path)));
        const uint8_t password[10] = {};
        putData(r, &desc, reinterpret_cast<uintptr_t>(password));
        putData(r, &desc, reinterpret_cast<uintptr_t>(password));
    }
    r.data = strings;
    return kOk;
}

// NetServerGetInfo, levels 0 and 1.
uint16_t netServerGetInfo(const RapApi &row, Request &r)
{
    const uint32_t bufferLength = readBufferLength(r);
    CMWchar wide[256] = {0};
    udGetServerComment(wide);
    const std::string comment = narrow(wide);
    const uint32_t need = row.level == 0 ? 16 : 26 + uint32_t(comment.size()) + 1;
    if (!announceNeed(r, need, bufferLength))
        return kMoreData;
    uint8_t name[16] = {};
    std::memcpy(name, cmNetBiosGetHostNameZeroed(), 15);
    const char *desc = row.dataDescriptor;
    putData(r, &desc, reinterpret_cast<uintptr_t>(name));
    if (row.level == 0)
        return kOk;
    const uint8_t major = 2, minor = 0;
    uint8_t *strings = r.dataStart + 26;
    putData(r, &desc, reinterpret_cast<uintptr_t>(&major));
    putData(r, &desc, reinterpret_cast<uintptr_t>(&minor));
    putData(r, &desc, csGetHostType());
    putData(r, &desc, pointer(r, putString(strings, comment)));
    r.data = strings;
    return kOk;
}

// NetWkstaGetInfo, level 10.
uint16_t netWkstaGetInfo(const RapApi &row, Request &r)
{
    const uint32_t bufferLength = readBufferLength(r);
    const std::string host = rpc::hostName(), domain = rpc::domainName();
    // The strings start at offset 24: host, user, group, domain, others.
    constexpr uint32_t kStrings = 24;
    const uint32_t need = kStrings + uint32_t(host.size()) + 1 + 1 + 2 * (uint32_t(domain.size()) + 1) + 1;
    if (!announceNeed(r, need, bufferLength))
        return kMoreData;
    uint8_t *strings = r.dataStart + kStrings;
    const uint32_t hostAt = pointer(r, putString(strings, host));
    const uint32_t userAt = pointer(r, putString(strings, ""));
    const uint32_t groupAt = pointer(r, putString(strings, domain));
    const uint32_t logonAt = pointer(r, putString(strings, domain));
    const uint32_t othersAt = pointer(r, putString(strings, ""));
    const uint8_t major = 2, minor = 0;
    const char *desc = row.dataDescriptor;
    putData(r, &desc, hostAt);
    putData(r, &desc, userAt);
    putData(r, &desc, groupAt);
    putData(r, &desc, reinterpret_cast<uintptr_t>(&major));
    putData(r, &desc, reinterpret_cast<uintptr_t>(&minor));
    putData(r, &desc, logonAt);
    putData(r, &desc, othersAt);
    std::memset(r.data, 0, kStrings - (r.data - r.dataStart));
    r.data = strings;
    return kOk;
}

const RapApi rapApis[] = {
    {0, 0, "WrLeh", "B13BWz", netShareEnum, 1},      {13, 1, "WrLh", "B16", netServerGetInfo, 0},
    {13, 1, "WrLh", "B16BBDz", netServerGetInfo, 1}, {1, 0, "zWrLh", "B13", netShareGetInfo, 0},
    {1, 0, "zWrLh", "B13BWz", netShareGetInfo, 1},   {1, 0, "zWrLh", "B13BWzWWWzB9B", netShareGetInfo, 2},
    {63, 1, "WrLh", "zzzBBzz", netWkstaGetInfo, 10},
};

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

extern "C" uint32_t csRapApiEntry(CSTransaction *t)
{
    const uint32_t badPipe = csErrorReturn(0xC00000ADu, (230u << 16) | 1u);
    if (!t || !t->header || !t->response || !t->byteCount || (!t->parameters && t->parameterCount))
        return badPipe;
    CMRpcPacketDescriptor params;
    cmRpcSetDescriptor(&params, const_cast<uint8_t *>(t->parameters), 0);
    params.length = t->parameters ? t->parameterCount : 0;
    uint16_t api = 0;
    cmRpcParseUint16(&params, &api);
    CMRpcAsciiString pd, dd;
    cmRpcParseAscii(&params, &pd, 0);
    cmRpcParseSkip(&params, 1);
    cmRpcParseAscii(&params, &dd, 0);
    cmRpcParseSkip(&params, 1);
    if (cmRpcIsOverrun(&params))
        return badPipe;
    const RapApi *row = nullptr;
    for (const RapApi &a : rapApis)
        if (a.api == api && std::strcmp(a.parameterDescriptor, pd.text) == 0 &&
            std::strcmp(a.dataDescriptor, dd.text) == 0) {
            row = &a;
            break;
        }
    if (!row)
        return badPipe;
    const CSUser *user = csGetUserByUid(get16(t->header + 28));
    if (!user)
        return csErrorReturn(0xC000000Du, (91u << 16) | 2u);

    // Byte count, a pad byte, the parameters from an even offset, then the
    // data from the next multiple of 4 after room for the largest
    // parameters an API answers.
    uint8_t *p = t->byteCount + 2;
    *p++ = 0;
    if ((p - t->response) & 1)
        *p++ = 0;
    uint8_t *const end = t->response + CS_TRANS_RESPONSE_SIZE;
    uint8_t *data = p + 4 + 4;
    while ((data - t->response) & 3)
        ++data;
    std::memset(p, 0, size_t(data - p));
    Request r{user, &params, p + 4, data, data, std::min<uint32_t>(uint32_t(end - data), t->maxDataCount)};
    const uint16_t status = row->handler(*row, r);
    // Arguments cut short answer as if the API were not there.
    if (cmRpcIsOverrun(&params))
        return badPipe;
    put16(p, status);
    put16(p + 2, 0);  // converter: pointers are offsets from the data block
    t->setupCountOut = 0;
    t->parametersOut = p;
    t->parameterCountOut = uint32_t(r.parameters - p);
    t->dataOut = data;
    t->dataCountOut = status == kOk || status == kMoreData ? uint32_t(r.data - data) : 0;
    if (status == kMoreData && row->handler != netShareEnum)
        t->dataCountOut = 0;
    put16(t->byteCount, uint16_t(data + t->dataCountOut - (t->byteCount + 2)));
    return 0;
}
