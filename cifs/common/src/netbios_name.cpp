// NetBIOS names on the wire: formatting, first-level encoding with the
// scope, compression pointers, transaction ids and the node type.
#include "cmnetbios.h"

#include "cmstring.h"
#include "udhooks.h"

#include <atomic>
#include <cstring>

namespace {

constexpr uint8_t kEncodedNameLength = 0x20;
constexpr uint32_t kMaxLabel = 63;

std::atomic<uint16_t> gTranId{1};

bool isPointer(uint8_t b) { return (b & 0xC0) == 0xC0; }

// Where the pointer at p leads: only to something before it, so that a name
// can never lead back into itself.
const uint8_t *pointerTarget(const uint8_t *start, const uint8_t *end, const uint8_t *p)
{
    if (end - p < 2)
        return nullptr;
    size_t offset = (static_cast<size_t>(p[0] & 0x3F) << 8) | p[1];
    if (offset >= static_cast<size_t>(p - start))
        return nullptr;
    return start + offset;
}

// Scope labels into dotted text; a label that does not fit is left out.
class ScopeText {
public:
    ScopeText(char *out, uint32_t size) : out_(out), left_(out != nullptr ? size : 0) {}
    void add(const uint8_t *label, uint32_t len)
    {
        uint32_t need = len + (pos_ > 0 ? 1 : 0);
        if (need >= left_)
            return;
        if (pos_ > 0)
            out_[pos_++] = '.';
        std::memcpy(out_ + pos_, label, len);
        pos_ += len;
        left_ -= need;
    }
    void finish()
    {
        if (left_ > 0)
            out_[pos_] = '\0';
    }

private:
    char *out_;
    uint32_t left_;
    uint32_t pos_ = 0;
};

// The one walk behind parsing and skipping. Every byte read lies inside
// [start, end); one compression pointer per name, backwards only.
const uint8_t *walkName(const uint8_t *start, const uint8_t *end, const uint8_t *encoded, char *name17,
                        char *scope, uint32_t scopeSize)
{
    if (start == nullptr || end == nullptr || encoded == nullptr || encoded < start || encoded >= end)
        return nullptr;
    const uint8_t *p = encoded;
    const uint8_t *resume = nullptr;
    if (isPointer(*p)) {
        const uint8_t *target = pointerTarget(start, end, p);
        if (target == nullptr)
            return nullptr;
        resume = p + 2;
        p = target;
    }
    if (*p != kEncodedNameLength || end - p < 1 + 2 * CM_NB_NAME_SIZE)
        return nullptr;
    if (name17 != nullptr) {
        for (int i = 0; i < CM_NB_NAME_SIZE; ++i) {
            uint8_t hi = static_cast<uint8_t>(p[1 + 2 * i] - 'A');
            uint8_t lo = static_cast<uint8_t>(p[2 + 2 * i] - 'A');
            name17[i] = static_cast<char>(static_cast<uint8_t>(hi << 4) | lo);
        }
        name17[CM_NB_NAME_SIZE] = '\0';
    }
    p += 1 + 2 * CM_NB_NAME_SIZE;
    ScopeText text(scope, scopeSize);
    for (;;) {
        if (p >= end)
            return nullptr;
        uint8_t len = *p;
        if (len == 0) {
            ++p;
            break;
        }
        if (isPointer(len)) {
            if (resume != nullptr)
                return nullptr;
            const uint8_t *target = pointerTarget(start, end, p);
            if (target == nullptr)
                return nullptr;
            resume = p + 2;
            p = target;
            continue;
        }
        if (len > kMaxLabel || end - p - 1 < len)
            return nullptr;
        text.add(p + 1, len);
        p += 1 + len;
    }
    text.finish();
    return resume != nullptr ? resume : p;
}

}  // namespace

