// Share security descriptors in share_sd.txt: fixed 860-byte records of the
// name (256 bytes, zero-padded), ";;", the descriptor as lower-case hex
// (600 bytes, zero-padded) and the bytes LF CR.
#include "udcontext.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t kNameField = 256;
constexpr size_t kHexField = 600;
constexpr size_t kRecord = kNameField + 2 + kHexField + 2;
constexpr size_t kHexOffset = kNameField + 2;

using Record = std::array<char, kRecord>;

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

ssize_t readFull(int fd, char *buf, size_t len)
{
    size_t got = 0;
    while (got < len) {
        ssize_t n = read(fd, buf + got, len - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool nameIs(const Record &r, const std::string &name)
{
    size_t len = strnlen(r.data(), kNameField);
    return len == name.size() && std::memcmp(r.data(), name.data(), len) == 0;
}

// Reads records until one carries the name; its offset, or -1 with `end` set
// to the offset after the last whole record.
off_t findRecord(int fd, const std::string &name, Record &r, off_t &end)
{
    off_t offset = 0;
    while (readFull(fd, r.data(), kRecord) == static_cast<ssize_t>(kRecord)) {
        if (nameIs(r, name))
            return offset;
        offset += static_cast<off_t>(kRecord);
    }
    end = offset;
    return -1;
}

void reportOverflow() { std::printf("UDCONFIG - Buffer overflow while loading share SD\n"); }

}  // namespace

extern "C" {

int udDefSaveShareSecurityDescriptor(const uint16_t *name, const uint8_t *sd, uint32_t length)
{
    return ud::guarded<int>(-1, [&]() -> int {
        ud::Context *ctx = ud::files();
        std::string n = ud::narrow(name);
        // A descriptor must load back: its hex has to leave a terminator in the
        // field, and the name has to fit its field to be found again.
        if (ctx == nullptr || length > UD_SHARE_SD_MAX || (sd == nullptr && length != 0) || n.empty() ||
            n.size() >= kNameField)
            return -1;
        Fd fd(open(ctx->shareSdFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0777));
        if (fd.get() < 0)
            return -1;
        Record r;
        off_t end = 0;
        off_t at = findRecord(fd.get(), n, r, end);
        if (at < 0)
            at = end;  // a torn record at the end is overwritten, keeping records aligned

        r.fill(0);
        std::memcpy(r.data(), n.data(), n.size());
        r[kNameField] = ';';
        r[kNameField + 1] = ';';
        static const char kHex[] = "0123456789abcdef";
        for (uint32_t i = 0; i < length; ++i) {
            r[kHexOffset + 2 * i] = kHex[sd[i] >> 4];
            r[kHexOffset + 2 * i + 1] = kHex[sd[i] & 0xF];
        }
        r[kRecord - 2] = 0x0A;
        r[kRecord - 1] = 0x0D;
        if (pwrite(fd.get(), r.data(), kRecord, at) != static_cast<ssize_t>(kRecord))
            return -1;
        return 0;
    });
}

int udSaveShareSecurityDescriptor(const uint16_t *name, const uint8_t *sd, uint32_t length)
{
    return udDefSaveShareSecurityDescriptor(name, sd, length);
}

uint32_t udDefLoadShareSecurityDescriptor(const uint16_t *name, uint8_t *buf, uint32_t size)
{
    return ud::guarded<uint32_t>(0u, [&]() -> uint32_t {
        ud::Context *ctx = ud::files();
        if (ctx == nullptr)
            return 0;
        Fd fd(open(ctx->shareSdFile.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0)
            return 0;
        Record r;
        off_t end = 0;
        if (findRecord(fd.get(), ud::narrow(name), r, end) < 0)
            return 0;
        const char *hex = r.data() + kHexOffset;
        if (hex[0] == '\0')
            return 0;
        if (size == 0) {
            reportOverflow();
            return 0;
        }
        uint32_t count = 0;
        for (size_t i = 0; i + 1 < kHexField && hex[i] != '\0'; i += 2) {
            int hi = ud::hexDigit(hex[i]);
            int lo = ud::hexDigit(hex[i + 1]);
            if (hi < 0 || lo < 0) {
                size_t bad = hi < 0 ? i : i + 1;
                std::printf("UDCONFIG - Non-hexadecimal character found in Share SD file: %.*s\n",
                            static_cast<int>(strnlen(hex + bad, kHexField - bad)), hex + bad);
                return 0;
            }
            if (count == size) {
                reportOverflow();
                return 0;
            }
            buf[count++] = static_cast<uint8_t>(hi << 4 | lo);
        }
        return count;
    });
}

uint32_t udLoadShareSecurityDescriptor(const uint16_t *name, uint8_t *buf, uint32_t size)
{
    return udDefLoadShareSecurityDescriptor(name, buf, size);
}

}  // extern "C"
