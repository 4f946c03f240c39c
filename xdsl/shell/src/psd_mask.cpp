// The PSD mask check of user PSD masks: length, hex digits, ascending
// breakpoints (downstream may hold two ascending runs).
#include "psd_mask.h"

#include <cctype>
#include <cstring>

#include "cli_command.h"
#include "cli_print.h"

namespace {

constexpr size_t kWordChars = 6;
constexpr long kToneLimit = 4096;

long hex_value(const char *p, size_t n)
{
    long v = 0;
    for (size_t i = 0; i < n; i++) {
        char c = p[i];
        int d = c <= '9' ? c - '0' : (std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
        v = v * 16 + d;
    }
    return v;
}

}  // namespace

extern "C" int check_hex_string(const char *text)
{
    for (const char *p = text; *p; p++) {
        if (!std::isxdigit(static_cast<unsigned char>(*p))) {
            cli_print(CLI_LEVEL_ERROR, "%c Not hex in String !!", *p);
            return CLI_USAGE;
        }
    }
    return 0;
}

extern "C" int psd_sequence_check(const char *direction, const char *text)
{
    const bool up = std::strcmp(direction, "us") == 0;
    const size_t length = std::strlen(text);
    if (up && length != 96) {
        cli_print(CLI_LEVEL_ERROR,
                  "Upstream PSD sequence should have a 48 bytes input, that is, 96 characters.");
        return CLI_USAGE;
    }
    if (!up && length != 192) {
        cli_print(CLI_LEVEL_ERROR,
                  "Downstream PSD sequence should have a 96 bytes input, that is, 192 characters.");
        return CLI_USAGE;
    }
    if (check_hex_string(text) != 0)
        return CLI_USAGE;

    // Trailing words of zeros are no breakpoints.
    size_t words = length / kWordChars;
    while (words > 0 && std::strspn(text + (words - 1) * kWordChars, "0") >= kWordChars)
        words--;

    long previous_index = -1, previous_level = -1;
    int breakpoints = 0;
    bool descended = false;
    for (size_t w = 0; w < words; w++) {
        const char *word = text + w * kWordChars;
        long level = hex_value(word, 2);
        long index = hex_value(word + 2, 4);
        if (index >= kToneLimit) {
            cli_print(CLI_LEVEL_ERROR, "The PSD index should be in 0 ~ 4095.");
            return CLI_USAGE;
        }
        if (index > previous_index) {
            breakpoints++;
            previous_index = index;
            previous_level = level;
        } else if (index < previous_index) {
            if (up || descended) {
                cli_print(CLI_LEVEL_ERROR, "The PSD sequence ascending rule is violated.");
                return CLI_USAGE;
            }
            descended = true;
            breakpoints++;
            previous_index = index;
            previous_level = level;
        } else if (level != previous_level) {
            breakpoints++;
            previous_level = level;
        }
    }
    if (breakpoints < 2) {
        cli_print(CLI_LEVEL_ERROR, "The PSD sequence must have more than one breakpoint.");
        return CLI_USAGE;
    }
    return 0;
}
