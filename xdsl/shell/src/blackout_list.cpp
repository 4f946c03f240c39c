// The tone blackout list: sections of first and last tone, sorted, apart.
#include <cstdio>
#include <cstring>

#include "chip_answers.h"

namespace chip_answers {

namespace {

constexpr size_t kSectionChars = 12;

}  // namespace

std::vector<ToneSection> decode_blackout_list(const char *text)
{
    std::vector<ToneSection> list;
    const size_t length = std::strlen(text);
    for (size_t at = 0; list.size() < kBlackoutSections && at + kSectionChars <= length;
         at += kSectionChars) {
        ToneSection s;
        if (!hex_field(text + at, 6, &s.first) || !hex_field(text + at + 6, 6, &s.last))
            break;
        if (s.first == 0 && s.last == 0)
            break;
        list.push_back(s);
    }
    return list;
}

InsertResult blackout_insert(std::vector<ToneSection> &list, uint32_t first, uint32_t last)
{
    size_t at = 0;
    for (; at < list.size() && list[at].first <= first; at++) {
        const ToneSection &s = list[at];
        if (s.first == first || s.last >= first || s.last >= last)
            return InsertResult::Overlap;
    }
    if (at < list.size() && (list[at].first <= last || list[at].last <= last))
        return InsertResult::Overlap;
    // The chip keeps 32 sections: a 33rd would be lost while reported done.
    if (list.size() >= kBlackoutSections)
        return InsertResult::Full;
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), ToneSection{first, last});
    return InsertResult::Done;
}

std::string encode_blackout_list(const std::vector<ToneSection> &list)
{
    std::string text;
    char section[32];
    for (size_t i = 0; i < list.size() && i < kBlackoutSections; i++) {
        std::snprintf(section, sizeof section, "%06x%06x", list[i].first & 0xFFFFFF, list[i].last & 0xFFFFFF);
        text += section;
    }
    text.resize(kBlackoutChars, '0');
    return text;
}

}  // namespace chip_answers
