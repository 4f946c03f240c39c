// Issues one request on the xDSL device and prints its result and answer.
//   vdslreq REQUEST [--size N] [--hex OFF BYTES] [--str OFF TEXT]
//           [--file OFF PATH [SKIP [LEN]]] [--show N] [--text OFF] [--repeat N]
// --size 0 passes a null argument. Output: "result=<n>", then the answer.
#include "vdsl.h"
#include "vdsl_dev.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: vdslreq REQUEST [--size N] [--hex OFF BYTES] [--str OFF TEXT]\n"
                 "               [--file OFF PATH [SKIP [LEN]]] [--show N] [--text OFF] [--repeat N]\n");
    return 2;
}

bool number(const char *s, unsigned long &out)
{
    char *end = nullptr;
    out = std::strtoul(s, &end, 0);
    return *s && *end == '\0';
}

bool put(std::vector<unsigned char> &block, unsigned long off, const std::vector<unsigned char> &bytes)
{
    if (off > block.size() || bytes.size() > block.size() - off)
        return false;
    std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<long>(off));
    return true;
}

bool hex_bytes(const char *s, std::vector<unsigned char> &out)
{
    std::string h;
    for (; *s; s++)
        if (*s != ' ' && *s != ':')
            h += *s;
    if (h.size() % 2)
        return false;
    for (size_t i = 0; i < h.size(); i += 2) {
        unsigned long v;
        if (!number(("0x" + h.substr(i, 2)).c_str(), v))
            return false;
        out.push_back(static_cast<unsigned char>(v));
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    unsigned long req, size = VDSL_BLOCK_SIZE, show = 0, repeat = 1;
    long text_off = -1;
    if (argc < 2 || !number(argv[1], req))
        return usage();
    struct Put {
        unsigned long off;
        std::vector<unsigned char> bytes;
    };
    std::vector<Put> puts;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        unsigned long off;
        if (a == "--size" && i + 1 < argc && number(argv[i + 1], size)) {
            i++;
        } else if (a == "--show" && i + 1 < argc && number(argv[i + 1], show)) {
            i++;
        } else if (a == "--repeat" && i + 1 < argc && number(argv[i + 1], repeat)) {
            i++;
        } else if (a == "--text" && i + 1 < argc && number(argv[i + 1], off)) {
            text_off = static_cast<long>(off);
            i++;
        } else if (a == "--hex" && i + 2 < argc && number(argv[i + 1], off)) {
            Put p{off, {}};
            if (!hex_bytes(argv[i + 2], p.bytes))
                return usage();
            puts.push_back(p);
            i += 2;
        } else if (a == "--str" && i + 2 < argc && number(argv[i + 1], off)) {
            Put p{off, {}};
            p.bytes.assign(argv[i + 2], argv[i + 2] + std::strlen(argv[i + 2]) + 1);
            puts.push_back(p);
            i += 2;
        } else if (a == "--file" && i + 2 < argc && number(argv[i + 1], off)) {
            std::ifstream f(argv[i + 2], std::ios::binary);
            if (!f)
                return usage();
            std::vector<unsigned char> data((std::istreambuf_iterator<char>(f)),
                                            std::istreambuf_iterator<char>());
            i += 2;
            unsigned long skip = 0, len = data.size();
            if (i + 1 < argc && number(argv[i + 1], skip)) {
                i++;
                if (i + 1 < argc && number(argv[i + 1], len))
                    i++;
            }
            if (skip > data.size())
                skip = data.size();
            len = std::min<unsigned long>(len, data.size() - skip);
            puts.push_back({off, std::vector<unsigned char>(data.begin() + static_cast<long>(skip),
                                                            data.begin() + static_cast<long>(skip + len))});
        } else {
            return usage();
        }
    }
    std::vector<unsigned char> block(size ? size : 1, 0);
    for (const Put &p : puts)
        if (!put(block, p.off, p.bytes)) {
            std::fprintf(stderr, "vdslreq: bytes at %lu do not fit the block\n", p.off);
            return 2;
        }

    int rc = 0;
    for (unsigned long r = 0; r < repeat; r++) {
        int fd = vdsl_dev_open();
        if (fd < 0) {
            std::perror("vdslreq: open");
            return 1;
        }
        rc = vdsl_dev_ioctl(fd, req, size ? block.data() : nullptr, size);
        vdsl_dev_close(fd);
    }
    std::printf("result=%d\n", rc);
    if (show && size) {
        for (unsigned long i = 0; i < show && i < size; i++)
            std::printf("%02x%s", block[i], i + 1 < show && i + 1 < size ? " " : "\n");
    }
    if (text_off >= 0 && static_cast<unsigned long>(text_off) < size)
        std::printf("%.*s\n",
                    static_cast<int>(strnlen(reinterpret_cast<char *>(block.data()) + text_off,
                                             size - static_cast<unsigned long>(text_off))),
                    reinterpret_cast<char *>(block.data()) + text_off);
    return 0;
}
