#include <gtest/gtest.h>

#include <string>

#include "zmo.h"

namespace {
std::string digest(const std::string &data, size_t chunk)
{
    zmo_md5_t ctx;
    zmo_md5_init(&ctx);
    for (size_t off = 0; off < data.size(); off += chunk)
        zmo_md5_update(&ctx, data.data() + off, std::min(chunk, data.size() - off));
    char out[33];
    return zmo_md5_text_digest(&ctx, out);
}

TEST(Md5, Rfc1321Vectors)
{
    const struct {
        std::string in;
        const char *hex;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {"statssystemConfigurationSaved", nullptr},
    };
    for (const auto &c : cases) {
        // Chunk sizes that cross the 64-byte block edge differently give one digest.
        std::string whole = digest(c.in, c.in.size() + 1);
        for (size_t chunk : {1, 3, 63, 64, 65})
            EXPECT_EQ(digest(c.in, chunk), whole) << c.in;
        if (c.hex) {
            EXPECT_EQ(whole, c.hex) << c.in;
        }
    }
    // Exactly 56 and 64 bytes: padding takes a second block.
    EXPECT_EQ(digest(std::string(56, 'a'), 7), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(digest(std::string(64, 'a'), 64), "014842d480b571495a4a0363793f7367");
}
}  // namespace
