// Writes the whole-MIB binary driver image and the bench commands that make
// the chip simulator match it, for end-to-end scenarios and benchmarks.
//   usage: vdsl_mkimage IMAGE SETUP [ENTRY...]
// Each ENTRY (G.T.ITEM[.ROW]) prints "ENTRY ADDRESS WORDS" on standard output.
#include "bindrv_gen.hpp"

#include <cstdio>
#include <fstream>
#include <stdexcept>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IMAGE SETUP [G.T.ITEM[.ROW]...]\n", argv[0]);
        return 2;
    }
    try {
        bindrv::Built b = bindrv::build(bindrv::full_mib());
        std::ofstream img(argv[1], std::ios::binary);
        img.write(reinterpret_cast<const char *>(b.image.data()),
                  static_cast<std::streamsize>(b.image.size()));
        std::ofstream setup(argv[2]);
        setup << "# the chip words and firmware entries of the whole-MIB image\n";
        for (const std::string &line : bindrv::chip_setup(b))
            setup << line << "\n";
        if (!img || !setup) {
            std::fprintf(stderr, "vdsl_mkimage: cannot write the files\n");
            return 1;
        }
        for (int i = 3; i < argc; i++) {
            int g, t, item, row = 1;
            if (std::sscanf(argv[i], "%d.%d.%d.%d", &g, &t, &item, &row) < 3)
                throw std::invalid_argument(argv[i]);
            std::printf("%s 0x%04x %u\n", argv[i], b.address(g, t, item, row), b.words(g, t, item));
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vdsl_mkimage: %s\n", e.what());
        return 1;
    }
    return 0;
}
