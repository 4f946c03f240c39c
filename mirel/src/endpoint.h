// The endpoint record, shared by the endpoint's files and the layers.
#ifndef MIREL_ENDPOINT_H
#define MIREL_ENDPOINT_H

#include <pthread.h>
#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "coap_pool.h"
#include "duplicate_memory.h"
#include "sec_session.h"
#include "mirel.h"
#include "sliding_window.h"

struct MirelResource {
    const char *path;  // the caller's, kept by pointer
    Mirel_ResHandler handler;
    MirelResource *next;
    uint32_t methods;
};

struct MirelRuntime {
    std::atomic<bool> stop{false};
    int sock = -1;
    pthread_t receiver{};
    pthread_t sender{};
    bool receiver_started = false;
    bool sender_started = false;
    MirelResource *resources = nullptr;  // guarded by Mirel::lock
};

struct Mirel {
    struct CoAPMessagePool *pool = nullptr;
    struct SlidingWindowPool *windows = nullptr;
    MirelRuntime rt;
    // Guards the resource list and the keys: the receiver thread reads them
    // while the application may still add resources.
    std::mutex lock;
    uint8_t private_key[MIREL_KEY_SIZE]{};
    uint8_t public_key[MIREL_KEY_SIZE]{};
    mirel::DuplicateMemory dups;
    mirel::SessionTable *sessions = nullptr;  // from SecLayer_Init
    // Per sending transfer: its window offset, since when it stands, and
    // when its lowest block last went again (receiver thread only).
    struct BlockProgress {
        int64_t offset;
        uint64_t since;
        uint64_t resent;
    };
    std::map<std::string, BlockProgress> block_progress;
    uint64_t last_block_sweep = 0;
};

namespace mirel {

// Largest datagram read; a longer one is dropped whole.
constexpr size_t kMaxDatagram = 1500;
// A block-wise transfer without activity this long is dropped.
constexpr uint64_t kTransferIdleMs = 60000;

// One datagram as the receiver thread handles it: decode, duplicate check,
// receive layers. Also the entry of the receive fuzzer.
void endpoint_receive(struct Mirel *ep, const uint8_t *bytes, size_t length,
                      const struct sockaddr_storage &from);
// One message taken from the pool as the sender thread handles it.
void endpoint_send(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra);

// Sending transfers whose window stood still past every retransmission of
// its lowest block get their unacknowledged blocks sent again; idle
// transfers expire. Receiver thread only.
void block_sweep(struct Mirel *ep, uint64_t now_ms);

void *receiver_main(void *arg);
void *sender_main(void *arg);

// The resource list's core handler ("/.well-known/core").
int core_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
void free_resources(struct Mirel *ep);

}  // namespace mirel

#endif
