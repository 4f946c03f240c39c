// The statistics file: counters and the table of upstream servers, for
// other programs to read.
#pragma once

#include "upstream_rank.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace dnsr {

struct ProcessCounters {
    size_t incoming = 0;  // requests from clients
    size_t proxied = 0;   // requests sent upstream
    size_t cache_hits = 0;
};

// The file's text.
std::string stats_text(const ProcessCounters &c, uint64_t mem_in_use, uint32_t max_mem, UpstreamStats &stats);
// Writes it to a temporary file beside path and renames it over path, so a
// reader sees the old file or the new one, never a half-written one.
bool stats_write_file(const std::string &path, const ProcessCounters &c, uint64_t mem_in_use,
                      uint32_t max_mem, UpstreamStats &stats);

}  // namespace dnsr
