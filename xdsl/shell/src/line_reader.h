// Bounded line reading for scripts, the setup file and standard input.
#pragma once

#include <cstddef>
#include <cstdio>

#include "cli_command.h"

namespace cli {

enum class LineRead { Line, TooLong, End };

// Reads one line with its newline into buffer (size bytes; zero-filled
// first). A longer line is consumed to its end and reported as TooLong, so
// its tail never runs as a line of its own.
LineRead read_bounded_line(std::FILE *stream, char *buffer, std::size_t size);

// The refusal message for a TooLong line.
void report_long_line(void);

}  // namespace cli
