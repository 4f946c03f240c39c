// Breakpoint words: six hex characters, tone index in bits 0-15 and a
// level code in bits 16-23.
#include <cstdio>
#include <cstdlib>

#include "vdsl_profiles.h"

namespace {

uint32_t word_value(const char *word) { return hex_text_to_uint(word, 6); }

// v: the level in tenths of dBm/Hz, rounded as each format wants.
int level_tenths(const char *level, bool psd)
{
    float l = std::strtof(level, nullptr);
    int t = static_cast<int>(l);
    float f = static_cast<float>(t) - l;
    if (psd) {
        if (f > 0.5f)
            return (t - 1) * 10;
        if (f > 0.0f)
            return t * 10 - 5;
        return t * 10;
    }
    return f >= 0.5f ? t * 10 - 5 : t * 10;
}

}  // namespace

extern "C" uint32_t hex_text_to_uint(const char *text, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n && text[i]; i++) {
        char c = text[i];
        uint32_t d = c >= '0' && c <= '9'   ? static_cast<uint32_t>(c - '0')
                     : c >= 'a' && c <= 'f' ? static_cast<uint32_t>(c - 'a' + 10)
                     : c >= 'A' && c <= 'F' ? static_cast<uint32_t>(c - 'A' + 10)
                                            : 0;
        v = v << 4 | d;
    }
    return v;
}

extern "C" void psd_word_to_text(char *tone, char *level, const char *word)
{
    uint32_t w = word_value(word);
    std::sprintf(tone, "%d", static_cast<int>(w & 0xffff));
    std::sprintf(level, "%.1f", (w >> 16) == 0 ? 0.0 : -0.5 * static_cast<double>(w >> 16));
}

extern "C" void vn_word_to_text(char *tone, char *level, const char *word)
{
    uint32_t w = word_value(word);
    std::sprintf(tone, "%d", static_cast<int>(w & 0xffff));
    std::sprintf(level, "%.1f", (static_cast<double>(w >> 16) * 5.0 - 1400.0) / 10.0);
}

extern "C" void psd_text_to_word(const char *tone, const char *level, char *word)
{
    int code = -(level_tenths(level, true) / 5);
    uint32_t t = static_cast<uint32_t>(std::atoi(tone)) & 0xffff;
    std::sprintf(word, "%06x", (static_cast<uint32_t>(code) & 0xff) << 16 | t);
}

extern "C" void vn_text_to_word(const char *tone, const char *level, char *word)
{
    int code = (level_tenths(level, false) + 1400) / 5;
    uint32_t t = static_cast<uint32_t>(std::atoi(tone)) & 0xffff;
    std::sprintf(word, "%06x", (static_cast<uint32_t>(code) & 0xff) << 16 | t);
}
