#include "line_reader.h"

#include <cstring>

#include "cli_print.h"

namespace cli {

LineRead read_bounded_line(std::FILE *stream, char *buffer, std::size_t size)
{
    std::memset(buffer, 0, size);
    std::size_t n = 0;
    bool too_long = false;
    std::size_t dropped = 0;
    int c;
    while ((c = std::getc(stream)) != EOF) {
        if (c == '\n') {
            // A line that fills the buffer exactly keeps its text, not its newline.
            if (n + 1 < size)
                buffer[n++] = '\n';
            break;
        }
        if (n + 1 < size) {
            buffer[n++] = static_cast<char>(c);
        } else {
            too_long = true;
            if (++dropped > kLineDropMax) {
                std::memset(buffer, 0, size);
                return LineRead::Refused;
            }
        }
    }
    if (too_long) {
        std::memset(buffer, 0, size);
        return LineRead::TooLong;
    }
    return n == 0 ? LineRead::End : LineRead::Line;
}

void report_long_line(void)
{
    cli_print(CLI_LEVEL_ERROR, "Line too long (at most %d characters): not run.", CLI_LINE_SIZE - 1);
}

void report_refused_stream(void)
{
    cli_print(CLI_LEVEL_ERROR, "Line without end (over %zu characters): the rest is not read.", kLineDropMax);
}

}  // namespace cli
