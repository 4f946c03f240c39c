// The words of a "shellscript" line as they go to sh.
#pragma once

#include <string>
#include <vector>

#include "shell_state.h"

struct ShellCommand {
    std::vector<std::string> words;  // the script file, then its arguments
    bool background = false;         // a typed '&' ended the line
};

// Splits text at white space, except inside the spans that $KEY$ expansion
// put there: each expanded value stays within one word, blanks and all.
ShellCommand split_shell_command(const char *text, const std::vector<cli::TextSpan> &spans);
