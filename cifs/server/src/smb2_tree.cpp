// SMB2 TREE_CONNECT and TREE_DISCONNECT.
#include "cssmb2.h"

#include "cmpath.h"
#include "cmsd.h"
#include "cspaths.h"
#include "csshares.h"
#include "udhooks.h"

#include <array>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kBadNetworkName = 0xC00000CCu;
constexpr uint32_t kAccessViolation = 0xC0000005u;
constexpr uint32_t kAccessDenied = 0xC0000022u;
constexpr uint32_t kUnsuccessful = 0xC0000001u;
constexpr uint8_t kDisk = 1, kPipe = 2, kPrint = 3;
constexpr uint32_t kShareEncryptData = 0x8000;

}  // namespace

extern "C" {

uint32_t csSmb2OnTreeConnect(CMSmb2Header *, CMSmb2Header *response, CMBufferReader *reader,
                             CSSession *session, CSUser *user, CSTree *, CMBufferWriter *writer)
{
    uint16_t pathOffset = 0, pathLength = 0;
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint16(reader, &pathOffset);
    cmBufferReadUint16(reader, &pathLength);
    // The path lies behind the fixed part, inside the message and the buffer.
    std::array<CMWchar, CM_PATH_BUFFER> path{};
    const uint32_t units = pathLength / 2u;
    if (cmBufferReaderIsOverrun(reader) || pathLength > cmBufferReaderGetRemaining(reader) ||
        units >= path.size())
        return kInvalidParameter;
    for (uint32_t i = 0; i < units; ++i)
        cmBufferReadUint16(reader, &path[i]);
    path[units] = 0;

    const CMWchar *name = path.data();
    for (uint32_t i = 0; i < units; ++i)
        if (path[i] == '\\')
            name = path.data() + i + 1;
    CSShare *share = csGetShareByName(name);
    if (!share || !user)
        return kBadNetworkName;

    if (share->sd.length == 0)
        csLoadShareSecurityDescriptor(share);
    if (share->sd.length != 0 && (user->anonymous || !cmSdHasAccess(&user->token, &share->sd, 1)))
        return kAccessViolation;
    if (!csCheckShareMapping(share))
        return kBadNetworkName;
    if (share->encryptionRequired && session->dialect < CS_DIALECT_SMB30)
        return kAccessDenied;

    CSTree *tree = csGetNewTree(user);
    if (!tree)
        return kUnsuccessful;
    tree->share = share;
    if (!share->isIpc)
        udServerShareConnect(share->name);

    uint8_t type = share->isIpc ? kPipe : share->isPrinter ? kPrint : kDisk;
    uint32_t flags = (share->isIpc || share->isPrinter) ? 0x30 : 0;
    if (!share->isIpc && share->encryptionRequired && session->dialect >= CS_DIALECT_SMB30)
        flags |= kShareEncryptData;
    response->tid = tree->tid;
    cmBufferWriteUint16(writer, 16);
    cmBufferWriteByte(writer, type);
    cmBufferWriteByte(writer, 0);
    cmBufferWriteUint32(writer, flags);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint32(writer, CS_MAXIMAL_ACCESS);
    return 0;
}

uint32_t csSmb2OnTreeDisconnect(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *,
                                CSTree *tree, CMBufferWriter *writer)
{
    cmBufferReaderSkip(reader, 2);
    if (tree)
        csReleaseTree(tree->tid, 1);
    cmBufferWriteUint16(writer, 4);
    cmBufferWriteUint16(writer, 0);
    return 0;
}

}  // extern "C"
