// BIND and ALTER_CONTEXT: each proposed context looked up among the
// interfaces that serve the pipe's name, the answer built in the call's own
// buffer in the request's byte order.
#include "dcerpc_call.h"

#include <array>
#include <cstring>

namespace rpc {

namespace {

// NDR version 2.
const uint8_t kNdr[16] = {0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                          0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60};
constexpr uint32_t kNdrVersion = 2;

enum Code : uint16_t {
    kAccepted = 0,
    kAbstractSyntax = 1,   // abstract syntax not supported
    kTransferSyntax = 2,   // proposed transfer syntaxes not supported
    kContextRange = 3,     // presentation context id beyond the slots
    kProtocolVersion = 4,  // as a NAK reason
};

struct Item {
    uint16_t contextId;
    uint8_t transfers;
    uint8_t abstract[16];
    uint32_t version;
    uint8_t transfer[16];
    uint32_t transferVersion;
};

// A syntax version is two u16s, major then minor, each in the PDU's byte
// order; kept as one word with the major in the low half.
uint32_t syntaxVersion(CMRpcPacketDescriptor *in)
{
    uint16_t major = 0, minor = 0;
    cmRpcParseUint16(in, &major);
    cmRpcParseUint16(in, &minor);
    return uint32_t(major) | uint32_t(minor) << 16;
}

uint32_t lookup(const char *name, const Item &item)
{
    for (uint32_t i = 0; i < CS_RPC_INTERFACES; ++i) {
        const CSDcerpcInterface *f = csDcerpcGetInterface(i);
        if (f && std::strcmp(f->name, name) == 0 && std::memcmp(f->uuid, item.abstract, 16) == 0 &&
            item.version == f->versionMajor)
            return i;
    }
    return kUnbound;
}

}  // namespace

void bind(CSFile *pipe, Call *c)
{
    CMRpcPacketDescriptor in;
    cmRpcSetDescriptor(&in, c->data, c->bigEndian());
    in.length = c->length;
    uint16_t maxXmit = 0, maxRecv = 0;
    uint32_t assoc = 0;
    uint8_t count = 0;
    cmRpcParseUint16(&in, &maxXmit);
    cmRpcParseUint16(&in, &maxRecv);
    cmRpcParseUint32(&in, &assoc);
    cmRpcParseByte(&in, &count);
    cmRpcParseSkip(&in, 3);
    // Fragments shorter than this could carry no stub worth having.
    pipe->maxResponseFragment = maxRecv < CS_RPC_MIN_FRAGMENT ? uint16_t(CS_RPC_MIN_FRAGMENT) : maxRecv;

    // Everything is read before anything is written: the answer goes over
    // the same buffer.
    std::array<Item, 255> items;
    uint32_t read = 0;
    for (; read < count; ++read) {
        Item &it = items[read];
        std::memset(&it, 0, sizeof it);
        cmRpcParseUint16(&in, &it.contextId);
        cmRpcParseByte(&in, &it.transfers);
        cmRpcParseSkip(&in, 1);
        cmRpcParseUuid(&in, it.abstract);
        it.version = syntaxVersion(&in);
        for (uint32_t t = 0; t < it.transfers; ++t) {
            uint8_t uuid[16];
            cmRpcParseUuid(&in, uuid);
            const uint32_t version = syntaxVersion(&in);
            if (t == 0) {
                std::memcpy(it.transfer, uuid, 16);
                it.transferVersion = version;
            }
        }
        if (cmRpcIsOverrun(&in))
            break;
    }
    // A list cut short is not guessed at: nothing of it is bound.
    const bool truncated = cmRpcIsOverrun(&in) != 0;

    char name[24];
    const bool named = pipeName(pipe, name, sizeof name);
    std::array<uint16_t, 255> codes;
    std::array<uint32_t, 255> indexes;
    uint32_t accepted = 0;
    uint16_t lastRejection = 0;
    for (uint32_t i = 0; i < read && !truncated; ++i) {
        const Item &it = items[i];
        uint16_t code = kAccepted;
        uint32_t index = kUnbound;
        if (it.contextId >= CS_PIPE_CONTEXTS)
            code = kContextRange;
        else if (!named || (index = lookup(name, it)) == kUnbound)
            code = kAbstractSyntax;
        else if (it.transfers &&
                 (std::memcmp(it.transfer, kNdr, 16) != 0 || it.transferVersion != kNdrVersion))
            code = kTransferSyntax;
        if (code == kAccepted)
            ++accepted;
        else
            lastRejection = code;
        codes[i] = code;
        indexes[i] = index;
    }

    CMRpcPacketDescriptor out;
    cmRpcSetDescriptor(&out, c->data, c->bigEndian());
    out.length = c->capacity;
    const bool version = c->version == 5 && c->versionMinor == 0;
    if (!version || accepted == 0 || truncated) {
        cmRpcPackUint16(&out, !version ? uint16_t(kProtocolVersion) : lastRejection);
        // Supported versions: one, 5.0.
        cmRpcPackByte(&out, 1);
        cmRpcPackByte(&out, 5);
        cmRpcPackByte(&out, 0);
        cmRpcPackZeroes(&out, 2);
        answer(c, CS_RPC_BIND_NAK, uint32_t(out.current - c->data));
        return;
    }
    // Only an acknowledged bind binds.
    for (uint32_t i = 0; i < read; ++i)
        if (codes[i] == kAccepted)
            pipe->pipeContexts[items[i].contextId] = indexes[i];
    cmRpcPackUint16(&out, uint16_t(CS_RPC_ACK_FRAGMENT));
    cmRpcPackUint16(&out, uint16_t(CS_RPC_ACK_FRAGMENT));
    cmRpcPackUint32(&out, 1);
    // Secondary address: "\PIPE\" and the name, counted with its zero.
    char address[32] = "\\PIPE\\";
    std::strncat(address, name, sizeof address - 7);
    const uint32_t n = uint32_t(std::strlen(address)) + 1;
    cmRpcPackUint16(&out, uint16_t(n));
    cmRpcPackBytes(&out, address, n);
    // The body starts 16 bytes into the PDU: aligning from the body aligns the PDU.
    cmRpcAllignZero(&out, 4);
    cmRpcPackByte(&out, uint8_t(read));
    cmRpcPackZeroes(&out, 3);
    for (uint32_t i = 0; i < read; ++i) {
        cmRpcPackUint16(&out, codes[i]);
        cmRpcPackUint16(&out, codes[i]);
        if (codes[i] == kAccepted) {
            cmRpcPackUuid(&out, kNdr);
            cmRpcPackUint16(&out, uint16_t(kNdrVersion));
            cmRpcPackUint16(&out, 0);
        } else {
            cmRpcPackZeroes(&out, 20);
        }
    }
    answer(c, c->ptype == CS_RPC_BIND ? CS_RPC_BIND_ACK : CS_RPC_ALTER_CONTEXT_RESP,
           uint32_t(out.current - c->data));
}

}  // namespace rpc
