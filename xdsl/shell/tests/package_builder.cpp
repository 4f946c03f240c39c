#include "package_builder.h"

namespace pkgtest {

namespace {
constexpr size_t kHeader = 720;
constexpr size_t kEntry = 72;
}  // namespace

void put24(Bytes &b, size_t at, uint32_t w)
{
    if (b.size() < at + 3)
        b.resize(at + 3);
    b[at] = static_cast<uint8_t>(w >> 16);
    b[at + 1] = static_cast<uint8_t>(w >> 8);
    b[at + 2] = static_cast<uint8_t>(w);
}

void append24(Bytes &b, uint32_t w) { put24(b, b.size(), w); }

Bytes boot_image(const std::vector<Record> &records)
{
    Bytes out;
    for (const Record &r : records) {
        append24(out, r.first);
        append24(out, static_cast<uint32_t>(r.second.size()));
        for (uint32_t w : r.second)
            append24(out, w);
    }
    append24(out, records.empty() ? 0 : records.back().first);
    append24(out, 0);
    return out;
}

Bytes build(const Contents &contents)
{
    Bytes b(kHeader, 0);
    put24(b, 6, contents.default_profile);
    put24(b, 9, static_cast<uint32_t>(contents.images.size()));
    put24(b, 12, static_cast<uint32_t>(contents.profiles.size()));
    for (size_t i = 0; i < contents.version.size(); i++)
        b[90 + i] = contents.version[i];
    for (size_t k = 0; k < contents.images.size(); k++) {
        put24(b, 39 + 3 * k, static_cast<uint32_t>(b.size()));
        b.insert(b.end(), contents.images[k].begin(), contents.images[k].end());
        put24(b, 42 + 3 * k, static_cast<uint32_t>(b.size()));
    }
    put24(b, 714, contents.bindrv.empty() ? 0 : static_cast<uint32_t>(b.size()));
    put24(b, 717, static_cast<uint32_t>(contents.bindrv.size()));
    b.insert(b.end(), contents.bindrv.begin(), contents.bindrv.end());

    const size_t dir = b.size();
    put24(b, 15, static_cast<uint32_t>(dir));
    b.resize(dir + kEntry * contents.profiles.size(), 0);
    for (size_t i = 0; i < contents.profiles.size(); i++) {
        const Profile &p = contents.profiles[i];
        const size_t entry = dir + kEntry * i;
        put24(b, entry, static_cast<uint32_t>(b.size()));
        put24(b, entry + 3, static_cast<uint32_t>(p.name.size()));
        for (size_t c = 0; c < p.name.size() && c < kEntry - 6; c++)
            b[entry + 6 + c] = static_cast<uint8_t>(p.name[c]);
        for (const auto &pair : p.pairs) {
            append24(b, static_cast<uint32_t>(pair.first.size()));
            b.insert(b.end(), pair.first.begin(), pair.first.end());
            append24(b, static_cast<uint32_t>(pair.second.size()));
            b.insert(b.end(), pair.second.begin(), pair.second.end());
        }
        const std::string end = "0.0.0.0";
        append24(b, static_cast<uint32_t>(end.size()));
        b.insert(b.end(), end.begin(), end.end());
    }
    return b;
}

}  // namespace pkgtest