extern "C" {

void cmNetBiosNameFormat(char *name17, uint8_t suffix)
{
    if (name17 == nullptr || name17[0] == '\0')
        return;
    name17[CM_NB_NAME_SIZE] = '\0';
    size_t len = strnlen(name17, CM_NB_NAME_TEXT_MAX);
    name17[len] = '\0';
    cmAStrupr(name17);
    std::memset(name17 + len, ' ', CM_NB_NAME_SIZE - 1 - len);
    name17[CM_NB_NAME_SIZE - 1] = static_cast<char>(suffix);
    name17[CM_NB_NAME_SIZE] = '\0';
}

void cmNetBiosNameCreate(CMNetBiosNameInfo *record, const char *text, uint8_t suffix)
{
    if (record == nullptr)
        return;
    std::memset(record->name, 0, sizeof record->name);
    if (text != nullptr) {
        size_t n = 0;
        while (n < CM_NB_NAME_TEXT_MAX && text[n] != '\0' && text[n] != '.')
            ++n;
        std::memcpy(record->name, text, n);
    }
    cmNetBiosNameFormat(record->name, suffix);
}

void cmNetBiosNameClean(char *name17)
{
    if (name17 == nullptr)
        return;
    name17[CM_NB_NAME_SIZE] = '\0';
    size_t len = std::strlen(name17);
    while (len > 0 && name17[len - 1] == ' ')
        name17[--len] = '\0';
}

uint32_t cmNetBiosEncodeName(const CMNetBiosNameInfo *record, uint8_t *out)
{
    if (record == nullptr || out == nullptr)
        return 0;
    uint8_t *p = out;
    *p++ = kEncodedNameLength;
    for (int i = 0; i < CM_NB_NAME_SIZE; ++i) {
        uint8_t c = static_cast<uint8_t>(record->name[i]);
        *p++ = static_cast<uint8_t>('A' + (c >> 4));
        *p++ = static_cast<uint8_t>('A' + (c & 0x0F));
    }
    // Scope labels; the identity block keeps the scope within 99 characters,
    // and a label longer than the wire allows is cut.
    const char *scope = cmNetBiosGetScope();
    size_t scopeLen = strnlen(scope, CM_NB_SCOPE_MAX);
    size_t i = 0;
    while (i < scopeLen) {
        size_t j = i;
        while (j < scopeLen && scope[j] != '.')
            ++j;
        size_t len = j - i < kMaxLabel ? j - i : kMaxLabel;
        if (len > 0) {
            *p++ = static_cast<uint8_t>(len);
            std::memcpy(p, scope + i, len);
            p += len;
        }
        i = j + 1;
    }
    *p++ = 0;
    return static_cast<uint32_t>(p - out);
}

const uint8_t *cmNetBiosParseName(const uint8_t *packetStart, const uint8_t *packetEnd,
                                  const uint8_t *encoded, char *name17, char *scopeOut, uint32_t scopeSize)
{
    return walkName(packetStart, packetEnd, encoded, name17, scopeOut, scopeSize);
}

const uint8_t *cmNetBiosSkipName(const uint8_t *packetStart, const uint8_t *packetEnd, const uint8_t *encoded)
{
    return walkName(packetStart, packetEnd, encoded, nullptr, nullptr, 0);
}

uint32_t cmNetBiosEncodeNamePointer(const uint8_t *packetStart, uint8_t *out, const uint8_t *encoded)
{
    uint16_t pointer;
    if (isPointer(encoded[0]))
        pointer = static_cast<uint16_t>((encoded[0] << 8) | encoded[1]);
    else
        pointer = static_cast<uint16_t>(0xC000 | ((encoded - packetStart) & CM_NB_POINTER_MASK));
    out[0] = static_cast<uint8_t>(pointer >> 8);
    out[1] = static_cast<uint8_t>(pointer);
    return 2;
}

uint16_t cmNetBiosGetNextTranId(void) { return gTranId.fetch_add(1, std::memory_order_relaxed); }

uint32_t cmNetBiosGetNodeType(void) { return udGetWins() != 0 ? CM_NB_NODE_M : CM_NB_NODE_B; }

void cmNetBiosSetDatagramFlags(uint8_t *flags)
{
    if (flags == nullptr)
        return;
    switch (cmNetBiosGetNodeType()) {
    case CM_NB_NODE_M:
        *flags |= 0x08;
        break;
    case CM_NB_NODE_P:
        *flags |= 0x04;
        break;
    default:
        break;
    }
}

}  // extern "C"
