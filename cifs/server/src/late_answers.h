// Internal: SMB2 answers sent after their request was left (interim,
// deferred creates, oplock breaks, change notification).
#pragma once
#include "csdb.h"
#include "csdispatch.h"
#include "cssmb2.h"

#include <vector>

namespace cs2 {

// What a late answer needs of its request.
struct SavedRequest {
    CSSocketSlot socket = nullptr;
    uint32_t flags = 0;
    uint32_t tid = 0;
    uint16_t uid = 0;
    CMUint64 mid{};
    CMUint64 aid{};
    uint32_t pid = 0;
    uint16_t command = 0;
    bool encrypted = false;
};

// The request being served, on the current connection.
SavedRequest saveRequest(const CMSmb2Header &request, uint16_t uid);

// Whether a CANCEL from user uid names the request: by AsyncId when the
// CANCEL is async, else by MessageId (sent before the interim answer came).
bool cancels(const CMSmb2Header &cancel, uint16_t uid, const SavedRequest &r);

// The database finds records of the connection being served: another
// connection's are looked up while it is the current one.
struct OnSocket {
    CSSocketSlot saved;
    explicit OnSocket(CSSocketSlot socket) : saved(csDispatchGetSocket()) { csDispatchSetSocket(socket); }
    ~OnSocket() { csDispatchSetSocket(saved); }
    OnSocket(const OnSocket &) = delete;
    OnSocket &operator=(const OnSocket &) = delete;
};

using BodyWriter = void (*)(CMBufferWriter *writer, const void *data);
void errorBody(CMBufferWriter *writer, const void *);

CSSession *sessionOf(const CSUser *user);
// Header and body of an async answer; empty when the body does not fit a
// message buffer.
std::vector<uint8_t> asyncMessage(const SavedRequest &r, uint32_t status, bool signing, BodyWriter body,
                                  const void *data);
// Signs as the session's dialect asks; a sealed message carries no signature.
void signMessage(const CSSession *session, uint8_t *message, uint32_t length, bool sealed);
// Frames and sends one message, sealed for sealFor (fresh nonce) when given.
bool sendMessage(CSSocketSlot socket, const std::vector<uint8_t> &message, CSUser *sealFor);
// A late answer on the saved request's connection: false when the session
// is gone or the message could not be sent whole.
bool sendLate(const SavedRequest &r, uint32_t status, BodyWriter body, const void *data);
bool sendLate(const SavedRequest &r, uint32_t status, const uint8_t *body, uint32_t length);

}  // namespace cs2
