// The firmware package file as the shell reads it: header words, the image
// table, the binary driver image and the system profile directory with its
// OID/value pairs. Every offset and length read from the file is bounded by
// the file before it is used: a malformed package is refused, never read
// past.
#include "firmware_package.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "psd_mask.h"
#include "vdsl_request.h"

const char *firmware_package_path = FIRMWARE_PACKAGE_PATH;

namespace {

constexpr char kEndOid[] = "0.0.0.0";
constexpr size_t kPrefixSize = 4;

class Package {
public:
    Package() = default;
    Package(const Package &) = delete;
    Package &operator=(const Package &) = delete;
    ~Package()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    // Opens the file; says so when it cannot.
    bool open()
    {
        fd_ = ::open(firmware_package_path, O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd_ < 0 || fstat(fd_, &st) != 0) {
            cli_print(CLI_LEVEL_ERROR, "firmware package file \"%s\" was not found.", firmware_package_path);
            return false;
        }
        size_ = static_cast<uint64_t>(st.st_size);
        return true;
    }

    uint64_t size() const { return size_; }

    // n bytes at off; false when they do not lie within the file.
    bool bytes(uint64_t off, size_t n, void *out)
    {
        if (off > size_ || n > size_ - off)
            return malformed("a field lies beyond the end of the file");
        auto *p = static_cast<unsigned char *>(out);
        size_t done = 0;
        while (done < n) {
            ssize_t got = pread(fd_, p + done, n - done, static_cast<off_t>(off + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return malformed("the file cannot be read");
            done += static_cast<size_t>(got);
        }
        return true;
    }

    bool word(uint64_t off, uint32_t &value)
    {
        unsigned char b[3];
        if (!bytes(off, sizeof b, b))
            return false;
        value = static_cast<uint32_t>(b[0]) << 16 | static_cast<uint32_t>(b[1]) << 8 | b[2];
        return true;
    }

    bool malformed(const char *why)
    {
        if (!reported_)
            cli_print(CLI_LEVEL_ERROR, "firmware package file \"%s\" is malformed: %s.",
                      firmware_package_path, why);
        reported_ = true;
        return false;
    }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    bool reported_ = false;
};

struct Entry {
    uint32_t data = 0;
    std::string name;  // at most PKG_NAME_MAX bytes
    bool cut = false;  // the name was longer and is only its first bytes
};

bool read_entry(Package &pkg, uint32_t dir, uint32_t index, Entry &e)
{
    uint64_t at = dir + static_cast<uint64_t>(index) * PKG_DIR_ENTRY;
    uint32_t length;
    if (!pkg.word(at, e.data) || !pkg.word(at + 3, length))
        return false;
    e.cut = length > PKG_NAME_MAX;
    size_t n = e.cut ? PKG_NAME_MAX : length;
    char name[PKG_NAME_MAX];
    if (!pkg.bytes(at + 6, n, name))
        return false;
    e.name.assign(name, n);
    return true;
}

bool directory(Package &pkg, uint32_t &count, uint32_t &dir)
{
    return pkg.word(PKG_PROFILE_COUNT, count) && pkg.word(PKG_PROFILE_DIR, dir);
}

// The file opened and its directory's entry count and offset read.
bool open_directory(Package &pkg, uint32_t &count, uint32_t &dir)
{
    return pkg.open() && directory(pkg, count, dir);
}

// Walks the pairs from off until "0.0.0.0"; on_pair(oid, value) returns
// false to stop early. 1 when stopped early, 0 at the end, -1 malformed.
template <typename F> int walk_pairs(Package &pkg, uint64_t off, F on_pair)
{
    for (;;) {
        uint32_t length;
        if (!pkg.word(off, length))
            return -1;
        if (length > VDSL_OID_MAX)
            return pkg.malformed("an OID is longer than any OID"), -1;
        char oid[VDSL_OID_MAX + 1];
        if (!pkg.bytes(off + 3, length, oid))
            return -1;
        oid[length] = '\0';
        off += 3 + length;
        cli_print(CLI_LEVEL_TRACE, "LOID: %s", oid);
        if (std::strcmp(oid, kEndOid) == 0)
            return 0;
        if (!pkg.word(off, length))
            return -1;
        if (length >= SYSPROF_VALUE_SIZE)
            return pkg.malformed("a value is longer than any MIB value"), -1;
        char value[SYSPROF_VALUE_SIZE];
        if (!pkg.bytes(off + 3, length, value))
            return -1;
        value[length] = '\0';
        off += 3 + length;
        cli_print(CLI_LEVEL_TRACE, "length: %d", static_cast<int>(length));
        cli_print(CLI_LEVEL_TRACE, "value: %s", value);
        if (!on_pair(oid, value))
            return 1;
    }
}

// The data offset of the profile prefix+name: 0, 100 after "No such
// Profile!!", -1 when the package is malformed.
int find_profile(Package &pkg, const char *prefix, const char *name, uint32_t &data)
{
    std::string wanted = std::string(prefix) + name;
    uint32_t count, dir;
    if (!directory(pkg, count, dir))
        return -1;
    for (uint32_t i = 0; i < count; i++) {
        Entry e;
        if (!read_entry(pkg, dir, i, e))
            return -1;
        if (!e.cut && e.name == wanted) {
            cli_print(CLI_LEVEL_TRACE, "profile name: %s\n", e.name.c_str());
            data = e.data;
            return 0;
        }
    }
    cli_print(CLI_LEVEL_ERROR, "No such Profile!!");
    return CLI_FAILED;
}

// Writes every pair into the port's chip MIB; the last write's result.
int apply_pairs(Package &pkg, int port, uint32_t data)
{
    int last = 0;
    int walked = walk_pairs(pkg, data, [&](const char *oid, const char *value) {
        last = mib_set_logic(port, oid, value);
        if (last != 0)
            cli_print(CLI_LEVEL_ERROR, "Error setting MIB value.");
        else
            cli_print(CLI_LEVEL_TERMINAL, "MIB value has set.");
        return true;
    });
    return walked < 0 ? CLI_FAILED : last;
}

// The user PSD masks stored for the port go back over what a profile wrote.
void reapply_user_psd_masks(int port)
{
    struct Direction {
        const char *key, *name, *oid;
    } directions[] = {{"USR_PSD_MASK_US_P%d", "us", "0.10.8"}, {"USR_PSD_MASK_DS_P%d", "ds", "0.10.7"}};
    for (const Direction &d : directions) {
        char key[32];
        std::snprintf(key, sizeof key, d.key, port + 1);
        char line[256];
        enum cfgmgr_read_result got = cfgmgr_read(key, line, sizeof line);
        if (got == CFGMGR_READ_FAILED) {
            cli_print(CLI_LEVEL_ORDINARY, "Pipe failed.");
            return;
        }
        if (got == CFGMGR_READ_ABSENT)
            continue;
        size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\n')
            line[n - 1] = '\0';
        if (got != CFGMGR_READ_OK || psd_sequence_check(d.name, line) != 0) {
            cli_print(CLI_LEVEL_ORDINARY, "The stored MIB PSD mask is illegal.");
            continue;
        }
        int rc = mib_set_logic(port, d.oid, line);
        cli_print(CLI_LEVEL_ORDINARY, rc == 0 ? "MIB value has set." : "Error setting MIB value.");
    }
}

const char *kind_label(const char *prefix)
{
    static const struct {
        const char *prefix, *label;
    } labels[] = {{"SYS_", "System"}, {"BND_", "Band"},     {"VNS_", "Virtual Noise"},
                  {"PSD_", "PSD"},    {"RFI_", "RFI Band"}, {"DPB_", "DPBO PSD"}};
    for (const auto &l : labels)
        if (std::strcmp(prefix, l.prefix) == 0)
            return l.label;
    return prefix;
}

bool same_kind(const std::string &name, const char *prefix)
{
    return name.size() >= kPrefixSize && name.compare(0, kPrefixSize, prefix, kPrefixSize) == 0;
}

}  // namespace

extern "C" int sysprof_find(const char *prefix, const char *name, const char *oid, char *value,
                            size_t capacity)
{
    if (capacity > 0)
        value[0] = '\0';
    Package pkg;
    if (!pkg.open())
        return CLI_FAILED;
    uint32_t data;
    int rc = find_profile(pkg, prefix, name, data);
    if (rc != 0)
        return CLI_FAILED;
    bool found = false;
    int walked = walk_pairs(pkg, data, [&](const char *o, const char *v) {
        if (std::strcmp(o, oid) != 0)
            return true;
        found = std::strlen(v) < capacity;
        if (found)
            std::memcpy(value, v, std::strlen(v) + 1);
        return false;
    });
    if (walked < 0)
        return CLI_FAILED;
    if (!found) {
        if (walked == 0)
            cli_print(CLI_LEVEL_ERROR, "No such OID!!");
        else
            cli_print(CLI_LEVEL_ERROR, "Value of %s does not fit its buffer (%zu bytes).", oid, capacity);
        if (capacity > 0)
            value[0] = '\0';
        return CLI_FAILED;
    }
    return 0;
}

extern "C" int sysprof_apply(int port, const char *prefix, const char *name)
{
    Package pkg;
    if (!pkg.open())
        return CLI_FAILED;
    uint32_t data;
    if (find_profile(pkg, prefix, name, data) != 0)
        return CLI_FAILED;
    return apply_pairs(pkg, port, data);
}

extern "C" int apply_package_profile(int port, int number)
{
    Package pkg;
    uint32_t count, dir;
    if (!open_directory(pkg, count, dir))
        return CLI_FAILED;
    if (number == 255) {
        uint32_t fallback;
        if (!pkg.word(PKG_DEFAULT_PROFILE, fallback))
            return CLI_FAILED;
        number = static_cast<int>(fallback & 0xFFFF);
    }
    if (number <= 0 || static_cast<uint32_t>(number) > count) {
        cli_print(CLI_LEVEL_ERROR, "No such Profile ID: %d", number);
        return CLI_FAILED;
    }
    Entry e;
    if (!read_entry(pkg, dir, static_cast<uint32_t>(number - 1), e))
        return CLI_FAILED;
    cli_print(CLI_LEVEL_TRACE, "profile name: %s\n", e.name.c_str());
    int rc = apply_pairs(pkg, port, e.data);
    reapply_user_psd_masks(port);
    return rc;
}

extern "C" int sysprof_list(int mode, int n, const char *prefix, char *name)
{
    if (mode == 0)
        name[0] = '\0';
    Package pkg;
    uint32_t count, dir;
    if (!open_directory(pkg, count, dir))
        return CLI_FAILED;
    if (dir > pkg.size()) {
        cli_print(CLI_LEVEL_ERROR, "Error setting file position (%d).", EINVAL);
        return CLI_FAILED;
    }
    if (mode == 0 && (n <= 0 || static_cast<uint32_t>(n) > count))
        return 0;
    std::string text = std::string("Supported ") + kind_label(prefix) + " profile:";
    int seen = 0;
    for (uint32_t i = 0; i < count; i++) {
        Entry e;
        if (!read_entry(pkg, dir, i, e))
            return CLI_FAILED;
        if (!same_kind(e.name, prefix)) {
            if (seen > 0)
                break;  // the kind's entries stand together
            continue;
        }
        seen++;
        std::string bare = e.name.substr(kPrefixSize);
        if (mode == 0) {
            if (seen == n) {
                std::memcpy(name, bare.c_str(), bare.size() + 1);
                return 0;
            }
            continue;
        }
        text += "\n" + bare;
        cli_print(CLI_LEVEL_RECORD, "%s|", bare.c_str());
    }
    if (mode != 0)
        cli_print(CLI_LEVEL_ORDINARY, "%s", text.c_str());
    return 0;
}

extern "C" int sysprof_exists(const char *prefix, const char *name)
{
    char found[SYSPROF_NAME_SIZE];
    for (int n = 1;; n++) {
        if (sysprof_list(0, n, prefix, found) != 0 || found[0] == '\0')
            return CLI_USAGE;
        if (std::strcmp(found, name) == 0)
            return 0;
    }
}

extern "C" int package_image_count(uint32_t *count)
{
    Package pkg;
    return pkg.open() && pkg.word(PKG_IMAGE_COUNT, *count) ? 0 : CLI_FAILED;
}

extern "C" int package_image_span(uint32_t id, uint32_t *start, uint32_t *length)
{
    Package pkg;
    if (!pkg.open())
        return CLI_FAILED;
    uint32_t end;
    uint64_t at = PKG_IMAGE_TABLE + 3 * static_cast<uint64_t>(id - 1);
    if (id == 0 || id > PKG_IMAGE_MAX || !pkg.word(at, *start) || !pkg.word(at + 3, end))
        return CLI_FAILED;
    if (end < *start || end > pkg.size()) {
        pkg.malformed("an image lies beyond the end of the file");
        return CLI_FAILED;
    }
    *length = end - *start;
    return 0;
}

extern "C" int package_bindrv_span(uint32_t *start, uint32_t *length)
{
    Package pkg;
    if (!pkg.open() || !pkg.word(PKG_BINDRV_OFFSET, *start) || !pkg.word(PKG_BINDRV_LENGTH, *length))
        return CLI_FAILED;
    if (*start > pkg.size() || *length > pkg.size() - *start) {
        pkg.malformed("the binary driver image lies beyond the end of the file");
        return CLI_FAILED;
    }
    return 0;
}

extern "C" void package_version(unsigned char version[PKG_VERSION_SIZE])
{
    std::memset(version, 0, PKG_VERSION_SIZE);
    int fd = ::open(firmware_package_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    unsigned char got[PKG_VERSION_SIZE];
    if (pread(fd, got, sizeof got, PKG_VERSION) == static_cast<ssize_t>(sizeof got))
        std::memcpy(version, got, sizeof got);
    ::close(fd);
}
