// The server service: its operation table, the server's identity and the
// name check; the shares and the sessions have files of their own.
#include "srvsvc.h"

#include "csshares.h"
#include "csbrowse.h"
#include "udhooks.h"

#include <new>

using namespace srvsvc;

namespace srvsvc {

CSUser *userByUid(uint16_t uid)
{
    for (uint32_t i = 0; CSUser *u = csGetUserByIndex(i); ++i)
        if (u->uid == uid)
            return u;
    return nullptr;
}

Container::Container(CMRpcPacketDescriptor *out, uint32_t level) : out_(out)
{
    cmRpcPackUint32(out, level);
    cmRpcPackUint32(out, level);
    rpc::packPointer(out);
}

void Container::open()
{
    cmRpcCloneDescriptor(out_, &count_);
    cmRpcPackUint32(out_, 0);
    rpc::packPointer(out_);
    cmRpcCloneDescriptor(out_, &size_);
    cmRpcPackUint32(out_, 0);
}

void Container::close(uint32_t count)
{
    // Come back to the counts; only places already written are touched.
    cmRpcPackUint32(&count_, count);
    cmRpcPackUint32(&size_, count);
    cmRpcPackUint32(out_, count);  // total
    rpc::packPointer(out_);        // resume handle
    cmRpcPackUint32(out_, 0);
}

void Container::empty()
{
    cmRpcPackUint32(out_, 0);
    rpc::packPointer(out_, false);
    cmRpcPackUint32(out_, 0);
    rpc::packPointer(out_, false);
}

}  // namespace srvsvc

namespace {

constexpr uint32_t kPlatformNt = 500;
constexpr int32_t kServerInfoRoom = 200;
constexpr uint32_t kShareNameType = 9;

// NetrServerGetInfo
uint32_t netrServerGetInfo(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    skipServerName(in);
    uint32_t level = 0;
    cmRpcParseUint32(in, &level);
    if (cmRpcIsOverrun(in))
        return kOk;
    if (cmRpcSpace(out) < kServerInfoRoom)
        return kNoRoom;
    cmRpcPackUint32(out, level);
    if (level != 100 && level != 101 && level != 102) {
        rpc::packPointer(out, false);
        return kUnknownLevel;
    }
    rpc::packPointer(out);
    cmRpcPackUint32(out, kPlatformNt);
    rpc::packPointer(out);
    if (level >= 101) {
        cmRpcPackUint32(out, 2);
        cmRpcPackUint32(out, 0);
        cmRpcPackUint32(out, csGetHostType());
        rpc::packPointer(out);
    }
    if (level == 102) {
        cmRpcPackUint32(out, csGetUsersCount());
        for (int i = 0; i < 5; ++i)
            cmRpcPackUint32(out, 0);  // disc, hidden, announce, anndelta, licenses
        rpc::packPointer(out);
    }
    rpc::packText(out, rpc::hostName().c_str());
    if (level >= 101) {
        CMWchar comment[256] = {0};
        udGetServerComment(comment);
        rpc::packText(out, comment);
    }
    if (level == 102)
        rpc::packText(out, "");
    return cmRpcIsOverrun(out) ? kNoRoom : kOk;
}

// NetprNameValidate: only the type is looked at.
uint32_t netprNameValidate(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    skipServerName(in);
    CMRpcUnicodeString name;
    cmRpcParseUnicode(in, &name, CM_RP_SIZE32 | CM_RP_FRAGMENT32);
    cmRpcAllign(in, 4);
    uint32_t type = 0, flags = 0;
    cmRpcParseUint32(in, &type);
    cmRpcParseUint32(in, &flags);
    return type == kShareNameType ? kOk : kUnknownLevel;
}

uint32_t sizeCheck(uint16_t opnum) { return opnum == 15 || opnum == 36 ? csGetSharesCount() * 854 + 20 : 0; }

CSDcerpcOperation operations[54];

const CSDcerpcOperation *table()
{
    static const bool filled = [] {
        operations[8] = netrConnectionEnum;
        operations[9] = netrFileEnum;
        operations[11] = netrFileClose;
        operations[12] = netrSessionEnum;
        operations[13] = netrSessionDel;
        operations[14] = netrShareAdd;
        operations[15] = netrShareEnum;
        operations[16] = netrShareGetInfo;
        operations[17] = netrShareSetInfo;
        operations[18] = netrShareDel;
        operations[21] = netrServerGetInfo;
        operations[33] = netprNameValidate;
        operations[36] = netrShareEnum;
        return true;
    }();
    (void)filled;
    return operations;
}

}  // namespace

extern "C" const CSDcerpcInterface *csRpcSrvsvc(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "srvsvc",
        // 4b324fc8-1670-01d3-1278-5a47bf6ee188
        {0xc8, 0x4f, 0x32, 0x4b, 0x70, 0x16, 0xd3, 0x01, 0x12, 0x78, 0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88},
        3,
        0,
        54,
        table(),
        sizeCheck};
    return &kInterface;
}
