// Breakpoint words in both directions, by the PSD and the virtual-noise rule.
#include <string>

#include <gtest/gtest.h>

#include "vdsl_profiles.h"

namespace {

struct ToWord {
    const char *tone, *level, *psd, *vn;
};

TEST(BreakpointWords, FromToneAndLevel)
{
    // nullptr: the level lies outside that format.
    const ToWord cases[] = {
        {"1000", "-40.0", "5003e8", "c803e8"},  {"1000", "-40.3", "5103e8", "c803e8"},
        {"1000", "-40.7", "5203e8", "c703e8"},  {"1000", "-40.25", "5103e8", "c803e8"},
        {"1000", "-40.75", "5203e8", "c703e8"}, {"0", "0.0", "000000", nullptr},
        {"7000", "-127.5", "ff1b58", "191b58"}, {"5", "-140.0", nullptr, "000005"},
    };
    for (const ToWord &c : cases) {
        char word[16];
        psd_text_to_word(c.tone, c.level, word);
        if (c.psd) {
            EXPECT_STREQ(word, c.psd) << c.tone << " " << c.level;
        }
        vn_text_to_word(c.tone, c.level, word);
        if (c.vn) {
            EXPECT_STREQ(word, c.vn) << c.tone << " " << c.level;
        }
    }
}

TEST(BreakpointWords, Decoding)
{
    struct Case {
        const char *word, *tone, *psd_level, *vn_level;
    } cases[] = {{"5003e8", "1000", "-40.0", "-100.0"},
                 {"000010", "16", "0.0", "-140.0"},
                 {"ff1b58", "7000", "-127.5", "-12.5"},
                 {"c803e8", "1000", "-100.0", "-40.0"}};
    for (const Case &c : cases) {
        char tone[16], level[32];
        psd_word_to_text(tone, level, c.word);
        EXPECT_STREQ(tone, c.tone);
        EXPECT_STREQ(level, c.psd_level) << c.word;
        vn_word_to_text(tone, level, c.word);
        EXPECT_STREQ(level, c.vn_level) << c.word;
    }
}

TEST(BreakpointWords, HexTextToUint)
{
    EXPECT_EQ(hex_text_to_uint("0fff", 4), 4095u);
    EXPECT_EQ(hex_text_to_uint("a", 1), 10u);
    EXPECT_EQ(hex_text_to_uint("5003e8", 2), 0x50u);
    EXPECT_EQ(hex_text_to_uint("FFfe93", 6), 0xfffe93u);
    EXPECT_EQ(hex_text_to_uint("ab", 6), 0xabu);  // stops at the text's end
}

}  // namespace
