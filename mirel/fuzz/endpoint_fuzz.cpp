// Datagrams through the receive side of a live endpoint on loopback: the
// layer stack with the request and response layers and the duplicate
// memory, with the endpoint's threads running beside it.
// Input: records of [flags][length][bytes]. Flags bit 0 picks one of two
// peers; bit 1 first puts a pending CON to that peer into the pool with the
// record's id and token, so that answers find something to match.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "../src/endpoint.h"
#include "coap_uri.h"

namespace {

int answer(struct Mirel *, struct CoAPMessage *req, struct CoAPMessage *resp)
{
    uint32_t len = 0;
    const void *p = CoAPMessage_GetPayload(req, &len, 0);
    CoAPMessage_SetCode(resp, COAP_CODE(2, 5));
    if (p)
        CoAPMessage_SetPayload(resp, p, len);
    return 0;
}
int decline(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *) { return 1; }
int on_response(struct Mirel *, struct CoAPMessage *) { return 0; }

struct Setup {
    struct Mirel *ep = nullptr;
    struct sockaddr_storage peers[2]{};
    int sinks[2] = {-1, -1};

    Setup()
    {
        ep = Mirel(0, htonl(INADDR_LOOPBACK));
        if (!ep)
            abort();
        Mirel_AddRes(ep, "/", MIREL_GET, answer);
        Mirel_AddRes(ep, "/a/b", MIREL_POST | MIREL_PUT, answer);
        Mirel_AddRes(ep, "/quiet", MIREL_DELETE, decline);
        // Answers go to two sockets of ours on loopback that nobody reads.
        for (int i = 0; i < 2; i++) {
            sinks[i] = socket(AF_INET, SOCK_DGRAM, 0);
            struct sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t len = sizeof a;
            bind(sinks[i], reinterpret_cast<struct sockaddr *>(&a), len);
            getsockname(sinks[i], reinterpret_cast<struct sockaddr *>(&a), &len);
            std::memcpy(&peers[i], &a, sizeof a);
        }
    }
};

Setup &setup()
{
    static Setup s;
    return s;
}

void add_pending(struct Mirel *ep, const uint8_t *bytes, size_t len, const struct sockaddr_storage &peer)
{
    if (len < 4)
        return;
    struct CoAPMessage *m = CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, bytes[2] << 8 | bytes[3]);
    size_t tkl = bytes[0] & 15;
    if (tkl <= COAP_TOKEN_MAX && len >= 4 + tkl)
        CoAPMessage_SetToken(m, bytes + 4, tkl);
    CoAPMessage_SetSockAddr(m, &peer);
    CoAPMessage_SetHandler(m, on_response);
    Mirel_Send(ep, m);
    CoAPMessage_Decref(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Setup &s = setup();
    while (size >= 2) {
        uint8_t flags = data[0];
        size_t len = data[1];
        data += 2;
        size -= 2;
        if (len > size)
            len = size;
        const struct sockaddr_storage &peer = s.peers[flags & 1];
        if (flags & 2)
            add_pending(s.ep, data, len, peer);
        mirel::endpoint_receive(s.ep, data, len, peer);
        data += len;
        size -= len;
    }
    // Each input starts from nothing pending and nothing remembered.
    CoAPMessagePool_Clear(s.ep->pool);
    s.ep->dups.clear();
    return 0;
}
