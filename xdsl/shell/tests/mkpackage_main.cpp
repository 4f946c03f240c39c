// Writes a test firmware package for the end-to-end scenarios.
//   druvel_mkpackage OUT [--default N] [--version HEX18] [--bindrv FILE]
//                        [--image-setup FILE] [--image-records N]
//                        [--profile NAME OID=VALUE...]...
// --image-setup makes a boot image of the X-memory words that a simulator
// set-up file pokes ("poke 0 ADDR VALUE"); --image-records one of N records
// of one word each. Images are numbered in the order given.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "package_builder.h"

namespace {

constexpr uint32_t kXMemory = 0x010000;

pkgtest::Bytes read_file(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "druvel_mkpackage: cannot read %s\n", path);
        std::exit(1);
    }
    return pkgtest::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

pkgtest::Bytes image_from_setup(const char *path)
{
    std::ifstream in(path);
    std::vector<pkgtest::Record> records;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string verb, mem, addr, value;
        if (!(words >> verb >> mem >> addr >> value) || verb != "poke" || mem != "0")
            continue;
        records.push_back({kXMemory | static_cast<uint32_t>(std::stoul(addr, nullptr, 0)),
                           {static_cast<uint32_t>(std::stoul(value, nullptr, 0))}});
    }
    return pkgtest::boot_image(records);
}

int usage()
{
    std::fprintf(stderr, "usage: druvel_mkpackage OUT [--default N] [--version HEX18] [--bindrv FILE] "
                         "[--image-setup FILE] [--image-records N] [--profile NAME OID=VALUE...]...\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    pkgtest::Contents contents;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--default" && more) {
            contents.default_profile = static_cast<uint32_t>(std::stoul(argv[++i]));
        } else if (a == "--version" && more && std::strlen(argv[i + 1]) == 18) {
            const char *hex = argv[++i];
            for (size_t k = 0; k < 9; k++)
                contents.version[k] = static_cast<uint8_t>(std::stoul(std::string(hex + 2 * k, 2), nullptr, 16));
        } else if (a == "--bindrv" && more) {
            contents.bindrv = read_file(argv[++i]);
        } else if (a == "--image-setup" && more) {
            contents.images.push_back(image_from_setup(argv[++i]));
        } else if (a == "--image-records" && more) {
            std::vector<pkgtest::Record> records(std::stoul(argv[++i]), {kXMemory | 0x2000, {0x000001}});
            for (size_t r = 0; r < records.size(); r++)
                records[r].first += static_cast<uint32_t>(r);
            contents.images.push_back(pkgtest::boot_image(records));
        } else if (a == "--profile" && more) {
            pkgtest::Profile p{argv[++i], {}};
            while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
                std::string pair = argv[++i];
                size_t eq = pair.find('=');
                if (eq == std::string::npos)
                    return usage();
                p.pairs.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
            }
            contents.profiles.push_back(p);
        } else {
            return usage();
        }
    }
    pkgtest::Bytes b = pkgtest::build(contents);
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
    return out ? 0 : 1;
}
