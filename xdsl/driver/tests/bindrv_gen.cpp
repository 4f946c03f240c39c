#include "bindrv_gen.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <stdexcept>

// After the standard headers: the kernel stand-in defines __init.
extern "C" {
#include "vdsl_priv.h"
}

namespace bindrv {

namespace {

constexpr uint32_t kHeaderWords = 32;
// Directory rows that only carry continuation rows: a group no lookup names.
constexpr uint32_t kFillerEntry = 6u << 29 | 31u << 24;

uint32_t row_size(const Table &t) { return std::accumulate(t.words.begin(), t.words.end(), 0u); }

uint32_t stride_of(const Table &t) { return t.stride ? t.stride : row_size(t); }

const Table *find(const Layout &s, int group, int table, size_t *index)
{
    for (size_t k = 0; k < s.tables.size(); k++)
        if (s.tables[k].group == group && s.tables[k].table == table) {
            *index = k;
            return &s.tables[k];
        }
    throw std::out_of_range("no such table in the image description");
}

}  // namespace

uint32_t Built::words(int group, int table, int item) const
{
    size_t k;
    return find(layout_, group, table, &k)->words.at(static_cast<size_t>(item - 1));
}

uint32_t Built::address(int group, int table, int item, int row) const
{
    size_t k;
    const Table *t = find(layout_, group, table, &k);
    uint32_t off = std::accumulate(t->words.begin(), t->words.begin() + (item - 1), 0u);
    return starts[k] + off + static_cast<uint32_t>(row - 1) * stride_of(*t);
}

Built build(const Layout &layout)
{
    const uint32_t n = layout.items_per_row;
    const uint32_t real = static_cast<uint32_t>(layout.tables.size());
    std::vector<uint32_t> extra(real);
    for (uint32_t k = 0; k < real; k++)
        extra[k] = static_cast<uint32_t>((layout.tables[k].words.size() + n - 1) / n) - 1;
    const uint32_t t_count = real + std::accumulate(extra.begin(), extra.end(), 0u);

    // Continuation rows are handed out from the last row down, the tables
    // with fewest first, so every mark T - first stays within its 4 bits.
    std::vector<uint32_t> order(real), first(real, 0), mark(real, 0);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return extra[a] < extra[b]; });
    uint32_t next = t_count - 1;
    for (uint32_t k : order) {
        if (!extra[k])
            continue;
        first[k] = next;
        mark[k] = t_count - next;
        if (mark[k] > 15)
            throw std::length_error("too many continuation rows");
        next -= extra[k];
    }

    std::vector<uint32_t> w(kHeaderWords + t_count + t_count * n, 0);
    Built out;
    out.layout_ = layout;
    std::memcpy(&w[0], "VROS", 4);
    w[3] = layout.version;
    w[4] = layout.sig_block;
    w[6] = layout.table_starts;
    w[7] = t_count;
    w[8] = n;
    w[9] = t_count;
    uint32_t addr = layout.first_table;
    for (uint32_t k = 0; k < real; k++) {
        const Table &t = layout.tables[k];
        w[kHeaderWords + k] = static_cast<uint32_t>(t.group) << 29 |
                              static_cast<uint32_t>(t.table - 1) << 24 | stride_of(t) << 8 | mark[k] << 4;
        out.starts.push_back(addr);
        addr += t.rows * stride_of(t);
        uint32_t end = 0;
        for (size_t i = 0; i < t.words.size(); i++) {
            end += t.words[i];
            uint32_t block = static_cast<uint32_t>(i / n);
            uint32_t row = block == 0 ? k : first[k] - (block - 1);
            // Columns past the last item repeat its end offset.
            for (uint32_t col = static_cast<uint32_t>(i % n); col < n; col++)
                w[kHeaderWords + t_count + row * n + col] = end;
        }
    }
    if (addr > 0x10000)
        throw std::length_error("tables do not fit the chip's memory");
    for (uint32_t k = real; k < t_count; k++)
        w[kHeaderWords + k] = kFillerEntry;
    out.image.resize(w.size() * 4);
    for (size_t i = 0; i < w.size(); i++)
        for (int b = 0; b < 4; b++)
            out.image[4 * i + b] = static_cast<uint8_t>(w[i] >> (8 * b));
    std::memcpy(out.image.data(), "VROS", 4);
    if (out.image.size() > VDSL_BINDRV_MAX)
        throw std::length_error("image larger than the driver holds");

    // The signature block and its marks, then the table start addresses.
    out.chip_words = {
        {EBM_MEM_X, layout.sig_block, layout.version},
        {EBM_MEM_X, layout.sig_block + 1, 0xEA0000 | layout.end_marker},
        {EBM_MEM_X, layout.sig_block + 4, layout.sig_pointer},
        {EBM_MEM_X, layout.sig_pointer + 5, 0x474154},
        {EBM_MEM_X, layout.end_marker, 0xEAEAEA},
    };
    for (uint32_t k = 0; k < t_count; k++)
        out.chip_words.push_back({EBM_MEM_X, layout.table_starts + k, k < real ? out.starts[k] : 0});
    return out;
}

