// DNS messages of the client and the LLMNR responder: header, names with
// compression pointers, answer records, reversed names and the walk over a
// response's answers. Every read stays inside the received datagram.
#include "cmdns.h"

#include "cmipaddr.h"
#include "cmmemory.h"
#include "cmstring.h"
#include "cursor.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kMaxLabel = 63;
constexpr char kReverseSuffix[] = ".in-addr.arpa";

// Answers collected by the walk.
struct Sink {
    uint16_t type;
    uint32_t *addresses;
    uint32_t maxItems;
    uint32_t *count;
    char *names;
    uint32_t namesSize;
    uint32_t namesUsed = 0;
    uint32_t taken = 0;

    void addName(const char *name)
    {
        size_t n = std::strlen(name) + 1;
        if (names == nullptr || namesUsed + n > namesSize)
            return;
        std::memcpy(names + namesUsed, name, n);
        namesUsed += static_cast<uint32_t>(n);
        ++taken;
    }
};

}  // namespace

extern "C" {

void nsWriteDnsHeader(CMBufferWriter *writer, const CMDnsHeader *header)
{
    cmBufferWriteUint16(writer, header->id);
    cmBufferWriteByte(writer, header->flags1);
    cmBufferWriteByte(writer, header->flags2);
    cmBufferWriteUint16(writer, header->questions);
    cmBufferWriteUint16(writer, header->answers);
    cmBufferWriteUint16(writer, header->authority);
    cmBufferWriteUint16(writer, header->additional);
}

void nsReadDnsHeader(CMBufferReader *reader, CMDnsHeader *header)
{
    cmBufferReadUint16(reader, &header->id);
    cmBufferReadByte(reader, &header->flags1);
    cmBufferReadByte(reader, &header->flags2);
    cmBufferReadUint16(reader, &header->questions);
    cmBufferReadUint16(reader, &header->answers);
    cmBufferReadUint16(reader, &header->authority);
    cmBufferReadUint16(reader, &header->additional);
}

int nsDnsEncodeName(CMBufferWriter *writer, const char *text)
{
    if (text == nullptr)
        return -1;
    size_t length = std::strlen(text);
    if (length > CM_DNS_NAME_MAX)
        return -1;
    for (size_t i = 0, j; i < length; i = j + 1) {
        for (j = i; j < length && text[j] != '.'; ++j) {
        }
        if (j - i > kMaxLabel)
            return -1;
    }
    for (size_t i = 0, j; i < length; i = j + 1) {
        for (j = i; j < length && text[j] != '.'; ++j) {
        }
        if (j == i)
            continue;  // "a..b" and a final "." add no empty label
        cmBufferWriteByte(writer, static_cast<uint8_t>(j - i));
        cmBufferWriteBytes(writer, text + i, static_cast<uint32_t>(j - i));
    }
    cmBufferWriteByte(writer, 0);
    return 0;
}

int nsDnsDecodeName(CMBufferReader *reader, char *text)
{
    if (text != nullptr)
        text[0] = '\0';
    const uint8_t *data = reader->origin;
    const uint32_t length = reader->length;
    uint32_t p = cm::used(reader);
    uint32_t after = 0;
    bool jumped = false;
    int hops = 0;
    uint32_t out = 0;
    for (;;) {
        if (p >= length)
            break;
        uint8_t b = data[p];
        if (b == 0) {
            if (!jumped)
                after = p + 1;
            if (text != nullptr)
                text[out] = '\0';
            reader->current = reader->origin + after;
            return 0;
        }
        if ((b & 0xC0) == 0xC0) {
            if (p + 1 >= length || ++hops > CM_DNS_MAX_POINTERS)
                break;
            if (!jumped)
                after = p + 2;
            jumped = true;
            p = (static_cast<uint32_t>(b & 0x3F) << 8) | data[p + 1];
            continue;
        }
        if ((b & 0xC0) != 0 || p + 1 + b > length)
            break;
        uint32_t need = b + (out > 0 ? 1u : 0u);
        if (out + need > CM_DNS_NAME_MAX)
            break;
        if (text != nullptr) {
            if (out > 0)
                text[out] = '.';
            std::memcpy(text + out + (out > 0 ? 1 : 0), data + p + 1, b);
        }
        out += need;
        p += 1 + b;
    }
    if (text != nullptr)
        text[0] = '\0';
    cm::overrun(reader);
    return -1;
}

void nsDnsWriteAnswer(CMBufferWriter *writer, const char *name, uint16_t type, const void *data,
                      uint32_t length)
{
    nsDnsEncodeName(writer, name);
    cmBufferWriteUint16(writer, type);
    cmBufferWriteUint16(writer, 1);
    cmBufferWriteUint32(writer, 0);
    if (type == CM_DNS_TYPE_PTR) {
        CMBufferWriter size;
        cmBufferWriterCloneAndSkip(writer, &size, 2);
        uint8_t *start = cmBufferWriterGetPosition(writer);
        nsDnsEncodeName(writer, static_cast<const char *>(data));
        cmBufferWriteUint16(&size, static_cast<uint16_t>(cmBufferWriterGetPosition(writer) - start));
        return;
    }
    cmBufferWriteUint16(writer, static_cast<uint16_t>(length));
    cmBufferWriteBytes(writer, data, length);
}

char *nsDnsCreateReversedName(const uint32_t *address)
{
    if (address == nullptr)
        return nullptr;
    auto *name = static_cast<char *>(cmMemoryAllocNonDebug(CM_DNS_REVERSED_NAME_SIZE));
    if (name == nullptr)
        return nullptr;
    const auto *o = reinterpret_cast<const uint8_t *>(address);
    std::snprintf(name, CM_DNS_REVERSED_NAME_SIZE, "%u.%u.%u.%u%s", o[3], o[2], o[1], o[0], kReverseSuffix);
    return name;
}

uint32_t *nsDnsParseReversedName(const char *name, uint32_t length)
{
    if (name == nullptr || length != 4)
        return nullptr;
    size_t n = strnlen(name, CM_DNS_REVERSED_NAME_SIZE);
    size_t suffix = sizeof kReverseSuffix - 1;
    if (n <= suffix || n >= CM_DNS_REVERSED_NAME_SIZE || cmAStricmp(name + n - suffix, kReverseSuffix) != 0)
        return nullptr;
    char octets[CM_DNS_REVERSED_NAME_SIZE];
    std::memcpy(octets, name, n - suffix);
    octets[n - suffix] = '\0';
    uint32_t reversed = 0;
    if (cmAsciiToIp(octets, &reversed) != 0)
        return nullptr;
    auto *out = static_cast<uint32_t *>(cmMemoryAllocNonDebug(sizeof(uint32_t)));
    if (out == nullptr)
        return nullptr;
    const auto *r = reinterpret_cast<const uint8_t *>(&reversed);
    auto *o = reinterpret_cast<uint8_t *>(out);
    o[0] = r[3];
    o[1] = r[2];
    o[2] = r[1];
    o[3] = r[0];
    return out;
}

int nsDnsParseAnswers(const uint8_t *message, uint32_t length, uint16_t id, uint16_t type,
                      uint32_t *addresses, uint32_t maxItems, uint32_t *count, char *names,
                      uint32_t namesSize)
{
    if (count != nullptr)
        *count = 0;
    if (names != nullptr && namesSize > 0)
        names[0] = '\0';
    if (message == nullptr || length < CM_DNS_HEADER_SIZE)
        return -1;
    CMBufferReader reader;
    cmBufferReaderInit(&reader, message, length);
    cmBufferReaderSetByteOrder(&reader, 0);
    CMDnsHeader h;
    nsReadDnsHeader(&reader, &h);
    if (h.id != id || (h.flags1 & 0x80) == 0)
        return -1;
    uint8_t rcode = h.flags2 & 0x0F;
    if (rcode == 5)
        return CM_DNS_ERR_REFUSED;
    if (h.answers == 0 || rcode == 3)
        return -1;
    for (uint16_t q = 0; q < h.questions && !cmBufferReaderIsOverrun(&reader); ++q) {
        nsDnsDecodeName(&reader, nullptr);
        cmBufferReaderSkip(&reader, 4);
    }
    Sink sink{type, addresses, maxItems, count, names, namesSize};
    char name[CM_DNS_NAME_MAX + 1];
    bool done = false;
    for (uint16_t a = 0; a < h.answers && !done; ++a) {
        nsDnsDecodeName(&reader, nullptr);
        uint16_t rtype = 0, rlength = 0;
        cmBufferReadUint16(&reader, &rtype);
        cmBufferReaderSkip(&reader, 6);
        cmBufferReadUint16(&reader, &rlength);
        if (cmBufferReaderIsOverrun(&reader) || rlength > cmBufferReaderGetRemaining(&reader))
            break;
        const uint8_t *rdata = cmBufferReaderGetPosition(&reader);
        bool wanted = rtype == type || (rtype == CM_DNS_TYPE_CNAME && type == CM_DNS_TYPE_PTR);
        if (wanted) {
            switch (type) {
            case CM_DNS_TYPE_A:
                if (rlength == 4 && addresses != nullptr && sink.taken < maxItems)
                    std::memcpy(&addresses[sink.taken++], rdata, 4);
                break;
            case CM_DNS_TYPE_PTR:
            case CM_DNS_TYPE_CNAME:
                if (nsDnsDecodeName(&reader, name) == 0) {
                    sink.addName(name);
                    done = true;
                }
                break;
            case CM_DNS_TYPE_SRV:
                cmBufferReaderSkip(&reader, 6);
                if (rlength > 6 && nsDnsDecodeName(&reader, name) == 0 && sink.taken < maxItems)
                    sink.addName(name);
                break;
            default:
                done = true;
                break;
            }
        }
        // The next record starts after this one's data, whatever was read of it.
        cmBufferReaderSetPosition(&reader, rdata);
        cmBufferReaderSkip(&reader, rlength);
        if (cmBufferReaderIsOverrun(&reader))
            break;
    }
    if (count != nullptr)
        *count = sink.taken;
    return sink.taken > 0 ? 0 : -1;
}

}  // extern "C"
