// Shared steps of the line displays: the port argument, the operational
// state, value texts of signed 24-bit entries and elapsed times.
#pragma once

#include <cstdint>
#include <string>

namespace line_display {

// Tries of a channel's direction word before the channel is given up.
constexpr int kDirectionTries = 3;

// The typed port (from 1) read with "%u" and put through the port rule:
// 0 with the number and the index, else the command's answer after the
// usage line or the rule's messages.
int open_port(const char *rest, const char *usage, unsigned *number, int *index);

// The operational state; false when the request failed.
bool read_state(int port, unsigned char *state);
// The power-off test; a state that cannot be read shows nothing either.
bool powered_off(int port);
// A flag key of the port (format "V_DISABLE_P%d", "V_POWEROFF_P%d"): set
// when its value begins with '#'; anything else, no value or no
// configuration manager is clear.
bool port_flag(const char *format, int number);
// "#" in V_DISABLE_P<n>; clear is a disabled port.
bool port_enabled(int number);

// "%d", "NA" for the not-available words, "FAILED" for a failed read.
std::string value_text(int port, const char *oid);
// A signed 24-bit value, 0 when the read fails.
int32_t value_or_zero(int port, const char *oid);
int32_t value_or_zero_idx(int port, const char *oid, int index);

std::string minutes_text(uint32_t seconds);
std::string hours_text(uint32_t seconds);

// A channel's direction word ("0.22.1" with the index): false after
// "Error getting MIB value." when it stays unread.
bool read_direction(int port, int index, int32_t *direction);

}  // namespace line_display
