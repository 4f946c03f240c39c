// The spooler pipe's information buffer: fixed parts forwards, strings
// backwards, device modes and descriptors below the strings, every write
// bounded by the client's offered size.
#include "spoolss_pack.h"

#include "cmstring.h"

#include <algorithm>
#include <cstring>

namespace spoolss {

namespace {

constexpr uint32_t kNameUnits = 32;  // the device and form name fields

void packName(CMRpcPacketDescriptor *d, const CMWchar *name)
{
    CMWchar field[kNameUnits] = {};
    for (uint32_t i = 0; name && i + 1 < kNameUnits && name[i]; ++i)
        field[i] = name[i];
    for (CMWchar unit : field)
        cmRpcPackUint16(d, unit);
}

}  // namespace

uint32_t textLength(const CMWchar *text) { return text ? cmWStrlen(text) : 0; }
uint32_t stringSize(const CMWchar *text) { return text ? (textLength(text) + 3) * 2 : 4; }

bool InfoBuffer::room(uint32_t n)
{
    if (failed_ || n > end_ || fixed_ > end_ - n) {
        failed_ = true;
        return false;
    }
    return true;
}

void InfoBuffer::put(uint64_t v, unsigned bytes)
{
    if (!room(bytes))
        return;
    for (unsigned i = 0; i < bytes; ++i)
        base_[fixed_ + i] = uint8_t(v >> (8 * i));
    fixed_ += bytes;
}

void InfoBuffer::u32(uint32_t v) { put(v, 4); }
void InfoBuffer::u16(uint16_t v) { put(v, 2); }

void InfoBuffer::zeros(uint32_t n)
{
    if (!room(n))
        return;
    std::memset(base_ + fixed_, 0, n);
    fixed_ += n;
}

void InfoBuffer::align4() { zeros((4 - fixed_ % 4) % 4); }

uint32_t InfoBuffer::below(uint32_t bytes)
{
    // Room for the offset field itself stays between the two parts.
    if (failed_ || bytes > end_ || (end_ - bytes) / 4 * 4 < fixed_ + 4) {
        failed_ = true;
        return 0;
    }
    end_ = (end_ - bytes) / 4 * 4;
    return end_;
}

void InfoBuffer::string(const CMWchar *text)
{
    if (!text) {
        u32(0);
        return;
    }
    uint32_t units = textLength(text) + 1, bytes = units * 2;
    if (failed_ || bytes > end_ || end_ - bytes < fixed_ + 4) {
        failed_ = true;
        return;
    }
    end_ -= bytes;
    for (uint32_t i = 0; i < units; ++i) {
        base_[end_ + 2 * i] = uint8_t(text[i]);
        base_[end_ + 2 * i + 1] = uint8_t(text[i] >> 8);
    }
    offset(end_);
}

void InfoBuffer::devMode(const SYDeviceMode &mode, const CMWchar *deviceName, uint32_t reserve)
{
    uint32_t space = (uint32_t(mode.driverExtraLength) + reserve) & ~1u;
    uint32_t at = below(space);
    if (failed_)
        return;
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, base_ + at, 0);
    d.length = size_ - at;
    if (!packDevMode(&d, mode, deviceName)) {
        failed_ = true;
        return;
    }
    offset(at);
}

void InfoBuffer::descriptor(const uint8_t *sd, uint32_t length)
{
    if (!sd || !length) {
        u32(0);
        return;
    }
    uint8_t packed[CM_SD_MAX_SIZE];
    uint32_t n = packDescriptor(packed, sizeof packed, sd, length);
    uint32_t at = n ? below(n) : (failed_ = true, 0);
    if (failed_)
        return;
    std::memcpy(base_ + at, packed, n);
    offset(at);
}

void InfoBuffer::descriptorInline(const uint8_t *sd, uint32_t length)
{
    uint8_t packed[CM_SD_MAX_SIZE];
    uint32_t n = sd && length ? packDescriptor(packed, sizeof packed, sd, length) : 0;
    if (!n) {
        u32(0);
        return;
    }
    offset(fixed_ + 4);
    if (!room(n))
        return;
    std::memcpy(base_ + fixed_, packed, n);
    fixed_ += n;
}

bool packDevMode(CMRpcPacketDescriptor *d, const SYDeviceMode &mode, const CMWchar *deviceName)
{
    uint8_t *start = d->current;
    packName(d, deviceName);
    cmRpcPackUint16(d, 0x0401);
    cmRpcPackUint16(d, mode.driverVersion);
    uint8_t *size = d->current;
    cmRpcPackUint16(d, 0);
    cmRpcPackUint16(d, mode.driverExtraLength);
    cmRpcPackUint32(d, mode.fields);
    for (uint16_t v : mode.shorts)
        cmRpcPackUint16(d, v);
    packName(d, mode.formName);
    cmRpcPackUint16(d, mode.logPixels);
    for (uint32_t v : mode.longs)
        cmRpcPackUint32(d, v);
    if (cmRpcIsOverrun(d))
        return false;
    // The size is of the fixed part alone; the extra bytes follow it.
    uint32_t fixed = uint32_t(d->current - start);
    size[0] = uint8_t(fixed);
    size[1] = uint8_t(fixed >> 8);
    if (mode.driverExtraLength && mode.driverExtra)
        cmRpcPackBytes(d, mode.driverExtra,
                       std::min<uint32_t>(mode.driverExtraLength, SY_DRIVER_EXTRA_BYTES));
    return !cmRpcIsOverrun(d);
}

uint32_t packDescriptor(uint8_t *out, uint32_t room, const uint8_t *sd, uint32_t length)
{
    if (!sd || length == 0 || length > CM_SD_MAX_SIZE)
        return 0;
    CMSdSecurityDescriptor record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.data, sd, length);
    record.length = length;
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, out, 0);
    d.length = room;
    cmSdPackSecurityDescriptor(&d, &record, CM_SD_OWNER | CM_SD_GROUP | CM_SD_DACL | CM_SD_SACL);
    return cmRpcIsOverrun(&d) ? 0 : uint32_t(d.current - out);
}

}  // namespace spoolss
