// Wildcard walks of the SMB1 delete, rename and copy commands: the pattern
// matcher, the directory walk that gives each matching path, and the
// destination names built from a mask.
#include "csfiles.h"
#include "cspaths.h"
#include "csservices.h"
#include "cmmemory.h"
#include "cmstring.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

const CMWchar kDot[] = {'.', 0};
const CMWchar kDotDot[] = {'.', '.', 0};

CSEnumeration *gSource, *gDestination;

CMWchar upper(CMWchar c)
{
    if (c < 0x80)
        return c >= 'a' && c <= 'z' ? CMWchar(c - 32) : c;
    CMWchar u;
    cmWToupper(&u, c);
    return u;
}

bool sameUnit(CMWchar a, CMWchar b) { return a == b || upper(a) == upper(b); }

bool isWildUnit(CMWchar c) { return c == '*' || c == '?' || c == '<' || c == '>' || c == '"'; }
bool isMaskWildcard(CMWchar c) { return c == '*' || c == '?' || c == '>'; }

uint32_t length(const CMWchar *s) { return cmWStrlen(s); }

bool equals(const CMWchar *a, const char *b)
{
    for (; *a && *b; ++a, ++b)
        if (*a != CMWchar(*b))
            return false;
    return *a == 0 && *b == 0;
}

// Where '<' may stop matching at name position i: the name's last '.' when
// it is still ahead, else the end.
struct LastDot {
    explicit LastDot(const CMWchar *name, uint32_t n) : n(n)
    {
        for (uint32_t i = 0; i < n; ++i)
            if (name[i] == '.')
                dot = int64_t(i);
    }
    uint32_t limit(uint32_t i) const { return dot >= int64_t(i) ? uint32_t(dot) : n; }
    uint32_t n;
    int64_t dot = -1;
};

// Whether pattern position j may be passed without taking a name unit at i.
bool skips(CMWchar p, const CMWchar *name, uint32_t i, uint32_t n)
{
    switch (p) {
    case '*':
    case '<':
        return true;
    case '>':
        return i == n || name[i] == '.';
    case '"':
        return i == n;
    default:
        return false;
    }
}

// The pattern position after taking name unit i at position j; -1 for none.
// Both texts are upper-cased already.
int64_t takes(const CMWchar *pattern, uint32_t j, const CMWchar *name, uint32_t i, const LastDot &dots)
{
    CMWchar p = pattern[j], c = name[i];
    switch (p) {
    case '*':
        return j;
    case '?':
        return j + 1;
    case '<':
        return i < dots.limit(i) ? int64_t(j) : -1;
    case '>':
        return c != '.' ? int64_t(j) + 1 : -1;
    case '"':
        return c == '.' ? int64_t(j) + 1 : -1;
    default:
        return p == c ? int64_t(j) + 1 : -1;
    }
}

void toUpper(CMWchar *out, const CMWchar *text, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        out[i] = upper(text[i]);
}

// All positions of the pattern at once, one name unit at a time: linear in
// each length, whatever the pattern. now and next hold patternLength + 1.
bool matchUpper(const CMWchar *pattern, uint32_t patternLength, const CMWchar *name, uint32_t nameLength,
                uint8_t *now, uint8_t *next)
{
    LastDot dots(name, nameLength);
    std::memset(now, 0, patternLength + 1);
    now[0] = 1;
    for (uint32_t i = 0;; ++i) {
        for (uint32_t j = 0; j < patternLength; ++j)
            if (now[j] && skips(pattern[j], name, i, nameLength))
                now[j + 1] = 1;
        if (i == nameLength)
            return now[patternLength] != 0;
        std::memset(next, 0, patternLength + 1);
        bool any = false;
        for (uint32_t j = 0; j < patternLength; ++j) {
            if (!now[j])
                continue;
            int64_t to = takes(pattern, j, name, i, dots);
            if (to >= 0) {
                next[size_t(to)] = 1;
                any = true;
            }
        }
        if (!any)
            return false;
        std::swap(now, next);
    }
}

// Names of a directory and the patterns of requests fit the stack; longer
// texts take the heap.
constexpr uint32_t kStackPattern = 256, kStackName = 1024;

