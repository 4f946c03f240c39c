// SMB2 QUERY_DIRECTORY: the request's frame around the listing that the
// SMB1 finds share.
#include "cssmb2.h"

#include "cmpath.h"
#include "csfind.h"

#include <algorithm>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kNameInvalid = 0xC0000033u;
constexpr uint32_t kAnswerFixed = 8;  // the answer's body before its entries

}  // namespace

extern "C" {

uint32_t csSmb2OnQueryDirectory(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *,
                                CSUser *user, CSTree *tree, CMBufferWriter *writer)
{
    uint8_t infoClass = 0, flags = 0;
    uint16_t fid = 0, nameOffset = 0, nameLength = 0;
    uint32_t index = 0, outputLength = 0;
    cmBufferReadByte(reader, &infoClass);
    cmBufferReadByte(reader, &flags);
    cmBufferReadUint32(reader, &index);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    cmBufferReadUint16(reader, &nameOffset);
    cmBufferReadUint16(reader, &nameLength);
    cmBufferReadUint32(reader, &outputLength);
    // The pattern follows the fixed part, inside the message.
    if (cmBufferReaderIsOverrun(reader) || nameLength == 0 ||
        nameLength > cmBufferReaderGetRemaining(reader) || !tree || !user)
        return kInvalidParameter;
    const uint32_t units = nameLength / 2u;
    if (units >= CM_PATH_BUFFER)
        return kNameInvalid;
    CMWchar pattern[CM_PATH_BUFFER];
    for (uint32_t i = 0; i < units; ++i)
        cmBufferReadUint16(reader, &pattern[i]);
    cs2ParseFid(&fid);
    CSFile *file = csGetFileByFid(fid, tree->tid, user->uid);

    const uint32_t room = cmBufferWriterGetRemaining(writer);
    if (room < kAnswerFixed)
        return 0xC0000023u;
    uint8_t *entries = cmBufferWriterGetPosition(writer) + kAnswerFixed;
    const uint32_t limit = std::min(outputLength, room - kAnswerFixed);
    uint32_t length = 0;
    if (uint32_t status = csQueryDirectoryEntries(file, tree->tid, user->uid, infoClass, flags, pattern,
                                                  units, entries, limit, &length))
        return status;
    cmBufferWriteUint16(writer, 9);
    cmBufferWriteUint16(writer, CM_SMB2_HEADER_SIZE + kAnswerFixed);
    cmBufferWriteUint32(writer, length);
    cmBufferWriterSkip(writer, length);
    return 0;
}

}  // extern "C"
