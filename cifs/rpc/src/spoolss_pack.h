// Internal: the spooler pipe's information buffer (the client's cbBuf bytes):
// fixed parts forwards from its start, strings backwards from its end, device
// modes and descriptors below the strings; and the sizes the answers report.
#pragma once

#include "cmrpc.h"
#include "cmsd.h"
#include "syprint.h"

#include <cstdint>

namespace spoolss {

constexpr uint32_t kInsufficientBuffer = 122;
// The fixed part of a device mode as written into answers.
constexpr uint32_t kDevModeBytes = 220;

// n(x): characters of a text; s(x): bytes a string takes, 4 when missing.
uint32_t textLength(const CMWchar *text);
uint32_t stringSize(const CMWchar *text);

class InfoBuffer {
public:
    // Every write stays inside [base, base + size); the buffer is little-endian.
    InfoBuffer(uint8_t *base, uint32_t size) : base_(base), size_(size), end_(size) {}

    void u32(uint32_t v);
    void u16(uint16_t v);
    void zeros(uint32_t n);
    // A string below the last one and its offset in the fixed part; a null
    // text writes offset 0. Fails when it would come within 4 bytes of the
    // fixed part.
    void string(const CMWchar *text);
    // A device mode below the strings in (driver extra length + reserve)
    // rounded down to even, at an offset rounded down to 4; its offset in
    // the fixed part.
    void devMode(const SYDeviceMode &mode, const CMWchar *deviceName, uint32_t reserve);
    // A self-relative descriptor below what is there, at an offset rounded
    // down to 4; its offset in the fixed part. An empty one writes offset 0.
    void descriptor(const uint8_t *sd, uint32_t length);
    // The descriptor's offset just behind the offset field, and the
    // descriptor there (level 3 of a printer).
    void descriptorInline(const uint8_t *sd, uint32_t length);
    // Zeros up to the next multiple of 4 of the fixed part.
    void align4();
    // The next structure of an array starts here: clients read every
    // offset of a structure from that structure's own start.
    void record() { record_ = fixed_; }

    bool failed() const { return failed_; }
    uint32_t fixed() const { return fixed_; }
    uint32_t end() const { return end_; }

private:
    bool room(uint32_t n);
    void put(uint64_t v, unsigned bytes);
    // Below the lowest thing written, at an offset rounded down to 4.
    uint32_t below(uint32_t bytes);
    // The offset field of something at `at`, from the current structure.
    void offset(uint32_t at) { u32(at - record_); }

    uint8_t *base_;
    uint32_t size_;
    uint32_t fixed_ = 0;
    uint32_t end_;
    uint32_t record_ = 0;
    bool failed_ = false;
};

// A device mode's fixed part and extra bytes as answers carry it; false when
// the cursor overran.
bool packDevMode(CMRpcPacketDescriptor *d, const SYDeviceMode &mode, const CMWchar *deviceName);
// The descriptor's NDR (self-relative) form; its length, 0 when it does not fit.
uint32_t packDescriptor(uint8_t *out, uint32_t room, const uint8_t *sd, uint32_t length);

}  // namespace spoolss
