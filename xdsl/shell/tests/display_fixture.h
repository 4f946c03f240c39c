// Fixture of the display tests: the shell with a fresh fake device, its
// entries set as the chip words them, and the record lines of a command.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli_print.h"
#include "fake_device.h"
#include "shell_fixture.h"

namespace shelltest {

class DisplayTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
    }
    // An entry's value as six hex digits, as the chip answers a 24-bit word.
    void set(const std::string &oid, unsigned word)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%06x", word);
        dev.values[oid] = text;
    }
    // What the record level alone writes for one line; rc takes its result.
    std::string silent(const std::string &line, int *rc = nullptr)
    {
        cli_print_mask = CLI_MASK_SILENT;
        cli_silent_buffer_clear();
        int r = run(line);
        if (rc)
            *rc = r;
        cli_print_mask = CLI_MASK_CLEAN;
        return cli_silent_buffer();
    }
    fakedev::Device &dev = fakedev::device();
};

}  // namespace shelltest