// '*' and '?' alone: one pass that returns to the last '*' on a mismatch,
// at most once per name unit and star, never recursively.
bool matchStars(const CMWchar *pattern, uint32_t p, const CMWchar *name, uint32_t n)
{
    uint32_t i = 0, j = 0, starI = 0;
    int64_t starJ = -1;
    while (i < n) {
        if (j < p && pattern[j] != '*' && (pattern[j] == '?' || sameUnit(pattern[j], name[i]))) {
            ++i;
            ++j;
        } else if (j < p && pattern[j] == '*') {
            starJ = j++;
            starI = i;
        } else if (starJ >= 0) {
            j = uint32_t(starJ) + 1;
            i = ++starI;
        } else {
            return false;
        }
    }
    while (j < p && pattern[j] == '*')
        ++j;
    return j == p;
}

bool match(const CMWchar *pattern, uint32_t patternLength, const CMWchar *name, uint32_t nameLength)
{
    bool dosWildcards = false;
    for (uint32_t j = 0; j < patternLength && !dosWildcards; ++j)
        dosWildcards = pattern[j] == '<' || pattern[j] == '>' || pattern[j] == '"';
    if (!dosWildcards)
        return matchStars(pattern, patternLength, name, nameLength);
    if (patternLength <= kStackPattern && nameLength <= kStackName) {
        CMWchar p[kStackPattern], n[kStackName];
        uint8_t now[kStackPattern + 1], next[kStackPattern + 1];
        toUpper(p, pattern, patternLength);
        toUpper(n, name, nameLength);
        return matchUpper(p, patternLength, n, nameLength, now, next);
    }
    std::vector<CMWchar> p(patternLength + 1), n(nameLength + 1);
    std::vector<uint8_t> now(patternLength + 1), next(patternLength + 1);
    toUpper(p.data(), pattern, patternLength);
    toUpper(n.data(), name, nameLength);
    return matchUpper(p.data(), patternLength, n.data(), nameLength, now.data(), next.data());
}

// rest[i][j]: pattern from i matches name from j (the rule of match, filled
// backwards), so a '*' of the destination builder asks in one step.
class MatchTable {
public:
    MatchTable(const CMWchar *rawPattern, uint32_t p, const CMWchar *rawName, uint32_t n)
        : n_(n), cells_((size_t(p) + 1) * (n + 1), 0)
    {
        std::vector<CMWchar> upperPattern(p + 1), upperName(n + 1);
        toUpper(upperPattern.data(), rawPattern, p);
        toUpper(upperName.data(), rawName, n);
        const CMWchar *pattern = upperPattern.data(), *name = upperName.data();
        LastDot dots(name, n);
        at(p, n) = 1;
        for (int64_t i = int64_t(p) - 1; i >= 0; --i) {
            uint32_t pi = uint32_t(i);
            for (int64_t jj = n; jj >= 0; --jj) {
                uint32_t j = uint32_t(jj);
                bool m = skips(pattern[pi], name, j, n) && at(pi + 1, j);
                if (!m && j < n) {
                    int64_t to = takes(pattern, pi, name, j, dots);
                    m = to >= 0 && at(uint32_t(to), j + 1);
                }
                at(pi, j) = m;
            }
        }
    }
    bool rest(uint32_t i, uint32_t j) const { return cells_[size_t(i) * (n_ + 1) + j] != 0; }

private:
    uint8_t &at(uint32_t i, uint32_t j) { return cells_[size_t(i) * (n_ + 1) + j]; }
    uint32_t n_;
    std::vector<uint8_t> cells_;
};

// Appends text to the result after the directory; false when it does not fit.
bool putEntry(CSEnumeration *c, const CMWchar *text)
{
    uint32_t room = uint32_t(c->result + CS_ENUM_PATH_UNITS - c->entry);
    uint32_t n = length(text);
    if (n + 1 > room)
        return false;
    std::memcpy(c->entry, text, (n + 1) * sizeof(CMWchar));
    return true;
}

// The result buffer begins with the directory and a '/'.
bool startResult(CSEnumeration *c)
{
    uint32_t n = length(c->directory);
    if (n + 2 > CS_ENUM_PATH_UNITS)
        return false;
    std::memcpy(c->result, c->directory, n * sizeof(CMWchar));
    c->result[n] = '/';
    c->result[n + 1] = 0;
    c->entry = c->result + n + 1;
    return true;
}

