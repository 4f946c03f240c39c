// Where cli_print and the line editor write: standard output, or a test's capture.
#pragma once

#include <cstddef>

namespace cli {

using OutputSink = void (*)(const char *data, std::size_t length);

// Installs a sink (null: standard output) and returns the previous one.
OutputSink set_output_sink(OutputSink sink);

}  // namespace cli
