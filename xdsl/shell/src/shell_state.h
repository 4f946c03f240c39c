// Helpers the executor shares with the built-in commands and the modes.
#pragma once

#include <string>

namespace cli {

// Root current, and the root's entry operation for the next line.
void make_root_current();

// The first white-space delimited word of text (at most 511 characters);
// end, when given, points just past it.
std::string first_word(const char *text, const char **end = nullptr);

}  // namespace cli
