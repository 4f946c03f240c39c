// Internal: the shapes of the security interfaces (lsarpc, samr): counted
// UTF-16 strings whose text follows later, SIDs with their conformance,
// and the arrays of counted strings clients send names in.
#pragma once
#include "cmrpc.h"
#include "cmsd.h"
#include "cmtypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rpc {

using WText = std::basic_string<CMWchar>;

WText widen(const std::string &text);
// The units of a parsed string up to its count or its first zero.
WText units(const CMRpcUnicodeString &text);
// 8-bit text of UTF-16 units; units beyond 8 bits become '?'.
std::string narrow(const WText &text);

// RPC_UNICODE_STRING: its lengths in bytes and the pointer now, the text
// (packStringBody) once the structure around it is written. Length counts
// the units, maximal length the units and a zero when withZero is set.
void packStringHeader(CMRpcPacketDescriptor *out, const WText &text, bool withZero = false);
void packStringBody(CMRpcPacketDescriptor *out, const WText &text, bool withZero = false);

// RPC_SID as it follows its pointer: the sub-authority count, then the SID
// (with one more RID for the second).
void packSid(CMRpcPacketDescriptor *out, const CMSdDomainSid *sid);
void packSidRid(CMRpcPacketDescriptor *out, const CMSdDomainSid *sid, uint32_t rid);
// A conformant RPC_SID; false (and the cursor overrun) when it is malformed.
bool parseSid(CMRpcPacketDescriptor *in, CMSdDomainSid *sid);
bool sameSid(const CMSdDomainSid &a, const CMSdDomainSid &b);

// A conformant varying UTF-16 text (maximal count, offset, actual count,
// units). Unlike cmRpcParseUnicode it claims no padding after an odd count:
// a text that ends the stub has none.
void parseCountedText(CMRpcPacketDescriptor *in, CMRpcUnicodeString *text);

// A conformant array of count RPC_UNICODE_STRINGs: the headers, then the
// texts of the non-null ones. A count larger than the stub could hold
// overruns the cursor without reading.
void parseStringArray(CMRpcPacketDescriptor *in, uint32_t count, std::vector<CMRpcUnicodeString> &out);

}  // namespace rpc
