// The workstation service: the computer's name, its workgroup and its one
// transport; and the server type bits the server's answers report.
#include "csdcerpc.h"
#include "csbrowse.h"
#include "ndr_text.h"

#include "cmnetbios.h"

namespace {

constexpr uint32_t kPlatformNt = 500;
constexpr uint32_t kInvalidLevel = 0x1C000021u;
constexpr uint32_t kNoRoom = 122;
constexpr uint32_t kLeastRoom = 56;

void readServerAndLevel(CMRpcPacketDescriptor *in, uint32_t *level)
{
    CMRpcUnicodeString server;
    rpc::parseStringPointer(in, &server);
    cmRpcParseUint32(in, level);
}

// NetrWkstaGetInfo
uint32_t wkstaGetInfo(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t level = 0;
    readServerAndLevel(in, &level);
    if (cmRpcIsOverrun(in))
        return 0;
    if (cmRpcSpace(out) < int32_t(kLeastRoom))
        return kNoRoom;
    cmRpcPackUint32(out, level);
    if (level != 100 && level != 101 && level != 102) {
        rpc::packPointer(out, false);
        return kInvalidLevel;
    }
    const std::string host = rpc::hostName(), domain = rpc::domainName();
    rpc::packPointer(out);
    cmRpcPackUint32(out, kPlatformNt);
    rpc::packPointer(out);  // computer name
    rpc::packPointer(out);  // LAN group
    cmRpcPackUint32(out, 2);
    cmRpcPackUint32(out, 0);
    if (level >= 101)
        rpc::packPointer(out);  // LAN root
    if (level == 102)
        cmRpcPackUint32(out, 0);  // logged-on users
    rpc::packText(out, host.c_str());
    rpc::packText(out, domain.c_str());
    if (level >= 101)
        rpc::packText(out, "");
    return cmRpcIsOverrun(out) ? kNoRoom : 0;
}

// NetrWkstaTransportEnum
uint32_t wkstaTransportEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t level = 0;
    readServerAndLevel(in, &level);
    if (cmRpcIsOverrun(in))
        return 0;
    if (cmRpcSpace(out) < int32_t(kLeastRoom))
        return kNoRoom;
    cmRpcPackUint32(out, level);
    cmRpcPackUint32(out, level);
    rpc::packPointer(out);
    if (level != 0) {
        cmRpcPackUint32(out, 1);
        rpc::packPointer(out, false);
        cmRpcPackUint32(out, 0);
        rpc::packPointer(out, false);
        return kInvalidLevel;
    }
    // One transport.
    cmRpcPackUint32(out, 1);
    rpc::packPointer(out);
    cmRpcPackUint32(out, 1);
    cmRpcPackUint32(out, 65535);  // quality of service
    cmRpcPackUint32(out, 0);      // virtual circuits
    rpc::packPointer(out);
    rpc::packPointer(out);
    cmRpcPackUint32(out, 1024);  // wan_ish
    rpc::packText(out, "\\Device\\NetbiosSmb");
    rpc::packText(out, "000000000000");
    cmRpcPackUint32(out, 1);  // total
    rpc::packPointer(out);    // resume handle
    cmRpcPackUint32(out, 0);
    return cmRpcIsOverrun(out) ? kNoRoom : 0;
}

const CSDcerpcOperation kOperations[31] = {
    wkstaGetInfo, nullptr, nullptr, nullptr, nullptr, wkstaTransportEnum,
};

}  // namespace

extern "C" {

const CSDcerpcInterface *csRpcWkssvc(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "wkssvc",
        // 6bffd098-a112-3610-9833-46c3f87e345a
        {0x98, 0xd0, 0xff, 0x6b, 0x12, 0xa1, 0x10, 0x36, 0x98, 0x33, 0x46, 0xc3, 0xf8, 0x7e, 0x34, 0x5a},
        1,
        0,
        31,
        kOperations,
        nullptr};
    return &kInterface;
}

uint32_t csGetHostType(void) { return cmNetBiosGetDomain()->isGroup != 0 ? 0x8202 : 0x8302; }

}  // extern "C"
