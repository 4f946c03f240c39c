// Leveled output: one printer for every message of the shell.
#include "cli_print.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "output_sink.h"

uint32_t cli_print_mask = 0;

namespace {

char silent_buffer[CLI_SILENT_BUFFER_SIZE];
size_t silent_length = 0;
bool silent_overflow_noted = false;
cli::OutputSink sink = nullptr;

// A message that would not fit whole is dropped: half a record would be
// worse than none to whoever reads the buffer. Nothing may pass its end.
void silent_append(const char *text, size_t length)
{
    if (length > sizeof silent_buffer - 1 - silent_length) {
        if (!silent_overflow_noted) {
            silent_overflow_noted = true;
            static const char note[] = "silent buffer full: further output dropped\n";
            ssize_t ignored = write(STDERR_FILENO, note, sizeof note - 1);
            (void)ignored;
        }
        return;
    }
    std::memcpy(silent_buffer + silent_length, text, length);
    silent_length += length;
    silent_buffer[silent_length] = '\0';
}

}  // namespace

namespace cli {

OutputSink set_output_sink(OutputSink s)
{
    OutputSink old = sink;
    sink = s;
    return old;
}

}  // namespace cli

extern "C" void cli_write_raw(const char *data, size_t length)
{
    if (sink) {
        sink(data, length);
        return;
    }
    std::fwrite(data, 1, length, stdout);
}

extern "C" void cli_printf_raw(const char *format, ...)
{
    char small[256];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        cli_write_raw(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    va_start(ap, format);
    std::vsnprintf(&big[0], big.size(), format, ap);
    va_end(ap);
    cli_write_raw(big.data(), static_cast<size_t>(n));
}

extern "C" void cli_print(uint32_t level, const char *format, ...)
{
    if ((level & cli_print_mask) == 0)
        return;

    // Formatted into a heap buffer sized to the text.
    size_t size = 100;
    char *text = static_cast<char *>(std::malloc(size));
    if (!text)
        return;
    for (;;) {
        va_list args;
        va_start(args, format);
        int n = std::vsnprintf(text, size, format, args);
        va_end(args);
        size_t wanted;
        if (n < 0)
            wanted = size * 2;
        else if (static_cast<size_t>(n) >= size)
            wanted = static_cast<size_t>(n) + 1;
        else
            break;
        if (wanted > 1u << 20) {  // a format that keeps failing ends here
            std::free(text);
            return;
        }
        char *bigger = static_cast<char *>(std::realloc(text, wanted));
        if (!bigger) {
            std::free(text);
            return;
        }
        text = bigger;
        size = wanted;
    }

    size_t length = std::strlen(text);
    if (static_cast<int32_t>(cli_print_mask) < 0) {
        silent_append(text, length);
    } else {
        cli_write_raw(text, length);
        cli_write_raw("\n", 1);
    }
    std::free(text);
}

extern "C" const char *cli_silent_buffer(void) { return silent_buffer; }

extern "C" size_t cli_silent_buffer_length(void) { return silent_length; }

extern "C" void cli_silent_buffer_clear(void)
{
    silent_length = 0;
    silent_buffer[0] = '\0';
    silent_overflow_noted = false;
}

extern "C" void cli_silent_buffer_replace_last(char c)
{
    if (silent_length > 0)
        silent_buffer[silent_length - 1] = c;
}