Layout full_mib()
{
    Layout s;
    s.items_per_row = 64;
    for (int g = 0; g < 4; g++)
        for (int t = 1;; t++) {
            int rows, items;
            if (mib_table_dims(g, t, &rows, &items))
                break;
            Table tab;
            tab.group = g;
            tab.table = t;
            tab.rows = static_cast<uint32_t>(rows);
            tab.words.assign(static_cast<size_t>(items), 1);
            if (g == 0 && t == 6)  // per-tone segments: selector, then 512 words each
                tab.words = {1, 512, 512, 512, 512, 512, 512};
            if (g == 0 && t == 1) {
                tab.words[33] = 96;  // 0.1.34 downstream PSD: 48 breakpoints
                tab.words[34] = 64;  // 0.1.35 upstream PSD: 32 breakpoints
            }
            if (g == 0 && t == 7) {  // inventory texts
                tab.words[1] = tab.words[2] = 4;
                tab.words[3] = 6;   // 0.7.4 version, 16 bytes
                tab.words[4] = 11;  // 0.7.5 serial, 32 bytes
            }
            if (g == 0 && t == 9)
                tab.words[3] = 64;  // 0.9.4 tone blackout list, 32 sections
            if (g == 0 && t == 10) {
                tab.words[6] = 32;  // 0.10.7 downstream user PSD mask
                tab.words[7] = 16;  // 0.10.8 upstream user PSD mask
            }
            if (g == 2 && t == 1) {
                tab.words[122] = 3;    // 2.1.123 far-end request: tag, address, count
                tab.words[123] = 3;    // 2.1.124 tone segment request
                tab.words[200] = 179;  // longest entry one answer holds
                tab.words[201] = 180;  // one word too many
            }
            s.tables.push_back(tab);
        }
    Table selt;
    selt.group = SELT_GROUP;
    selt.table = SELT_TABLE;
    selt.words = {5};
    s.tables.push_back(selt);
    return s;
}

std::vector<std::string> chip_setup(const Built &b)
{
    std::vector<std::string> lines;
    char buf[96];
    for (const ChipWord &w : b.chip_words) {
        std::snprintf(buf, sizeof buf, "poke %u 0x%04x 0x%06x", w.mem, w.addr, w.value);
        lines.push_back(buf);
    }
    const struct {
        const char *name;
        int item;
    } entries[] = {{"phy_status", 5}, {"host_command", 7}, {"host_go", 8},       {"mbox_command", 87},
                   {"mbox_tag", 91},  {"mbox_data", 94},   {"mbox_request", 123}};
    for (const auto &e : entries) {
        std::snprintf(buf, sizeof buf, "entry %s 0x%04x", e.name, b.address(2, 1, e.item));
        lines.push_back(buf);
    }
    // The diagnostics: loop diagnostic flag and state, tone segments, SELT status.
    const struct {
        const char *name;
        int group, table, item;
    } diagnostics[] = {{"ldsf", 0, 1, 5},
                       {"ldsf_state", 0, 1, 6},
                       {"tone_request", 2, 1, 88},
                       {"segment", 0, 6, 1},
                       {"bits_gain", 0, 6, 7},
                       {"hlog", 0, 6, 4},
                       {"selt_status", SELT_GROUP, SELT_TABLE, 1}};
    for (const auto &e : diagnostics) {
        std::snprintf(buf, sizeof buf, "entry %s 0x%04x", e.name, b.address(e.group, e.table, e.item));
        lines.push_back(buf);
    }
    return lines;
}

}  // namespace bindrv