void restorePath(CSEnumeration *c)
{
    if (c->hasDirectory && c->pattern && c->pattern > c->path)
        c->pattern[-1] = '/';
}

// The destination name for a matched source name: the mask's literal parts
// and, for each wildcard of the source pattern, the units it matched. Past
// the mask's last wildcard the source's matches are not copied (a mask
// "*.bak" for "*.*" gives "abc.bak", not "abc.baktxt"). False when the name
// does not fit in room units.
bool buildDestination(const CMWchar *pattern, const CMWchar *name, const CMWchar *mask, CMWchar *out,
                      uint32_t room)
{
    uint32_t p = length(pattern), n = length(name), used = 0;
    MatchTable table(pattern, p, name, n);
    auto put = [&](CMWchar c) {
        if (used + 1 >= room)
            return false;
        out[used++] = c;
        return true;
    };
    uint32_t sp = 0, np = 0;
    const CMWchar *mp = mask;
    bool fits = true;
    for (;;) {
        uint32_t w = sp;
        while (w < p && !isMaskWildcard(pattern[w]))
            ++w;
        for (uint32_t k = sp; k < w && np < n && upper(pattern[k]) == upper(name[np]); ++k)
            ++np;
        while (*mp && !isMaskWildcard(*mp))
            fits = fits && put(*mp++);
        if (w == p)
            break;
        bool paired = *mp != 0;
        if (pattern[w] == '*') {
            for (; np < n && !table.rest(w + 1, np); ++np)
                if (paired)
                    fits = fits && put(name[np]);
        } else if (np < n) {
            if (paired)
                fits = fits && put(name[np]);
            ++np;
        }
        sp = w + 1;
        if (paired)
            ++mp;
        if (np == n)
            break;
    }
    for (; *mp; ++mp)
        if (!isMaskWildcard(*mp))
            fits = fits && put(*mp);
    out[used] = 0;
    return fits;
}

}  // namespace

