// Internal: the upper-case mapping of one UTF-16 unit.
#pragma once
#include <cstdint>

uint16_t cmUpperUnit(uint16_t c);
