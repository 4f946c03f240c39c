// Internal: what the server service's operations share: the caller, the
// statuses, and the containers of its enumerations.
#pragma once
#include "csdcerpc.h"
#include "ndr_text.h"

#include "cmsd.h"
#include "csdb.h"

namespace srvsvc {

// Statuses.
constexpr uint32_t kOk = 0;
constexpr uint32_t kNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kNoMemory = 8;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kNoRoom = 122;
constexpr uint32_t kInvalidLevel = 124;
constexpr uint32_t kDuplicateShare = 2118;
constexpr uint32_t kNetNameNotFound = 2310;
constexpr uint32_t kClientNameNotFound = 2312;
constexpr uint32_t kUnknownLevel = 0x1C000021u;
constexpr uint32_t kCannotRemove = 0x1C000024u;

inline const CMSdAccessToken *token(const CMRpcPacketDescriptor *in)
{
    return static_cast<const CMSdAccessToken *>(in->token);
}
inline CSUser *caller(const CMRpcPacketDescriptor *in) { return static_cast<CSUser *>(in->user); }

// (A): an administrator of the user list, whose RID the token keeps negative.
inline bool isListAdministrator(const CMRpcPacketDescriptor *in)
{
    const CMSdAccessToken *t = token(in);
    return t && t->ridCount > 0 && int32_t(t->rids[0]) < 0;
}
// (B): an administrator by any of the token's marks.
inline bool isAdministrator(const CMRpcPacketDescriptor *in)
{
    const CMSdAccessToken *t = token(in);
    return t && cmSdIsAdministrator(t);
}

// The server name every operation starts with; ignored.
inline void skipServerName(CMRpcPacketDescriptor *in)
{
    CMRpcUnicodeString server;
    rpc::parseStringPointer(in, &server);
}

// A user of any connection by uid.
CSUser *userByUid(uint16_t uid);

// An enumeration's answer: level twice, the container with its count and
// array (counts filled when the entries are known), total and resume handle.
class Container {
public:
    Container(CMRpcPacketDescriptor *out, uint32_t level);
    // Before the entries: count, array pointer and the array's size.
    void open();
    // After them.
    void close(uint32_t count);
    // An empty container, for refusals.
    void empty();

private:
    CMRpcPacketDescriptor *out_;
    CMRpcPacketDescriptor count_{}, size_{};
};

uint32_t netrShareAdd(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrShareEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrShareGetInfo(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrShareSetInfo(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrShareDel(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrConnectionEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrFileEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrFileClose(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrSessionEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t netrSessionDel(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);

}  // namespace srvsvc
