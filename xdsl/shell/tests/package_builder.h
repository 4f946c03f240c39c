// Test firmware packages in the package layout: header, images, binary
// driver image, profile directory and OID/value pairs. Content is ours.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pkgtest {

using Bytes = std::vector<uint8_t>;

struct Profile {
    std::string name;  // with its kind prefix
    std::vector<std::pair<std::string, std::string>> pairs;
};

struct Contents {
    uint32_t default_profile = 1;
    std::vector<Bytes> images;
    Bytes bindrv;
    std::array<uint8_t, 9> version{};
    std::vector<Profile> profiles;
};

// A boot record: load address, data words.
using Record = std::pair<uint32_t, std::vector<uint32_t>>;

Bytes build(const Contents &contents);
// Records one after another, then the end mark (a header with no words).
Bytes boot_image(const std::vector<Record> &records);
void put24(Bytes &b, size_t at, uint32_t w);
void append24(Bytes &b, uint32_t w);

}  // namespace pkgtest
