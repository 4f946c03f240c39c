// The decoders of chip answers over any bytes: PSD breakpoint lists and
// their expansion, the inventory version and the tone blackout list. Each
// stays inside its input and keeps its limits.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "chip_answers.h"

using namespace chip_answers;

namespace {

class Checker : public PsdEmitter {
public:
    void record(uint32_t, float) override { records++; }
    void value(uint32_t tone, float) override { check(tone); }
    void gap(uint32_t tone) override { check(tone); }
    void line_break() override { breaks++; }
    unsigned long records = 0, printed = 0, breaks = 0;

private:
    void check(uint32_t tone)
    {
        if (tone > kTopTone)
            __builtin_trap();
        printed++;
    }
};

void psd(const uint8_t *data, size_t size)
{
    if (size < 2)
        return;
    const bool silent = data[0] & 1, up = data[0] & 2;
    int32_t edges[kBandEdges];
    for (size_t e = 0; e < kBandEdges; e++)
        edges[e] = e + 1 < size && data[e + 1] != 0xFF ? data[e + 1] * 32 : -1;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    if (psd_absent(text.c_str()))
        return;
    band_end_tone(text.c_str());
    auto points = decode_psd_breakpoints(text.c_str(), up ? kPsdBreakpointsUs : kPsdBreakpointsDs);
    if (points.size() > kPsdBreakpointsDs || points.size() * 12 > text.size())
        __builtin_trap();
    Checker c;
    expand_psd(points, edges, silent, c);
    if (c.records > points.size() || (silent && c.printed != 0) || c.breaks != c.printed / 8 + 1)
        __builtin_trap();
}

void inventory(const uint8_t *data, size_t size)
{
    unsigned char vendor[kVendorBytes] = {}, version[kVersionBytes] = {};
    std::memcpy(vendor, data, size < sizeof vendor ? size : sizeof vendor);
    if (size > sizeof vendor)
        std::memcpy(version, data + sizeof vendor,
                    size - sizeof vendor < sizeof version ? size - sizeof vendor : sizeof version);
    InventoryVersion v = decode_inventory_version(vendor, version);
    if (v.octets.size() != 2 * kVersionBytes || v.raw.size() > kVersionBytes || v.text.size() > 64)
        __builtin_trap();
}

void blackout(const uint8_t *data, size_t size)
{
    if (size < 4)
        return;
    const uint32_t first = (data[0] << 8 | data[1]) & 0x1FFF, last = (data[2] << 8 | data[3]) & 0x1FFF;
    std::string text(reinterpret_cast<const char *>(data + 4), size - 4);
    auto list = decode_blackout_list(text.c_str());
    if (list.size() > kBlackoutSections)
        __builtin_trap();
    const auto before = list;
    InsertResult r = blackout_insert(list, first, last);
    if (list.size() > kBlackoutSections || (r != InsertResult::Done && list.size() != before.size()))
        __builtin_trap();
    std::string encoded = encode_blackout_list(list);
    if (encoded.size() != kBlackoutChars)
        __builtin_trap();
    // What is written reads back as the same sections, up to a [0, 0] one.
    auto again = decode_blackout_list(encoded.c_str());
    if (again.size() > list.size())
        __builtin_trap();
    for (size_t i = 0; i < again.size(); i++)
        if (again[i].first != (list[i].first & 0xFFFFFF) || again[i].last != (list[i].last & 0xFFFFFF))
            __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    switch (data[0] % 3) {
    case 0:
        psd(data + 1, size - 1);
        break;
    case 1:
        inventory(data + 1, size - 1);
        break;
    default:
        blackout(data + 1, size - 1);
        break;
    }
    return 0;
}
