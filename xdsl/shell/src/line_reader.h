// Bounded line reading for scripts, the setup file and standard input.
#pragma once

#include <cstddef>
#include <cstdio>

#include "cli_command.h"

namespace cli {

enum class LineRead { Line, TooLong, Refused, End };

// What a line may run on past its buffer before the stream is given up.
constexpr std::size_t kLineDropMax = 1 << 20;

// Reads one line with its newline into buffer (size bytes; zero-filled
// first). A longer line is consumed to its end and reported as TooLong, so
// its tail never runs as a line of its own; when it runs on for more than
// kLineDropMax bytes (a device, a file without line ends) the reading stops
// there with Refused and the caller reads no further.
LineRead read_bounded_line(std::FILE *stream, char *buffer, std::size_t size);

// The refusal message for a TooLong line.
void report_long_line(void);
// The refusal message for a Refused stream.
void report_refused_stream(void);

}  // namespace cli
