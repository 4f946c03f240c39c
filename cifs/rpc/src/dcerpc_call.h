// Internal: the state of the one call a pipe carries, from the first byte of
// its request to the last byte of its answer.
#pragma once
#include "csdcerpc.h"

#include <cstdint>
#include <new>

namespace rpc {

constexpr uint32_t kCommonHeader = 16;
constexpr uint32_t kRequestHeader = 24;
constexpr uint32_t kResponseHeader = 24;
constexpr uint32_t kUnbound = 0xFFFFFFFFu;

enum State : uint32_t { kCollecting = 1, kAnswering = 2, kSaved = 3 };

struct Call {
    uint32_t state = kCollecting;
    uint32_t last = 0;

    // Collecting: the header of the fragment in hand, which may come in
    // pieces, and the body bytes of that fragment still to come.
    uint8_t header[kRequestHeader] = {};
    uint32_t headerHave = 0;
    bool inFragment = false;
    uint32_t remainder = 0;

    // The joined request stub, then the answer's stub written over it (or,
    // saved, a whole PDU). length: bytes held; offset: bytes delivered.
    uint8_t *data = nullptr;
    uint32_t capacity = 0;
    uint32_t length = 0;
    uint32_t offset = 0;
    // Of the bytes beyond an ordinary buffer, what this request being joined
    // holds of the budget all pipes share.
    uint32_t claimed = 0;

    // Header fields as received; ptype becomes the answer's type.
    uint8_t version = 0, versionMinor = 0, drep0 = 0, drep1 = 0, ptype = 0, flags = 0;
    uint16_t fragLength = 0, authLength = 0;
    uint32_t callId = 0;
    uint8_t cancelCount = 0;
    uint16_t contextId = 0, opnum = 0;

    // Answering: the fragment being read.
    uint8_t fragmentHeader[kResponseHeader] = {};
    uint32_t fragmentHeaderLength = 0;
    uint32_t fragmentLength = 0;
    uint32_t fragmentRead = 0;

    ~Call();
    bool bigEndian() const { return (drep0 & 0x10) == 0; }
    // Makes room for at least n bytes, keeping what is held; false when memory is short.
    bool reserve(uint32_t n);
    // Takes from the shared budget what a request of capacity n holds beyond
    // an ordinary buffer; false when the budget is spent. unclaim gives it back.
    bool claim(uint32_t n);
    void unclaim();
};

inline Call *callOf(CSFile *pipe) { return static_cast<Call *>(pipe->callState); }
void freeCall(CSFile *pipe);

// Every answer leaves the call here: type, stub of length bytes in data.
void answer(Call *c, uint8_t ptype, uint32_t length);
void fault(Call *c, uint32_t status);

// The binding and request steps, on an assembled call.
void bind(CSFile *pipe, Call *c);
uint32_t request(CSFile *pipe, Call *c);

// The pipe name served (without "\" or "\PIPE\"), 8-bit; empty when unknown.
bool pipeName(const CSFile *pipe, char *out, uint32_t size);

// Errors of the carriers, in the client's mode.
uint32_t outOfMemory();
uint32_t badPipe();

}  // namespace rpc
