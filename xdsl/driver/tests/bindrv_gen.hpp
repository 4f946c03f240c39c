// Binary driver images for tests, built from a description of the MIB
// tables: directory, offsets rows with continuation rows, and the chip words
// (signature block, table start addresses) that the image check reads.
// Addresses of entries come from the description alone, never from the
// driver's translation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bindrv {

struct Table {
    int group = 0, table = 0;
    uint32_t rows = 1;
    std::vector<uint32_t> words;  // word count of each item, item 1 first
    uint32_t stride = 0;          // words from one row to the next; 0: the row's size
};

struct Layout {
    uint32_t items_per_row = 16;  // N
    uint32_t version = 0x000102;
    uint32_t sig_block = 0x100, table_starts = 0x200, sig_pointer = 0x300, end_marker = 0x400;
    uint32_t first_table = 0x1000;
    std::vector<Table> tables;
};

struct ChipWord {
    unsigned mem;
    uint32_t addr, value;
};

struct Built {
    std::vector<uint8_t> image;
    std::vector<ChipWord> chip_words;
    std::vector<uint32_t> starts;  // start address of each table of the layout

    // Address and word count of an entry as the description lays it out.
    uint32_t address(int group, int table, int item, int row = 1) const;
    uint32_t words(int group, int table, int item) const;
    const Layout &layout() const { return layout_; }
    Layout layout_;
};

Built build(const Layout &layout);

// Every table of the driver's MIB dimensions, one word an item, except the
// entries that the system reads as longer ones, and the SELT status table.
Layout full_mib();

// Bench commands that make a running chip simulator match the image: its
// chip words and the addresses of the entries the firmware serves itself.
std::vector<std::string> chip_setup(const Built &built);

}  // namespace bindrv
