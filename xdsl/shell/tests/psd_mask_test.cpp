// The PSD mask check: lengths, hex digits, ascending breakpoints.
#include <string>

#include "cli_print.h"
#include "psd_mask.h"
#include "shell_fixture.h"

namespace {

using shelltest::take;

// Words "LLIIII" (level, tone index) padded with zero words to the direction's length.
std::string mask(std::initializer_list<const char *> words, size_t length)
{
    std::string text;
    for (const char *w : words)
        text += w;
    text.resize(length, '0');
    return text;
}

class PsdMask : public shelltest::ShellTest {};

TEST_F(PsdMask, SequencesAreCheckedWordByWord)
{
    struct Case {
        const char *direction;
        std::string text;
        int rc;
        const char *message;
    } cases[] = {
        {"us", mask({"100010", "200020", "300030"}, 96), 0, ""},
        {"ds", mask({"100010", "200020", "100005", "100100"}, 192), 0, ""},  // two ascending runs
        {"us", mask({"100010", "200020", "100005"}, 96), -111,
         "The PSD sequence ascending rule is violated.\n"},
        {"ds", mask({"100010", "100005", "100100", "100001"}, 192), -111,
         "The PSD sequence ascending rule is violated.\n"},
        {"us", mask({"100010", "200010"}, 96), 0, ""},  // same tone, new level: a breakpoint
        {"us", mask({"100010", "100010"}, 96), -111,
         "The PSD sequence must have more than one breakpoint.\n"},
        {"us", mask({"100010"}, 96), -111, "The PSD sequence must have more than one breakpoint.\n"},
        {"us", mask({}, 96), -111, "The PSD sequence must have more than one breakpoint.\n"},
        {"us", mask({"100010", "201000"}, 96), -111, "The PSD index should be in 0 ~ 4095.\n"},
        {"us", mask({"100010"}, 95), -111,
         "Upstream PSD sequence should have a 48 bytes input, that is, 96 characters.\n"},
        {"ds", mask({"100010"}, 96), -111,
         "Downstream PSD sequence should have a 96 bytes input, that is, 192 characters.\n"},
        {"us", mask({"10001g", "200020"}, 96), -111, "g Not hex in String !!\n"},
        {"us", mask({"10001A", "20002b"}, 96), 0, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(psd_sequence_check(c.direction, c.text.c_str()), c.rc) << c.text;
        EXPECT_EQ(take(), c.message) << c.text;
    }
}

TEST_F(PsdMask, HexStrings)
{
    EXPECT_EQ(check_hex_string(""), 0);
    EXPECT_EQ(check_hex_string("09afAF"), 0);
    EXPECT_EQ(check_hex_string("12g4"), -111);
    EXPECT_EQ(take(), "g Not hex in String !!\n");
}

}  // namespace
