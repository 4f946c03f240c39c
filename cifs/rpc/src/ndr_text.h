// Internal: the NDR shapes every interface reads and writes: unique pointers
// to conformant varying strings, and the host's names as 8-bit text.
#pragma once
#include "cmrpc.h"
#include "cmtypes.h"

#include <cstdint>
#include <string>

namespace rpc {

// A unique pointer and, when it is not null, its conformant varying UTF-16
// string (pointing into the request). false for a null pointer.
bool parseStringPointer(CMRpcPacketDescriptor *in, CMRpcUnicodeString *text);
// A string as 8-bit text, at most max characters (longer ones are cut) and
// without its terminator; characters beyond 8 bits become '?'.
std::string narrow(const CMRpcUnicodeString &text, uint32_t max = 1024);
// A string as UTF-16 into out (units, terminator included), false when it
// does not fit; the count stops at an embedded terminator.
bool copyText(const CMRpcUnicodeString &text, CMWchar *out, uint32_t units);

// A non-null unique pointer's referent id; ids only need to differ.
void packPointer(CMRpcPacketDescriptor *out, bool present = true);
// A conformant varying string with its terminator, aligned to 4 after it.
void packText(CMRpcPacketDescriptor *out, const char *text);
void packText(CMRpcPacketDescriptor *out, const CMWchar *text);

// The NetBIOS host and domain names, without padding.
std::string hostName();
std::string domainName();

}  // namespace rpc