extern "C" {

int csMatchPattern(const CMWchar *pattern, const CMWchar *name)
{
    if (!pattern || !name)
        return 0;
    try {
        return match(pattern, length(pattern), name, length(name)) ? 1 : 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

const CMWchar *csFindWildcard(const CMWchar *pattern)
{
    for (; pattern && *pattern; ++pattern)
        if (isMaskWildcard(*pattern))
            return pattern;
    return nullptr;
}

void csSplitPathPattern(CSEnumeration *c, const CMWchar *path)
{
    uint32_t n = length(path);
    if (n >= CS_ENUM_PATH_UNITS)
        n = CS_ENUM_PATH_UNITS - 1;
    std::memcpy(c->path, path, n * sizeof(CMWchar));
    c->path[n] = 0;
    CMWchar *slash = cmWStrrchr(c->path, '/');
    c->hasDirectory = slash != nullptr;
    if (slash) {
        *slash = 0;
        c->directory = c->path;
        c->pattern = slash + 1;
    } else {
        c->directory = kDot;
        c->pattern = c->path;
    }
    c->isWild = 0;
    for (const CMWchar *q = c->pattern; *q; ++q)
        c->isWild |= isWildUnit(*q);
}

int csEnumerateSourceName(CSEnumeration *c, const CMWchar *path, uint32_t attributes)
{
    if (!c || !path)
        return -1;
    if (c->state)
        csCancelEnumeration(c);
    c->handle = nullptr;
    c->state = 0;
    // A cut path names another file: refuse it whole.
    if (length(path) >= CS_ENUM_PATH_UNITS)
        return -1;
    csSplitPathPattern(c, path);
    if (c->isWild) {
        if (!startResult(c))
            return -1;
    } else {
        restorePath(c);
    }
    c->attributes = attributes;
    c->state = 1;
    c->pendingFirstResult = 0;
    c->includeDots = 0;
    c->returnedDot = c->returnedDotDot = 0;
    return 0;
}

const CMWchar *csNextSourceName(CSEnumeration *c)
{
    if (!c || !c->state)
        return nullptr;
    if (c->pendingFirstResult) {
        c->pendingFirstResult = 0;
        return c->result;
    }
    if (!c->isWild) {
        c->state = 0;
        // The name as given, else in the case found on disk: a wildcard
        // matches without regard to case, so a plain name does too.
        return csCheckFile(nullptr, c->path, 1) || csCheckFile(nullptr, c->path, 0) ? c->path : nullptr;
    }
    if (equals(c->pattern, "*") || equals(c->pattern, "*.") || equals(c->pattern, "*.*")) {
        if (!c->returnedDot) {
            c->returnedDot = 1;
            if (putEntry(c, kDot))
                return c->result;
        }
        if (!c->returnedDotDot) {
            c->returnedDotDot = 1;
            if (putEntry(c, kDotDot))
                return c->result;
        }
    }
    for (;;) {
        const CMWchar *entry = nullptr;
        int rc = c->handle ? syNextDirectoryFile(c->handle, &entry)
                           : syFirstDirectoryFile(c->directory, &c->handle, &entry);
        if (rc != 0 || !entry) {
            csCancelEnumeration(c);
            return nullptr;
        }
        if (!c->includeDots && (equals(entry, ".") || equals(entry, "..")))
            continue;
        // An entry whose full path does not fit is passed over, never cut.
        if (csMatchPattern(c->pattern, entry) && putEntry(c, entry))
            return c->result;
    }
}

void csCancelEnumeration(CSEnumeration *c)
{
    if (!c)
        return;
    if (c->handle) {
        syCloseDirectory(c->handle);
        c->handle = nullptr;
    }
    if (c->state)
        restorePath(c);
    c->state = 0;
}

int csFnamesInit(void)
{
    csFnamesExit();
    gSource = static_cast<CSEnumeration *>(cmMemoryAllocNonDebug(sizeof(CSEnumeration)));
    gDestination = static_cast<CSEnumeration *>(cmMemoryAllocNonDebug(sizeof(CSEnumeration)));
    if (!gSource || !gDestination) {
        csFnamesExit();
        return -1;
    }
    std::memset(gSource, 0, sizeof *gSource);
    std::memset(gDestination, 0, sizeof *gDestination);
    return 0;
}

void csFnamesExit(void)
{
    csCancelEnumeration(gSource);
    cmMemoryFreeNonDebug(gSource);
    cmMemoryFreeNonDebug(gDestination);
    gSource = gDestination = nullptr;
}

int csEnumerateSourceAndDestinationName(const CMWchar *source, const CMWchar *mask, uint32_t attributes)
{
    if (!gSource || !gDestination || !mask || length(mask) >= CS_ENUM_PATH_UNITS)
        return -1;
    if (csEnumerateSourceName(gSource, source, attributes) != 0)
        return -1;
    csSplitPathPattern(gDestination, mask);
    if (!startResult(gDestination)) {
        csCancelEnumeration(gSource);
        return -1;
    }
    // The mask as given stays whole for a destination taken unchanged.
    restorePath(gDestination);
    gDestination->state = 1;
    return 0;
}

int csNextSourceAndDestinationName(const CMWchar **source, const CMWchar **destination)
{
    if (!gSource || !gDestination)
        return 0;
    for (;;) {
        const CMWchar *s = csNextSourceName(gSource);
        if (!s) {
            csCancelDefaultEnumeration();
            return 0;
        }
        if (!gSource->isWild || !gDestination->isWild) {
            *source = s;
            *destination = gDestination->path;
            return 1;
        }
        uint32_t room = uint32_t(gDestination->result + CS_ENUM_PATH_UNITS - gDestination->entry);
        bool built = false;
        try {
            built = buildDestination(gSource->pattern, gSource->entry, gDestination->pattern,
                                     gDestination->entry, room);
        } catch (const std::bad_alloc &) {
            built = false;
        }
        // A destination that does not fit would name another file: skip the source.
        if (built) {
            *source = s;
            *destination = gDestination->result;
            return 1;
        }
    }
}

void csCancelDefaultEnumeration(void)
{
    csCancelEnumeration(gSource);
    if (gDestination)
        gDestination->state = 0;
}

}  // extern "C"
