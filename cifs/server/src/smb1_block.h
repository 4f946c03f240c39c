// Internal: the parameter block of an SMB1 command that is not chained (it
// follows the 32-byte header), as the dispatcher hands it over whole inside
// the message, and the names in its byte block.
#pragma once
#include "cmpath.h"
#include "cmtypes.h"
#include "csshares.h"

#include <cstdint>

namespace cs {

struct Smb1Block {
    const uint8_t *header;  // the request's header
    uint8_t wordCount;
    const uint8_t *words;
    uint16_t byteCount;
    const uint8_t *bytes;
    uint16_t tid, uid;
    bool unicode;

    uint16_t word(unsigned i) const { return uint16_t(words[2 * i] | words[2 * i + 1] << 8); }
    uint32_t dword(unsigned i) const { return uint32_t(word(i)) | uint32_t(word(i + 1)) << 16; }
};

// params: from the WordCount byte; response: the response's header, which
// carries the request's tid, uid and flags.
Smb1Block smb1Block(const uint8_t *params, const uint8_t *response);

// A name of the byte block at *at (a buffer format byte first, which must be
// format): copied up to its terminator or the block's end, then made a local
// path under the share (a Unicode name aligned to 2 from the header). *at
// moves past it. False when the format differs, or the name is too long or
// not allowed.
bool smb1Path(const Smb1Block &block, uint32_t *at, uint8_t format, const CSShare *share, bool wildcards,
              CMWchar *path);

// Writes WordCount 0 and ByteCount 0 at *position: 0, or buffer too small.
uint32_t smb1EmptyAnswer(uint8_t *response, uint8_t **position);

}  // namespace cs
