// LLMNR responder: A questions for own names and PTR questions for the
// receiving adapter's address; one answer, to the first answerable question.
#include "nd_internal.h"

#include "cmbuffer.h"
#include "cmdns.h"
#include "cmmemory.h"
#include "ns_internal.h"

#include <cstdlib>
#include <cstring>

namespace {

int llmnrSocket = -1;

// The question at [start, end) is answered with one record.
int answer(NDAdapter *a, const CMDnsHeader &query, const uint8_t *question, uint32_t questionLength,
           const char *name, uint16_t type, const void *data, uint32_t dataLength)
{
    CMBufferWriter w = ns::writer(a->send, ND_BUFFER_SIZE);
    // One question, one answer: the query's other counts do not describe
    // what we send back.
    CMDnsHeader h{};
    h.id = query.id;
    h.flags1 = 0x80;
    h.flags2 = 0x00;
    h.questions = 1;
    h.answers = 1;
    nsWriteDnsHeader(&w, &h);
    cmBufferWriteBytes(&w, question, questionLength);
    nsDnsWriteAnswer(&w, name, type, data, dataLength);
    if (cmBufferWriterIsOverrun(&w))
        return -1;
    uint32_t length = cmBufferWriterGetDataCount(&w);
    return ndSend(llmnrSocket, a->send, length, a->srcIp, a->srcPort) ? 0 : -1;
}

}  // namespace

void ndLLMNRSetSocket(int socket) { llmnrSocket = socket; }

int ndLLMNRNameLookup(const char *text)
{
    char name[CM_NB_NAME_SIZE + 1] = {};
    std::strncpy(name, text, CM_NB_NAME_TEXT_MAX);
    cmNetBiosNameFormat(name, 0);
    return ndInternalNameFind(name) >= 0 ? 1 : 0;
}

int ndLLMNRProcessExternalMessage(NDAdapter *a)
{
    if (a->recv == nullptr)
        return -1;
    CMBufferReader r = ns::reader(a->recv, a->length);
    CMDnsHeader h{};
    nsReadDnsHeader(&r, &h);
    if (cmBufferReaderIsOverrun(&r) || h.questions == 0)
        return -1;
    // Queries only: answers and other opcodes are no questions to us.
    if ((h.flags1 & 0xF8) != 0)
        return -1;
    char text[CM_DNS_NAME_MAX + 1];
    for (uint16_t i = 0; i < h.questions; ++i) {
        const uint8_t *start = cmBufferReaderGetPosition(&r);
        if (nsDnsDecodeName(&r, text) != 0)
            return -1;
        uint16_t type = 0;
        uint16_t klass = 0;
        cmBufferReadUint16(&r, &type);
        cmBufferReadUint16(&r, &klass);
        if (cmBufferReaderIsOverrun(&r))
            return -1;
        uint32_t length = static_cast<uint32_t>(cmBufferReaderGetPosition(&r) - start);
        if (type == CM_DNS_TYPE_A && std::strlen(text) < CM_NB_NAME_SIZE && ndLLMNRNameLookup(text))
            return answer(a, h, start, length, text, type, &a->ip, 4);
        if (type == CM_DNS_TYPE_PTR) {
            uint32_t *address = nsDnsParseReversedName(text, 4);
            bool mine = address != nullptr && *address == a->ip && a->ip != 0;
            cmMemoryFreeNonDebug(address);
            if (mine) {
                const char *host = cmNetBiosGetHostNameZeroed();
                return answer(a, h, start, length, text, type, host,
                              static_cast<uint32_t>(std::strlen(host)));
            }
        }
    }
    return 0;
}
