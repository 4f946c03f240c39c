// The hooks' state block and the helpers their files share (not exported).
#ifndef UDCONTEXT_H
#define UDCONTEXT_H

#include "udhooks.h"
#include "udparse.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ud {

constexpr const char kDefaultDomain[] = "WORKGROUP";
constexpr const char kDefaultUser[] = "user";
constexpr const char kDefaultPassword[] = "pellmorn";

struct Context {
    // Handed out by udAllocateBuffer; stays first.
    std::array<uint8_t, UD_BUFFER_AREA_SIZE> buffers{};

    bool namesBuilt = false;
    std::string domainFile, shareFile, mountFile, userFile, shareSdFile, tempFile;

    bool cmConfigRead = false;
    uint32_t wins = 0;
    std::string scopeId;
    std::string domain = kDefaultDomain;
    int isWorkgroup = 1;

    std::string credUser = kDefaultUser;
    std::string credPassword = kDefaultPassword;
    std::string credDomain = kDefaultDomain;

    ParseContext shareParser{};
    bool shareEnumRunning = false;
    bool defaultShareGiven = false;
    ParseContext mountParser{};
    bool mountEnumRunning = false;
};

// Runs a hook's body; running out of memory gives `failed` instead of an
// exception through the C interface.
template <typename R, typename Body> R guarded(R failed, Body &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        return failed;
    }
}

template <typename Body> void guarded(Body &&body) noexcept
{
    try {
        body();
    } catch (...) {
    }
}

// The process's context; null before udInit and after udStop.
Context *context();
// The context with the file names built; null when the hooks are not started.
Context *files();
// Reads cm_cfg.txt once it can be opened.
void readDomainSettings(Context &ctx);

// UTF-16 to 8-bit text, one byte a unit (low byte kept); null gives "".
std::string narrow(const CMWchar *text);
// 8-bit text widened into dest, terminator included.
void widen(CMWchar *dest, const std::string &text);

// Whether text is read back unchanged from a field that ends at `delim`
// (parseValue) with room for `max` characters. Leading blanks and '#' at the
// start of a line are not: the line reader eats them.
bool isSafeValue(const std::string &text, size_t max, int delim, bool startsLine);

// The value of a hexadecimal digit of either case, or -1.
int hexDigit(int c);

// Closes a parser on every way out of a scope.
struct ParseCloser {
    ParseContext &p;
    ~ParseCloser() { parseStop(&p); }
};

// Passes over an empty or comment line; false when the line holds fields.
bool skipBlankOrComment(ParseContext &p);
// Reads a field up to `delim` and the delimiter after it; false (and the
// rest of the line skipped) when the delimiter is missing.
bool readField(ParseContext &p, char *buf, uint32_t size, int delim);

// A rewrite of a hook file: lines go to "__temp__", which replaces the target
// by a rename only when every write succeeded.
class Rewrite {
public:
    explicit Rewrite(const Context &ctx) : ctx_(ctx) {}
    ~Rewrite();
    Rewrite(const Rewrite &) = delete;
    Rewrite &operator=(const Rewrite &) = delete;

    // Starts an empty scratch file; a left-over one is cleared first.
    bool open();
    // Starts from `target` moved to the scratch name; false when it cannot be moved.
    bool openFromRenamed(const std::string &target);
    void write(const std::string &line);
    // Moves the scratch file onto target; false when a write failed.
    bool commit(const std::string &target);
    void discard();

private:
    const Context &ctx_;
    FILE *file_ = nullptr;
    bool failed_ = false;
    // Set when the scratch file is the target moved aside: a failure moves
    // it back, cut to its old size, instead of losing it.
    std::string restore_;
    long restoreSize_ = 0;

    void abandon();
};

}  // namespace ud

#endif
