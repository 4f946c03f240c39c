/* The line's band plan: the pass bands the chip reports as visible on the
 * trained line, and tests of tones against them. Read fresh on every call. */
#ifndef DRUVEL_BAND_PLAN_H
#define DRUVEL_BAND_PLAN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Nine (first tone, last tone) pairs in frequency order: US0, DS1, US1, DS2,
 * US2, DS3, US3, DS4, US4. A pair whose last tone is 0 is an absent band. */
#define BAND_PLAN_WORDS 18
typedef uint32_t band_plan[BAND_PLAN_WORDS];

/* Fills the plan from the chip; returns the number of present bands. */
unsigned read_band_plan(int port, band_plan plan);
int tone_in_us_band(uint32_t tone, const band_plan plan);
int tone_in_ds_band(uint32_t tone, const band_plan plan);
/* 1 when either tone lies in a band of the direction (a is tested first). */
int tones_in_us_band(uint32_t a, uint32_t b, const band_plan plan);
int tones_in_ds_band(uint32_t a, uint32_t b, const band_plan plan);

#ifdef __cplusplus
}
#endif

#endif
