// The band plan reader and the tone-in-band tests.
#include "band_plan.h"

#include <cstdio>
#include <cstring>

#include "vdsl_request.h"

namespace {

// A first visible upstream band that ends at tone 64 or below is US0.
constexpr uint32_t kUs0LastToneLimit = 65;

constexpr int kUpstreamSlots[] = {0, 4, 8, 12, 16};
constexpr int kDownstreamSlots[] = {2, 6, 10, 14};

void read_pair(int port, int first_item, uint32_t *pair)
{
    char oid[16];
    for (int i = 0; i < 2; i++) {
        std::snprintf(oid, sizeof oid, "2.1.%d", first_item + i);
        uint32_t v = 0;
        if (mib_get_hex(port, oid, &v) == 0)
            pair[i] = v;
    }
}

template <size_t N> int tone_in(uint32_t tone, const uint32_t *plan, const int (&slots)[N])
{
    for (int s : slots)
        if (plan[s + 1] != 0 && plan[s] <= tone && tone <= plan[s + 1])
            return 1;
    return 0;
}

}  // namespace

extern "C" unsigned read_band_plan(int port, band_plan plan)
{
    std::memset(plan, 0, sizeof(band_plan));
    // A failed probe counts as 0: the line is read in the US0 layout.
    uint32_t probe = 0;
    if (mib_get_hex(port, "2.1.330", &probe) != 0)
        probe = 0;
    if (probe < kUs0LastToneLimit) {
        for (int i = 0; i < 5; i++)
            read_pair(port, 329 + 2 * i, plan + kUpstreamSlots[i]);
    } else {
        for (int i = 0; i < 4; i++)
            read_pair(port, 329 + 2 * i, plan + kUpstreamSlots[i + 1]);
    }
    for (int i = 0; i < 4; i++)
        read_pair(port, 345 + 2 * i, plan + kDownstreamSlots[i]);

    unsigned present = 0;
    for (int p = 0; p < BAND_PLAN_WORDS / 2; p++)
        if (plan[2 * p + 1] != 0)
            present++;
    return present;
}

extern "C" int tone_in_us_band(uint32_t tone, const band_plan plan)
{
    return tone_in(tone, plan, kUpstreamSlots);
}

extern "C" int tone_in_ds_band(uint32_t tone, const band_plan plan)
{
    return tone_in(tone, plan, kDownstreamSlots);
}

extern "C" int tones_in_us_band(uint32_t a, uint32_t b, const band_plan plan)
{
    return tone_in_us_band(a, plan) || tone_in_us_band(b, plan) ? 1 : 0;
}

extern "C" int tones_in_ds_band(uint32_t a, uint32_t b, const band_plan plan)
{
    return tone_in_ds_band(a, plan) || tone_in_ds_band(b, plan) ? 1 : 0;
}
