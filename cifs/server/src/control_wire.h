// Internal: the control message's fields, shared by the server's handlers
// and the client functions, and their two entry points that the fuzzers
// drive without a socket.
#pragma once
#include "cmbuffer.h"
#include "csctrl.h"

#include <cstddef>

namespace cs::ctrl {

// A string: u16 count of units, the units, a zero unit. Strict: false when
// it leaves the message, holds a zero unit or needs more than room units
// with its terminator.
bool readString(CMBufferReader *r, CMWchar *out, uint32_t room);
// Lenient, for replies: a string longer than the field is cut to it; false
// only when the string leaves the message.
bool readStringCut(CMBufferReader *r, CMWchar *out, uint32_t room);
void writeString(CMBufferWriter *w, const CMWchar *text, uint32_t units);

// A reply record: its strings shortened together, never its tail cut, when
// the whole does not fit the writer.
struct Item {
    enum Kind { Wide, Narrow, Number } kind;
    const CMWchar *wide;
    const char *narrow;
    uint16_t number;
};
void writeRecord(CMBufferWriter *w, const Item *items, size_t count);

// One request of length bytes answered into reply (room bytes): the reply's
// length in *replyLength; 0 when the server loop must end, else 1.
int serve(const uint8_t *request, uint32_t length, uint8_t *reply, uint32_t room, uint32_t *replyLength);

// Reply parsers of the enumerations: 0, or -1 for a malformed reply.
int parseShare(CMBufferReader *r, CSCtrlShareRecord *record);
int parseUser(CMBufferReader *r, CSCtrlUserRecord *record);
int parseClient(CMBufferReader *r, CSCtrlClientRecord *record);
int parseFile(CMBufferReader *r, CSCtrlFileRecord *record);

}  // namespace cs::ctrl
