// Helpers the executor shares with the built-in commands and the modes.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Root current, and the root's entry operation for the next line.
void make_root_current();

// Runs one command line from the root directory and puts the current
// directory back; the line's result.
int run_from_root(const std::string &line);

// The first white-space delimited word of text (at most 511 characters);
// end, when given, points just past it.
std::string first_word(const char *text, const char **end = nullptr);

// A stretch of the line being run that a $KEY$ expansion put there.
struct TextSpan {
    const char *begin;
    const char *end;
};

// The expanded stretches of the line whose handler runs now, in order;
// empty outside a handler or when the line had no $KEY$.
const std::vector<TextSpan> &expanded_spans();

}  // namespace cli
