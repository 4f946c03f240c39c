// Internal: the sharing table of the create processing, generated from
// tools/share_modes.txt, and its lookup.
#pragma once
#include <cstdint>

namespace cs {

constexpr unsigned kShareModeEntries = 24 * 24;
// The byte of a sharing violation.
constexpr uint8_t kShareViolation = 15;

// Per entry: same user, executable no/yes; other user, executable no/yes.
extern const uint8_t kShareModes[kShareModeEntries][4];

// The access granted to a new open beside an existing one (0 read, 1 write,
// 2 read/write) or kShareViolation. Both modes must have passed
// csOpenModeIsValid.
uint8_t shareModeGrant(uint16_t existing, uint16_t requested, bool sameUser, bool executable);

}  // namespace cs
