// Security sessions of an endpoint: per peer, the handshake state, the
// sealing pair and the messages waiting for the session.
#ifndef MIREL_SEC_SESSION_H
#define MIREL_SEC_SESSION_H

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "coap_message.h"
#include "mirel_crypto.h"
#include "zmo.h"

namespace mirel {

enum SessionState { kSessionNone = 0, kSessionHandshakeSent = 1, kSessionEstablished = 2 };

struct Session {
    int state = kSessionNone;
    struct Aead *aead = nullptr;
    std::deque<struct CoAPMessage *> queue;  // one reference each
    zmo_time_t deadline{};
    // Our handshake request in flight: only its answer sets the keys.
    bool handshake_pending = false;
    uint16_t handshake_id = 0;
    uint8_t handshake_token[COAP_TOKEN_MAX]{};
    uint8_t handshake_token_len = 0;
    // Ids sealed in this session (a bit each), so that our own CON and NON
    // never share a nonce.
    std::vector<uint64_t> sealed_ids;
    uint32_t sealed_count = 0;
    uint64_t last_used = 0;  // ms

    Session() = default;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session();
    // Releases the queued messages without sending them.
    void release_queue();
    // Moves the queue out, leaving it empty.
    std::deque<struct CoAPMessage *> take_queue();
    bool id_sealed(uint16_t id) const;
    void mark_sealed(uint16_t id);
    // Keys from our private key and the peer's public key; the initiator
    // opens with K1/IV1 and seals with K2/IV2, the responder the other way.
    int derive(const uint8_t own_private[MIREL_X25519_SIZE], const uint8_t peer_public[MIREL_X25519_SIZE],
               bool initiator);
};

struct SessionTable {
    // Beyond this many peers the least recently used session goes.
    static constexpr size_t kMaxSessions = 1024;

    std::mutex mutex;
    std::map<std::string, Session, std::less<>> sessions;

    // The peer's session, or null; called with the mutex held.
    Session *find(const char *key);
    // The peer's session, made in state 0 when there is none; null without
    // memory. Called with the mutex held.
    Session *find_or_make(const char *key, uint64_t now_ms);
    void erase(const char *key);
};

// Seals payload and URI of a message in place: the payload grows by the
// tag, options 11 and 15 give way to 4005. Our own CON and NON first get an
// id this session has not sealed. 0, or -1 with the failing step in err.
int seal_message(Session &s, struct CoAPMessage *msg, struct Err *err);
// Opens option 4005 (which must be there) and the payload in place:
// 0, or -1 when anything does not open.
int open_message(Session &s, struct CoAPMessage *msg, struct Err *err);

}  // namespace mirel

#endif
