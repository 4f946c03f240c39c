// The create-context and control-code rows of SMB2 CREATE and IOCTL, the
// bounded walk over a CREATE's contexts and the packing of their answers.
#include "cs2tables.h"
#include "csdb.h"

#include <cstring>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
// Next, NameOffset, NameLength, Reserved, DataOffset, DataLength.
constexpr uint32_t kContextHeader = 16;

const CS2ContextRow kContexts[CS2_CONTEXT_ROWS] = {
    {{'M', 'x', 'A', 'c'}, CS2_CONTEXT_MXAC, csSmb2ParseMxAc, csSmb2PackMxAc},
    {{'S', 'e', 'c', 'D'}, CS2_CONTEXT_SECD, csSmb2ParseSecD, nullptr},
    {{'D', 'H', 'n', 'Q'}, CS2_CONTEXT_DHNQ, csSmb2ParseDHnQ, nullptr},
    {{'D', 'H', 'n', 'C'}, CS2_CONTEXT_DHNC, csSmb2ParseDHnC, nullptr},
    {{'A', 'L', 'S', 'i'}, CS2_CONTEXT_ALSI, csSmb2ParseALSi, nullptr},
};

const CS2IoctlRow kIoctls[CS2_IOCTL_ROWS] = {
    {0x00060194u, 0, nullptr},                                    // DFS referrals
    {0x0011400Cu, CS2_IOCTL_NEEDS_FILE, nullptr},                 // pipe peek
    {0x0011C017u, CS2_IOCTL_NEEDS_FILE, cs2FsctlPipeTransceive},  // pipe transceive
    {0x001440F2u, 0, nullptr},                                    // server copy chunk
    {0x00144064u, 0, nullptr},                                    // enumerate snapshots
    {0x00140078u, 0, nullptr},                                    // request resume key
    {0x000900C0u, CS2_IOCTL_NEEDS_FILE, csSmb2IoctlObjectId},     // create or get object id
    {0x00140204u, CS2_IOCTL_SESSION, cs2FsctlValidateNegotiate},  // validate negotiate info
};

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

uint32_t roundUp8(uint32_t n) { return (n + 7u) & ~7u; }

}  // namespace

extern "C" {

int csSmb2ParseMxAc(CMBufferReader *, uint32_t, CS2CreateContextState *) { return 1; }

uint32_t csSmb2PackMxAc(CMBufferWriter *writer)
{
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint32(writer, CS_MAXIMAL_ACCESS);
    return 8;
}

int csSmb2ParseSecD(CMBufferReader *reader, uint32_t length, CS2CreateContextState *state)
{
    state->securityDescriptor = cmBufferReaderGetPosition(reader);
    state->securityDescriptorLength = length;
    return 1;
}

// Durable handles are not granted: the request is taken, nothing is kept.
int csSmb2ParseDHnQ(CMBufferReader *, uint32_t, CS2CreateContextState *) { return 1; }

// A reconnect names a handle this server never keeps: refused.
int csSmb2ParseDHnC(CMBufferReader *reader, uint32_t, CS2CreateContextState *state)
{
    state->reconnect = cmBufferReaderGetPosition(reader);
    return 0;
}

int csSmb2ParseALSi(CMBufferReader *reader, uint32_t length, CS2CreateContextState *state)
{
    if (length < 8)
        return 0;
    cmBufferReadUint64(reader, &state->allocationSize);
    return cmBufferReaderIsOverrun(reader) ? 0 : 1;
}

const CS2ContextRow *cs2CreateContextRow(uint32_t index)
{
    return index < CS2_CONTEXT_ROWS ? &kContexts[index] : nullptr;
}

const CS2ContextRow *cs2FindCreateContext(const uint8_t *name, uint32_t length)
{
    if (!name || length != 4)
        return nullptr;
    for (const CS2ContextRow &row : kContexts)
        if (std::memcmp(row.tag, name, 4) == 0)
            return &row;
    return nullptr;
}

uint32_t cs2ParseCreateContexts(const uint8_t *message, uint32_t messageLength, uint32_t offset,
                                uint32_t length, CS2CreateContextState *state, int *allAccepted)
{
    *state = CS2CreateContextState{};
    *allAccepted = 1;
    if (length == 0)
        return 0;
    if (!message || offset > messageLength || length > messageLength - offset)
        return kInvalidParameter;
    const uint8_t *chain = message + offset;
    uint32_t at = 0;
    for (;;) {
        // Each context lies whole in the chain, and its name and data in it.
        if (length - at < kContextHeader)
            return kInvalidParameter;
        const uint8_t *c = chain + at;
        uint32_t room = length - at;
        uint32_t next = le32(c);
        uint32_t nameOffset = le16(c + 4), nameLength = le16(c + 6);
        uint32_t dataOffset = le16(c + 10), dataLength = le32(c + 12);
        uint32_t size = next ? next : room;
        if (next && (next < kContextHeader || next > room || (next & 7u)))
            return kInvalidParameter;
        if (nameOffset < kContextHeader || nameOffset > size || nameLength > size - nameOffset)
            return kInvalidParameter;
        if (dataLength &&
            (dataOffset < kContextHeader || dataOffset > size || dataLength > size - dataOffset))
            return kInvalidParameter;
        if (const CS2ContextRow *row = cs2FindCreateContext(c + nameOffset, nameLength)) {
            CMBufferReader reader;
            cmBufferReaderInit(&reader, c + dataOffset, dataLength);
            int accepted = row->parse(&reader, dataLength, state);
            state->bits |= row->bit;
            *allAccepted &= accepted ? 1 : 0;
        }
        if (!next)
            return 0;
        at += next;
    }
}

uint32_t cs2PackCreateContexts(CMBufferWriter *writer, const CS2CreateContextState *state)
{
    uint8_t *start = cmBufferWriterGetPosition(writer);
    uint8_t *end = start;
    CMBufferWriter previousNext;
    bool any = false;
    for (const CS2ContextRow &row : kContexts) {
        if (!(state->bits & row.bit) || !row.respond)
            continue;
        uint8_t *context = cmBufferWriterGetPosition(writer);
        if (any)
            cmBufferWriteUint32(&previousNext, uint32_t(context - cmBufferWriterGetPosition(&previousNext)));
        CMBufferWriter lengthField;
        cmBufferWriterCloneAndSkip(writer, &previousNext, 4);
        uint32_t dataOffset = kContextHeader + roundUp8(4);
        cmBufferWriteUint16(writer, uint16_t(kContextHeader));
        cmBufferWriteUint16(writer, 4);
        cmBufferWriteUint16(writer, 0);
        cmBufferWriteUint16(writer, uint16_t(dataOffset));
        cmBufferWriterCloneAndSkip(writer, &lengthField, 4);
        cmBufferWriteBytes(writer, row.tag, 4);
        cmBufferWriterAlign(writer, context, 8);
        uint32_t data = row.respond(writer);
        cmBufferWriteUint32(&lengthField, data);
        end = cmBufferWriterGetPosition(writer);
        cmBufferWriterAlign(writer, context, 8);
        any = true;
    }
    if (!any || cmBufferWriterIsOverrun(writer))
        return 0;
    // The last context's Next is 0; its padding is not counted.
    cmBufferWriteUint32(&previousNext, 0);
    return uint32_t(end - start);
}

uint32_t csSmb2IoctlObjectId(CS2IoctlContext *) { return 0xC0000010u; }

const CS2IoctlRow *cs2FindIoctlMethod(uint32_t code)
{
    for (const CS2IoctlRow &row : kIoctls)
        if (row.code == code)
            return &row;
    return nullptr;
}

}  // extern "C"
