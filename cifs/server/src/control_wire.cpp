// Fields of the control message: strings as a u16 count, the UTF-16LE units
// and a zero unit; numbers and flags as u16.
#include "control_wire.h"
#include "cmipaddr.h"
#include "cmstring.h"

#include <algorithm>
#include <cstring>

namespace cs::ctrl {

namespace {

// The units of a string that stays inside the message, or null.
const uint8_t *stringUnits(CMBufferReader *r, uint16_t *count)
{
    cmBufferReadUint16(r, count);
    if (cmBufferReaderIsOverrun(r) || cmBufferReaderGetRemaining(r) < (uint32_t(*count) + 1) * 2)
        return nullptr;
    const uint8_t *units = cmBufferReaderGetPosition(r);
    cmBufferReaderSkip(r, (uint32_t(*count) + 1) * 2);
    return units;
}

CMWchar unitAt(const uint8_t *p, uint32_t i) { return CMWchar(p[2 * i] | p[2 * i + 1] << 8); }

// Keeps a surrogate pair whole when a string is shortened.
uint32_t cutAt(const CMWchar *text, uint32_t length, uint32_t cap)
{
    if (length <= cap)
        return length;
    if (cap > 0 && text[cap - 1] >= 0xD800 && text[cap - 1] <= 0xDBFF)
        return cap - 1;
    return cap;
}

}  // namespace

bool readString(CMBufferReader *r, CMWchar *out, uint32_t room)
{
    uint16_t count = 0;
    const uint8_t *units = stringUnits(r, &count);
    if (!units || uint32_t(count) + 1 > room)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        out[i] = unitAt(units, i);
        if (out[i] == 0)
            return false;
    }
    out[count] = 0;
    return true;
}

bool readStringCut(CMBufferReader *r, CMWchar *out, uint32_t room)
{
    uint16_t count = 0;
    const uint8_t *units = stringUnits(r, &count);
    if (!units)
        return false;
    uint32_t keep = std::min<uint32_t>(count, room - 1), i = 0;
    for (; i < keep && unitAt(units, i) != 0; ++i)
        out[i] = unitAt(units, i);
    out[i] = 0;
    return true;
}

void writeString(CMBufferWriter *w, const CMWchar *text, uint32_t units)
{
    cmBufferWriteUint16(w, uint16_t(units));
    for (uint32_t i = 0; i < units; ++i)
        cmBufferWriteUint16(w, text[i]);
    cmBufferWriteUint16(w, 0);
}

void writeRecord(CMBufferWriter *w, const Item *items, size_t count)
{
    // Bytes that do not shrink: numbers, narrow texts, each string's count and terminator.
    uint32_t fixed = 0, longest = 0, total = 0;
    uint32_t lengths[8] = {};
    count = std::min<size_t>(count, 8);
    for (size_t i = 0; i < count; ++i) {
        const Item &it = items[i];
        if (it.kind == Item::Number) {
            fixed += 2;
        } else if (it.kind == Item::Narrow) {
            fixed += 3 + uint32_t(std::strlen(it.narrow));
        } else {
            lengths[i] = std::min<uint32_t>(cmWStrlen(it.wide), 0xFFFF);
            fixed += 4;
            longest = std::max(longest, lengths[i]);
            total += lengths[i];
        }
    }
    uint32_t remaining = cmBufferWriterGetRemaining(w);
    uint32_t budget = remaining > fixed ? (remaining - fixed) / 2 : 0;
    // The largest cap under which every string, cut to it, still fits.
    uint32_t cap = longest;
    if (total > budget) {
        uint32_t low = 0, high = longest;
        while (low < high) {
            uint32_t mid = (low + high + 1) / 2, sum = 0;
            for (size_t i = 0; i < count; ++i)
                if (items[i].kind == Item::Wide)
                    sum += std::min(lengths[i], mid);
            if (sum <= budget)
                low = mid;
            else
                high = mid - 1;
        }
        cap = low;
    }
    for (size_t i = 0; i < count; ++i) {
        const Item &it = items[i];
        if (it.kind == Item::Number) {
            cmBufferWriteUint16(w, it.number);
        } else if (it.kind == Item::Narrow) {
            uint32_t n = uint32_t(std::strlen(it.narrow));
            cmBufferWriteUint16(w, uint16_t(n));
            cmBufferWriteBytes(w, it.narrow, n);
            cmBufferWriteByte(w, 0);
        } else {
            writeString(w, it.wide, cutAt(it.wide, lengths[i], cap));
        }
    }
}

int parseShare(CMBufferReader *r, CSCtrlShareRecord *record)
{
    uint16_t level = 0;
    bool ok = readStringCut(r, record->name, 64) && readStringCut(r, record->path, 500) &&
              readStringCut(r, record->statusPath, 500);
    cmBufferReadUint16(r, &level);
    ok = ok && readStringCut(r, record->comment, 502);
    record->debugLevel = int16_t(level);
    return ok && !cmBufferReaderIsOverrun(r) ? 0 : -1;
}

int parseUser(CMBufferReader *r, CSCtrlUserRecord *record)
{
    uint16_t admin = 0;
    bool ok = readStringCut(r, record->name, 256) && readStringCut(r, record->fullName, 256) &&
              readStringCut(r, record->description, 256);
    cmBufferReadUint16(r, &admin);
    record->administrator = admin == 1;
    return ok && !cmBufferReaderIsOverrun(r) ? 0 : -1;
}

int parseClient(CMBufferReader *r, CSCtrlClientRecord *record)
{
    CMWchar address[34];
    uint16_t dialect = 0, guest = 0, anonymous = 0, owner = 0;
    bool ok = readStringCut(r, address, 34);
    cmBufferReadUint16(r, &dialect);
    ok = ok && readStringCut(r, record->name, 515);
    cmBufferReadUint16(r, &guest);
    cmBufferReadUint16(r, &anonymous);
    cmBufferReadUint16(r, &owner);
    record->address = 0;
    if (ok)
        cmWcharToIp(address, &record->address);
    record->dialect = dialect;
    record->guest = guest == 1;
    record->anonymous = anonymous == 1;
    record->printerOwner = owner == 1;
    return ok && !cmBufferReaderIsOverrun(r) ? 0 : -1;
}

int parseFile(CMBufferReader *r, CSCtrlFileRecord *record)
{
    uint16_t length = 0, directory = 0;
    char address[18] = {};
    cmBufferReadUint16(r, &length);
    if (cmBufferReaderIsOverrun(r) || cmBufferReaderGetRemaining(r) < uint32_t(length) + 1)
        return -1;
    const uint8_t *text = cmBufferReaderGetPosition(r);
    std::memcpy(address, text, std::min<uint32_t>(length, sizeof address - 1));
    cmBufferReaderSkip(r, uint32_t(length) + 1);
    bool ok = readStringCut(r, record->path, 1026) && readStringCut(r, record->user, 514);
    cmBufferReadUint16(r, &directory);
    record->address = 0;
    cmAsciiToIp(address, &record->address);
    record->isDirectory = directory == 1;
    return ok && !cmBufferReaderIsOverrun(r) ? 0 : -1;
}

}  // namespace cs::ctrl
