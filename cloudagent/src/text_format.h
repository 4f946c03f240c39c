// Texts the agent writes by hand: JSON of events and the Start event, and
// values put into request URIs.
#pragma once

#include <string>
#include <string_view>

// Appends text as a JSON string, quotes included: quotes, backslashes and
// control bytes are escaped, so a host name can't end the string early.
void json_quote(std::string &out, std::string_view text);
// A JSON integer: an optional '-' and 1 to 18 digits.
bool json_is_integer(std::string_view text);
// A URI query value percent-encoded: only unreserved characters stay, so a
// value can't add a key ('&', '=') or an escape ('%') of its own.
std::string uri_encode(std::string_view text);
// A text from the wire as a log line may show it: control bytes become '_'
// (no line of its own), cut to max bytes.
std::string log_safe(std::string_view text, size_t max = 64);
