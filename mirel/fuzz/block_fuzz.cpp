// Block sequences into the block-wise layers (through the whole receive
// stack of an endpoint record without threads). Input: records of
// [flags][length][bytes], each a datagram from the peer. Flags bit 1 first
// starts a 5000-byte request to the peer with the record's token (a
// sending transfer whose acknowledgements the record may be); bit 2 first
// puts a pending GET with the record's id and token into the pool (for
// announcements and response blocks).
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <string>

#include "../src/endpoint.h"
#include "../src/layers.h"

namespace {

int answer(struct Mirel *, struct CoAPMessage *req, struct CoAPMessage *resp)
{
    uint32_t len = 0;
    const void *p = CoAPMessage_GetPayload(req, &len, 0);
    CoAPMessage_SetCode(resp, COAP_CODE(2, 4));
    if (p)
        CoAPMessage_SetPayload(resp, p, len > 16 ? 16 : len);
    return 0;
}
int on_response(struct Mirel *, struct CoAPMessage *) { return 0; }

struct Setup {
    struct Mirel ep;
    struct sockaddr_storage peer {};
    std::string body = std::string(5000, 'b');

    Setup()
    {
        ep.pool = CoAPMessagePool();
        ep.windows = SlidingWindowPool();
        struct Err err;
        if (!ep.pool || !ep.windows || LayerStack_Init(&ep, &err) != 0)
            abort();
        Mirel_AddRes(&ep, "/", MIREL_POST | MIREL_GET, answer);
        auto *in = reinterpret_cast<struct sockaddr_in *>(&peer);
        in->sin_family = AF_INET;
        in->sin_port = htons(5683);
        inet_pton(AF_INET, "192.0.2.9", &in->sin_addr);
    }
};

Setup &setup()
{
    static Setup s;
    return s;
}

struct CoAPMessage *request_like(const Setup &s, const uint8_t *bytes, size_t len, int code)
{
    uint16_t id = len >= 4 ? static_cast<uint16_t>(bytes[2] << 8 | bytes[3]) : 1;
    struct CoAPMessage *m = CoAPMessage(COAP_TYPE_CON, code, id);
    size_t tkl = len >= 1 ? bytes[0] & 15 : 0;
    if (tkl <= COAP_TOKEN_MAX && len >= 4 + tkl)
        CoAPMessage_SetToken(m, bytes + 4, tkl);
    CoAPMessage_SetSockAddr(m, &s.peer);
    CoAPMessage_SetHandler(m, on_response);
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Setup &s = setup();
    struct Err err;
    while (size >= 2) {
        uint8_t flags = data[0];
        size_t len = data[1];
        data += 2;
        size -= 2;
        if (len > size)
            len = size;
        if (flags & 2) {
            struct CoAPMessage *m = request_like(s, data, len, COAP_CODE_POST);
            CoAPMessage_SetPayload(m, s.body.data(), s.body.size());
            ArqBlock1Layer_OnSend(&s.ep, m, 0, &err);
            CoAPMessage_Decref(m);
        }
        if (flags & 4) {
            struct CoAPMessage *m = request_like(s, data, len, COAP_CODE_GET);
            Mirel_Send(&s.ep, m);
            CoAPMessage_Decref(m);
        }
        if (struct CoAPMessage *m = CoAPMessage_FromBytes(data, len)) {
            CoAPMessage_SetSockAddr(m, &s.peer);
            LayerStack_OnReceive(&s.ep, m, 0, &err);
            CoAPMessage_Decref(m);
        }
        data += len;
        size -= len;
    }
    // Each input starts with nothing pending and no transfer.
    CoAPMessagePool_Clear(s.ep.pool);
    SlidingWindowPool_Free(s.ep.windows);
    s.ep.windows = SlidingWindowPool();
    return 0;
}
