// SecLayer_OnReceive on an established session. Input byte 0, bit 0 set:
// the rest, when it decodes, is first sealed by the peer's side of the
// session, so that opening gets past the tag and what follows it is
// reached; otherwise the rest is the datagram as it comes.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "../src/endpoint.h"
#include "../src/layers.h"

namespace {

const uint8_t kOurKey[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                             17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const uint8_t kPeerKey[32] = {99, 98, 97, 96, 95, 94, 93, 92, 91, 90, 89, 88, 87, 86, 85, 84,
                              83, 82, 81, 80, 79, 78, 77, 76, 75, 74, 73, 72, 71, 70, 69, 68};
const char kPeerKeyText[] = "192.0.2.7:5683";

struct Setup {
    struct Mirel ep;
    mirel::Session peer_side;  // the initiator's half, for sealing inputs
    struct sockaddr_storage peer {};
    uint8_t peer_public[32]{};

    Setup()
    {
        ep.pool = CoAPMessagePool();
        struct Err err;
        if (!ep.pool || LayerStack_Init(&ep, &err) != 0 || Mirel_SetPrivateKey(&ep, kOurKey, 32) != 0)
            abort();
        static const uint8_t base[32] = {9};
        curve25519_donna(peer_public, kPeerKey, base);
        if (peer_side.derive(kPeerKey, ep.public_key, true) != 0)
            abort();
        auto *in = reinterpret_cast<struct sockaddr_in *>(&peer);
        in->sin_family = AF_INET;
        in->sin_port = htons(5683);
        inet_pton(AF_INET, "192.0.2.7", &in->sin_addr);
        establish(peer_public);
    }
    void establish(const uint8_t their_public[32])
    {
        std::lock_guard<std::mutex> lock(ep.sessions->mutex);
        mirel::Session *s = ep.sessions->find_or_make(kPeerKeyText, 0);
        if (!s || s->derive(kOurKey, their_public, false) != 0)
            abort();
        s->state = mirel::kSessionEstablished;
    }
};

Setup &setup()
{
    static Setup s;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    Setup &s = setup();
    struct CoAPMessage *msg = CoAPMessage_FromBytes(data + 1, size - 1);
    if (!msg)
        return 0;
    CoAPMessage_SetSockAddr(msg, &s.peer);
    struct Err err;
    if (data[0] & 1) {
        CoAPMessage_SetSecure(msg, 1);
        s.peer_side.sealed_ids.clear();  // each input seals under its own id
        if (mirel::seal_message(s.peer_side, msg, &err) != 0) {
            CoAPMessage_Decref(msg);
            return 0;
        }
    }
    SecLayer_OnReceive(&s.ep, msg, 0, &err);
    CoAPMessage_Decref(msg);
    // Session errors and handshake answers go to the pool: start clean, and
    // keep the session established whatever the input did to it.
    CoAPMessagePool_Clear(s.ep.pool);
    bool fine;
    {
        std::lock_guard<std::mutex> lock(s.ep.sessions->mutex);
        mirel::Session *sess = s.ep.sessions->find(kPeerKeyText);
        fine = sess && sess->state == mirel::kSessionEstablished;
        if (!fine)
            s.ep.sessions->erase(kPeerKeyText);
    }
    if (!fine)
        s.establish(s.peer_public);
    return 0;
}
