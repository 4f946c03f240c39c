// Reading an SMB1 command's block and writing its answer: every field read
// lies inside the message, every byte written inside the response buffer.
#pragma once
#include "dispatch_frame.h"

#include "cmbuffer.h"
#include "cmsmbheader.h"

namespace cs::smb1 {

using cs::setU16;
using cs::setU32;
using cs::u16;

// Error pairs: NT status and DOS class/code.
struct Error {
    uint32_t nt, dos;
    uint32_t operator()() const { return csErrorReturn(nt, dos); }
};
constexpr Error kGeneral{0xC0000001u, 0x00010002u};       // ERRSRV/1
constexpr Error kInvalid{0xC000000Du, 0x00570001u};       // ERRDOS/87
constexpr Error kMalformed{0xC0000002u, 0x00400002u};     // ERRSRV/64
constexpr Error kNoUser{0xC000000Du, 0x005B0002u};        // ERRSRV/91
constexpr Error kBadFid{0xC0000008u, 0x00060001u};        // ERRDOS/6
constexpr Error kNotSupported{0xC00000BBu, 0xFFFF0002u};  // ERRSRV/0xFFFF
constexpr Error kTooSmall{0xC0000023u, 0x00010002u};      // ERRSRV/1

constexpr uint16_t kFlags2Unicode = 0x8000;
constexpr uint8_t kNoCommand = 0xFF;

inline const uint8_t *requestHeader() { return gFrame.requestBuffer; }
inline bool unicode() { return u16(gFrame.requestBuffer + 10) & kFlags2Unicode; }
inline uint16_t headerTid() { return u16(gFrame.requestBuffer + 24); }
inline uint16_t headerUid() { return u16(gFrame.requestBuffer + 28); }
inline uint32_t headerPid()
{
    return uint32_t(u16(gFrame.requestBuffer + 12)) << 16 | u16(gFrame.requestBuffer + 26);
}

inline uint32_t u32(const uint8_t *p) { return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16; }

// Offset of p from the request's SMB header.
inline uint32_t fromHeader(const uint8_t *p) { return uint32_t(p - gFrame.requestBuffer); }

// [offset, offset + count) from the request's header lies inside the message.
inline bool inMessage(uint64_t offset, uint64_t count)
{
    return offset >= CM_SMB_HEADER_SIZE && offset + count <= gFrame.requestLength;
}

// A command's block as the dispatcher hands it: WordCount, the words,
// ByteCount and the bytes, all inside the message (the dispatcher checked).
struct Block {
    const uint8_t *params;
    uint8_t words() const { return params[0]; }
    uint8_t byte(uint32_t at) const { return params[1 + at]; }
    uint16_t word(uint32_t at) const { return u16(params + 1 + at); }
    uint32_t dword(uint32_t at) const { return u32(params + 1 + at); }
    uint16_t byteCount() const { return u16(params + 1 + 2 * words()); }
    const uint8_t *bytes() const { return params + 3 + 2 * words(); }
    const uint8_t *bytesEnd() const { return bytes() + byteCount(); }
    uint8_t andx() const { return params[1]; }
};

// A text of the request: UTF-16 (from an even offset from the header) or
// 8-bit, up to its terminator inside [p, end), copied zero-terminated into
// out. The first byte after it, or null when it has no terminator there or
// does not fit units.
inline const uint8_t *readText(const uint8_t *p, const uint8_t *end, bool wide, CMWchar *out, uint32_t units)
{
    if (wide && (fromHeader(p) & 1))
        ++p;
    for (uint32_t n = 0; n < units; ++n) {
        if (p + (wide ? 2 : 1) > end)
            return nullptr;
        const CMWchar c = wide ? u16(p) : *p;
        p += wide ? 2 : 1;
        out[n] = c;
        if (c == 0)
            return p;
    }
    return nullptr;
}

// The answer's block: from position to the end of the response's room.
class Reply {
public:
    Reply(uint8_t *response, uint8_t *position) : response_(response)
    {
        uint8_t *end = response + (CS_RESPONSE_LIMIT - 1);
        cmBufferWriterInit(&w_, position, position < end ? uint32_t(end - position) : 0);
    }
    CMBufferWriter *w() { return &w_; }
    uint8_t *at() const { return cmBufferWriterGetPosition(&w_); }
    uint8_t *start() const { return cmBufferWriterGetStart(&w_); }
    uint32_t offset() const { return uint32_t(at() - response_); }
    void u8(uint8_t v) { cmBufferWriteByte(&w_, v); }
    void u16(uint16_t v) { cmBufferWriteUint16(&w_, v); }
    void u32(uint32_t v) { cmBufferWriteUint32(&w_, v); }
    void u64(uint64_t v)
    {
        u32(uint32_t(v));
        u32(uint32_t(v >> 32));
    }
    void bytes(const void *data, uint32_t n) { cmBufferWriteBytes(&w_, data, n); }
    void zeros(uint32_t n) { cmBufferWriteZeroes(&w_, n); }
    // AndXCommand, reserved, AndXOffset: the dispatcher links them.
    void andx() { zeros(4); }
    // A field written later: its place, skipped now.
    uint8_t *reserve(uint32_t n)
    {
        uint8_t *p = at();
        cmBufferWriterSkip(&w_, n);
        return cmBufferWriterIsOverrun(&w_) ? nullptr : p;
    }
    // Text of the answer: UTF-16 at an even offset from the header when
    // wide, else 8-bit; zero-terminated.
    void text(const char *s, bool wide)
    {
        if (wide) {
            if (offset() & 1)
                u8(0);
            for (; *s; ++s)
                u16(uint8_t(*s));
            u16(0);
        } else {
            for (; *s; ++s)
                u8(uint8_t(*s));
            u8(0);
        }
    }
    void wtext(const CMWchar *s, bool wide)
    {
        if (wide) {
            if (offset() & 1)
                u8(0);
            for (; *s; ++s)
                u16(*s);
            u16(0);
        } else {
            for (; *s; ++s)
                u8(uint8_t(*s));
            u8(0);
        }
    }
    // Ends the block: buffer-too-small when it did not fit, else the
    // position moves past it and status is returned.
    uint32_t finish(uint8_t **position, uint32_t status = 0)
    {
        if (cmBufferWriterIsOverrun(&w_))
            return kTooSmall();
        *position = at();
        return status;
    }
    bool overrun() const { return cmBufferWriterIsOverrun(&w_); }

private:
    uint8_t *response_;
    CMBufferWriter w_;
};

// Writes ByteCount at its place: the bytes from after it to the position.
inline void closeByteCount(Reply &r, uint8_t *countAt)
{
    if (countAt && !r.overrun())
        setU16(countAt, uint16_t(r.at() - countAt - 2));
}

}  // namespace cs::smb1
