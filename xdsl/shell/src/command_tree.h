// Directory list of the generated command tree, for lookups by table.
#pragma once

#include "cli_command.h"

struct cli_directory_info {
    const char *path;   // "interface xdsl show"; empty for the root
    const char *label;  // "(interface xdsl show)"; empty for the root
    const cli_dir_row *table;
    char flag;  // 'R' root, 'H' with "help", 'N' without
};

extern const cli_directory_info cli_directories[];
extern const unsigned cli_directory_count;
