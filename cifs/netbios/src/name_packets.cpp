// Name service messages of the daemon (RFC 1002 layout): requests with one
// additional NB record, answers with one resource record, plain queries.
#include "ndpackets.h"

#include "cmstring.h"
#include "ns_internal.h"
#include "nssocket.h"

#include <cstring>

namespace {

// Registration, refresh and release count the domain's name <20> as a group.
bool isDomainName(const CMNetBiosNameInfo *name)
{
    CMNetBiosNameInfo domain;
    cmNetBiosNameCreate(&domain, cmNetBiosGetDomain()->name, 0x20);
    return strncasecmp(domain.name, name->name, CM_NB_NAME_SIZE) == 0;
}

int finish(CMBufferWriter *w)
{
    if (cmBufferWriterIsOverrun(w))
        return ns::fail(NS_ERR_BAD_NAME);
    return static_cast<int>(cmBufferWriterGetDataCount(w));
}

// Counts QD, AN, NS, AR from byte 4.
void writeCounts(CMBufferWriter *w, uint16_t qd, uint16_t an, uint16_t nscount, uint16_t ar)
{
    cmBufferWriterSkip(w, 4);
    cmBufferWriteUint16(w, qd);
    cmBufferWriteUint16(w, an);
    cmBufferWriteUint16(w, nscount);
    cmBufferWriteUint16(w, ar);
}

}  // namespace

namespace ns {

bool writeName(CMBufferWriter *w, const CMNetBiosNameInfo *name)
{
    if (name == nullptr)
        return false;
    uint8_t encoded[CM_NB_ENCODED_NAME_MAX];
    uint32_t n = cmNetBiosEncodeName(name, encoded);
    if (n == 0)
        return false;
    cmBufferWriteBytes(w, encoded, n);
    return !cmBufferWriterIsOverrun(w);
}

bool readName(CMBufferReader *r, char *name17)
{
    const uint8_t *start = cmBufferReaderGetStart(r);
    const uint8_t *end = start + r->length;
    const uint8_t *at = cmBufferReaderGetPosition(r);
    const uint8_t *next = name17 != nullptr ? cmNetBiosParseName(start, end, at, name17, nullptr, 0)
                                            : cmNetBiosSkipName(start, end, at);
    if (next == nullptr) {
        cmBufferReaderSetPosition(r, end);
        cmBufferReaderSkip(r, 1);  // leaves the overrun flag set
        return false;
    }
    cmBufferReaderSetPosition(r, next);
    return true;
}

}  // namespace ns

uint16_t ndNameFlags(int bNode, int isGroup)
{
    uint16_t flags = isGroup ? 0x8000 : 0x0000;
    if (!bNode)
        flags |= 0x4000;
    return flags;
}

int ndGenerateNameWhateverRequest(uint8_t *buffer, uint32_t size, const CMNetBiosNameInfo *name,
                                  const uint32_t *ip, int bNode, int isGroup)
{
    if (buffer == nullptr || name == nullptr || ip == nullptr)
        return ns::fail(NS_ERR_BAD_NAME);
    CMBufferWriter w = ns::writer(buffer, size);
    writeCounts(&w, 1, 0, 0, 1);
    // Question
    uint8_t *question = cmBufferWriterGetPosition(&w);
    if (!ns::writeName(&w, name))
        return ns::fail(NS_ERR_BAD_NAME);
    cmBufferWriteUint16(&w, ND_TYPE_NB);
    cmBufferWriteUint16(&w, ND_CLASS_IN);
    // Additional record: pointer to the question's name, TTL 0
    uint8_t pointer[2];
    cmNetBiosEncodeNamePointer(buffer, pointer, question);
    cmBufferWriteBytes(&w, pointer, 2);
    cmBufferWriteUint16(&w, ND_TYPE_NB);
    cmBufferWriteUint16(&w, ND_CLASS_IN);
    cmBufferWriteUint32(&w, 0);
    cmBufferWriteUint16(&w, 6);
    bool group = isGroup || isDomainName(name);
    cmBufferWriteUint16(&w, ndNameFlags(bNode, group));
    cmBufferWriteBytes(&w, ip, 4);
    return finish(&w);
}

int ndGenerateNameWhateverResponse(uint8_t *buffer, uint32_t size, const CMNetBiosNameInfo *name,
                                   uint16_t type, const void *rdata, uint16_t rdataLength)
{
    if (buffer == nullptr || name == nullptr || (rdata == nullptr && rdataLength != 0))
        return ns::fail(NS_ERR_BAD_NAME);
    CMBufferWriter w = ns::writer(buffer, size);
    writeCounts(&w, 0, 1, 0, 0);
    // Answer record
    if (!ns::writeName(&w, name))
        return ns::fail(NS_ERR_BAD_NAME);
    cmBufferWriteUint16(&w, type);
    cmBufferWriteUint16(&w, ND_CLASS_IN);
    cmBufferWriteUint32(&w, 0);
    cmBufferWriteUint16(&w, rdataLength);
    cmBufferWriteBytes(&w, rdata, rdataLength);
    return finish(&w);
}

int ndGenerateNameQueryRequest(uint8_t *buffer, uint32_t size, const CMNetBiosNameInfo *name)
{
    if (buffer == nullptr || name == nullptr)
        return ns::fail(NS_ERR_BAD_NAME);
    CMBufferWriter w = ns::writer(buffer, size);
    writeCounts(&w, 1, 0, 0, 0);
    // Question
    if (!ns::writeName(&w, name))
        return ns::fail(NS_ERR_BAD_NAME);
    cmBufferWriteUint16(&w, ND_TYPE_NB);
    cmBufferWriteUint16(&w, ND_CLASS_IN);
    return finish(&w);
}
