// Message ids that peers sent us lately, so that a retransmitted request
// reaches no handler twice and gets the answer already sent for it.
#ifndef MIREL_DUPLICATE_MEMORY_H
#define MIREL_DUPLICATE_MEMORY_H

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace mirel {

class DuplicateMemory {
public:
    using Clock = uint64_t (*)(void *context);

    struct Limits {
        size_t per_peer = 1024;         // ids kept for one peer
        size_t entries = 4096;          // ids kept for all peers together
        size_t answer_bytes = 1 << 20;  // stored answers, all peers together
        uint64_t keep_ms = 60000;       // an id is forgotten this long after it came
    };

    enum class Seen { New, Duplicate };

    DuplicateMemory() = default;
    explicit DuplicateMemory(const Limits &limits) : limits_(limits) {}
    DuplicateMemory(const DuplicateMemory &) = delete;
    DuplicateMemory &operator=(const DuplicateMemory &) = delete;

    // The first sight of (peer, id) is remembered and gives New; a later one
    // with the same fingerprint (of the datagram's bytes: a retransmission
    // is the same datagram) gives Duplicate, with the answer sent for it in
    // *answer (empty while none went out). Another datagram under a
    // remembered id (a peer that restarted, a forger) is new and replaces
    // it. Never throws: without memory the id is not remembered.
    Seen check(const struct sockaddr_storage &peer, uint16_t id, std::vector<uint8_t> *answer,
               uint64_t fingerprint = 0);
    static uint64_t fingerprint(const uint8_t *bytes, size_t length);
    // The request failed before it was answered: its next copy counts as new.
    void forget(const struct sockaddr_storage &peer, uint16_t id);
    // The bytes of the ACK or RST that answered (peer, id), if it is remembered.
    void record_answer(const struct sockaddr_storage &peer, uint16_t id, const uint8_t *bytes, size_t length);
    void set_clock(Clock clock, void *context);
    size_t size();
    void clear();

    struct PeerId {
        uint8_t bytes[19]{};  // family, port, address
        bool operator==(const PeerId &o) const;
    };
    struct Key {
        PeerId peer;
        uint16_t id = 0;
        bool operator==(const Key &o) const { return id == o.id && peer == o.peer; }
    };
    struct Hash {
        size_t operator()(const PeerId &p) const;
        size_t operator()(const Key &k) const;
    };

private:
    struct Node {
        Key key;
        uint64_t time;
        uint64_t print;
        std::vector<uint8_t> answer;
    };
    using Order = std::list<Node>;

    uint64_t now() { return clock_(clock_ctx_); }
    void drop_oldest();
    void drop_node(Order::iterator it);
    void expire(uint64_t t);

    Limits limits_;
    std::mutex mutex_;
    Order order_;  // oldest first
    std::unordered_map<Key, Order::iterator, Hash> index_;
    std::unordered_map<PeerId, std::deque<Order::iterator>, Hash> peers_;
    size_t answer_bytes_ = 0;
    Clock clock_ = default_clock;
    void *clock_ctx_ = nullptr;

    static uint64_t default_clock(void *);
};

}  // namespace mirel

#endif
