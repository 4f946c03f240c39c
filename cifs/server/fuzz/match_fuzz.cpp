// The iterative matcher against the recursive form it replaces, on short
// patterns and names over the wildcards' alphabet.
#include "csfiles.h"

#include <cstdlib>
#include <cstring>

namespace {

CMWchar upper(CMWchar c) { return c >= 'a' && c <= 'z' ? CMWchar(c - 32) : c; }

int lastDot(const CMWchar *name, int n)
{
    int d = -1;
    for (int i = 0; i < n; ++i)
        if (name[i] == '.')
            d = i;
    return d;
}

// Each wildcard as the recursive form has it; answers are remembered by
// (pattern, name) position so that the reference itself stays quick.
signed char gMemo[17][21];
const CMWchar *gPattern;

bool recursive(const CMWchar *p, const CMWchar *whole, int n, int i);

bool remembered(const CMWchar *p, const CMWchar *whole, int n, int i)
{
    signed char &m = gMemo[p - gPattern][i];
    if (m < 0)
        m = recursive(p, whole, n, i) ? 1 : 0;
    return m != 0;
}

bool recursive(const CMWchar *p, const CMWchar *whole, int n, int i)
{
    const CMWchar *name = whole + i;
    if (!*p)
        return i == n;
    switch (*p) {
    case '*':
        for (int k = i; k <= n; ++k)
            if (remembered(p + 1, whole, n, k))
                return true;
        return false;
    case '?':
        return i < n && remembered(p + 1, whole, n, i + 1);
    case '<': {
        int d = lastDot(whole, n);
        int limit = d >= i ? d : n;
        for (int k = i; k <= limit; ++k)
            if (remembered(p + 1, whole, n, k))
                return true;
        return false;
    }
    case '>':
        if (i == n || *name == '.')
            return remembered(p + 1, whole, n, i);
        return remembered(p + 1, whole, n, i + 1);
    case '"':
        if (i == n)
            return remembered(p + 1, whole, n, i);
        return *name == '.' && remembered(p + 1, whole, n, i + 1);
    default:
        return i < n && upper(*p) == upper(*name) && remembered(p + 1, whole, n, i + 1);
    }
}

const char kAlphabet[] = "ab.A*?<>\"";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    size_t split = data[0] % 13;
    CMWchar pattern[16] = {}, name[20] = {};
    size_t p = 0, n = 0;
    for (size_t i = 1; i < size; ++i) {
        CMWchar c = CMWchar(kAlphabet[data[i] % (sizeof kAlphabet - 1)]);
        if (p < split && p < 12)
            pattern[p++] = c;
        else if (n < 16 && c != '*' && c != '?' && c != '<' && c != '>' && c != '"')
            name[n++] = c;
    }
    std::memset(gMemo, -1, sizeof gMemo);
    gPattern = pattern;
    if (csMatchPattern(pattern, name) != (recursive(pattern, name, int(n), 0) ? 1 : 0))
        std::abort();
    return 0;
}
