// SMB1 parameter blocks of the file commands and the names they carry.
#include "smb1_block.h"
#include "share_path.h"
#include "csdispatch.h"

#include <cstring>

namespace {

constexpr uint32_t kHeaderSize = 32;
constexpr uint16_t kUnicodeFlag = 0x8000;

uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

namespace cs {

Smb1Block smb1Block(const uint8_t *params, const uint8_t *response)
{
    Smb1Block b{};
    b.header = params - kHeaderSize;
    b.wordCount = params[0];
    b.words = params + 1;
    b.byteCount = le16(params + 1 + 2 * b.wordCount);
    b.bytes = params + 3 + 2 * b.wordCount;
    b.tid = le16(response + 24);
    b.uid = le16(response + 28);
    b.unicode = (le16(response + 10) & kUnicodeFlag) != 0;
    return b;
}

bool smb1Path(const Smb1Block &b, uint32_t *at, uint8_t format, const CSShare *share, bool wildcards,
              CMWchar *path)
{
    if (!share || *at >= b.byteCount || b.bytes[*at] != format)
        return false;
    uint32_t i = *at + 1;
    const uint32_t end = b.byteCount;
    CMWchar wide[CM_PATH_BUFFER + 1];
    char narrow[CM_PATH_BUFFER + 1];
    uint32_t n = 0;
    if (b.unicode) {
        if (((b.bytes + i) - b.header) & 1)
            ++i;
        for (; i + 1 < end; i += 2) {
            CMWchar c = CMWchar(le16(b.bytes + i));
            if (c == 0) {
                i += 2;
                break;
            }
            if (n >= CM_PATH_BUFFER)
                return false;
            wide[n++] = c;
        }
        wide[n] = 0;
    } else {
        for (; i < end; ++i) {
            char c = char(b.bytes[i]);
            if (c == 0) {
                ++i;
                break;
            }
            if (n >= CM_PATH_BUFFER)
                return false;
            narrow[n++] = c;
        }
        narrow[n] = 0;
    }
    *at = i < end ? i : end;
    const void *name = b.unicode ? static_cast<const void *>(wide) : static_cast<const void *>(narrow);
    return cs::shareLocalPath(path, share, name, b.unicode ? 1 : 0, wildcards ? 1 : 0) != nullptr;
}

uint32_t smb1EmptyAnswer(uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 3))
        return status;
    std::memset(*position, 0, 3);
    *position += 3;
    return 0;
}

}  // namespace cs
