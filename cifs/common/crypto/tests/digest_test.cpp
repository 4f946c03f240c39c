// MD4, MD5, HMAC-MD5, SHA-256, HMAC-SHA256 and SHA-512: published vectors,
// the fragment rules of the table entries, and differential runs against OpenSSL.
#include <gtest/gtest.h>
#include <openssl/hmac.h>
#include <openssl/md4.h>
#include <openssl/md5.h>
#include <openssl/sha.h>

#include "cmcrypt.h"
#include "test_util.h"

using namespace cryptotest;

namespace {

enum class Algo { Md4, Md5, Sha256, Sha512 };

// One call of the built-in default over a fragment list (MD4 takes the joined bytes).
Bytes digest(Algo algo, const CMBlob *fragments, uint32_t count, CMSha512Context *work = nullptr)
{
    Bytes out(64, 0xee);
    switch (algo) {
    case Algo::Md4: {
        Bytes joined;
        for (uint32_t i = 0; i < count; ++i)
            if (fragments[i].data)
                joined.insert(joined.end(), fragments[i].data, fragments[i].data + fragments[i].len);
        md4Vector(joined.data(), out.data(), uint32_t(joined.size()));
        out.resize(16);
        break;
    }
    case Algo::Md5:
        md5Vector(nullptr, nullptr, fragments, count, out.data(), 0);
        out.resize(16);
        break;
    case Algo::Sha256:
        sha256Vector(nullptr, nullptr, fragments, count, out.data(), 0);
        out.resize(32);
        break;
    case Algo::Sha512:
        sha512Vector(nullptr, nullptr, fragments, count, out.data(), 0, work);
        break;
    }
    return out;
}

Bytes digestOf(Algo algo, Bytes data)
{
    CMBlob one{data.data(), uint32_t(data.size())};
    return digest(algo, &one, 1);
}

Bytes oracle(Algo algo, const Bytes &data)
{
    Bytes out(64);
    switch (algo) {
    case Algo::Md4:
        MD4(data.data(), data.size(), out.data());
        out.resize(16);
        break;
    case Algo::Md5:
        MD5(data.data(), data.size(), out.data());
        out.resize(16);
        break;
    case Algo::Sha256:
        SHA256(data.data(), data.size(), out.data());
        out.resize(32);
        break;
    case Algo::Sha512:
        SHA512(data.data(), data.size(), out.data());
        break;
    }
    return out;
}

struct Vector {
    Algo algo;
    std::string message;
    const char *expected;
};

TEST(Digest, PublishedVectors)
{
    const std::string alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string digits;
    for (int i = 0; i < 8; ++i)
        digits += "1234567890";
    const Vector vectors[] = {
        // RFC 1320
        {Algo::Md4, "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {Algo::Md4, "a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {Algo::Md4, "abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {Algo::Md4, "message digest", "d9130a8164549fe818874806e1c7014b"},
        {Algo::Md4, "abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {Algo::Md4, alnum, "043f8582f241db351ce627e153e7f0e4"},
        {Algo::Md4, digits, "e33b4ddc9c38f2199c3e7b164fcc0536"},
        // RFC 1321
        {Algo::Md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {Algo::Md5, "a", "0cc175b9c0f1b6a831c399e269772661"},
        {Algo::Md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {Algo::Md5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {Algo::Md5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {Algo::Md5, alnum, "d174ab98d277d9f5a5611c2c9f419d9f"},
        {Algo::Md5, digits, "57edf4a22be3c955ac49da2e2107b67a"},
        // FIPS 180-4 examples
        {Algo::Sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {Algo::Sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Algo::Sha256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Algo::Sha512, "",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
         "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
        {Algo::Sha512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {Algo::Sha512,
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmno"
         "pqrst"
         "nopqrstu",
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
         "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    };
    for (const auto &v : vectors)
        EXPECT_EQ(to_hex(digestOf(v.algo, text(v.message))), v.expected) << '"' << v.message << '"';
}

// MD4's one or two final blocks: the lengths around the 56-byte length field and the block end.
TEST(Digest, Md4FinalBlockBoundaries)
{
    for (size_t n : {0, 55, 56, 63, 64, 65, 119, 120, 128}) {
        Bytes data(n);
        for (size_t i = 0; i < n; ++i)
            data[i] = uint8_t('a' + i % 26);
        EXPECT_EQ(to_hex(digestOf(Algo::Md4, data)), to_hex(oracle(Algo::Md4, data))) << n;
    }
}

TEST(Digest, FragmentRules)
{
    uint8_t ab[2] = {'a', 'b'}, c[1] = {'c'}, junk[5] = {1, 2, 3, 4, 5};
    (void)junk;
    CMBlob list[3] = {{ab, 2}, {nullptr, 5}, {c, 1}};
    for (Algo algo : {Algo::Md5, Algo::Sha256, Algo::Sha512})
        EXPECT_EQ(to_hex(digest(algo, list, 3)), to_hex(oracle(algo, text("abc"))));
    // A count of zero is the digest of the empty message; a null list likewise.
    for (Algo algo : {Algo::Md5, Algo::Sha256, Algo::Sha512}) {
        EXPECT_EQ(to_hex(digest(algo, list, 0)), to_hex(oracle(algo, {})));
        EXPECT_EQ(to_hex(digest(algo, nullptr, 4)), to_hex(oracle(algo, {})));
    }
    // HMAC-MD5 skips the null fragment too.
    uint8_t key[16] = {7};
    CMBlob k{key, 16};
    Bytes a(16), b(16);
    hmacMd5Vector(&k, nullptr, list, 3, a.data(), 0);
    cmHMACMD5(key, 16, reinterpret_cast<const uint8_t *>("abc"), 3, b.data());
    EXPECT_EQ(a, b);
}

TEST(Digest, DifferentialOneCallAndSplit)
{
    Rng rng(1);
    for (Algo algo : {Algo::Md4, Algo::Md5, Algo::Sha256, Algo::Sha512}) {
        for (size_t n : boundaryLengths()) {
            Bytes data = rng.bytes(n);
            Bytes expected = oracle(algo, data);
            CMBlob one{data.data(), uint32_t(n)};
            ASSERT_EQ(to_hex(digest(algo, &one, 1)), to_hex(expected)) << int(algo) << " len " << n;
            auto parts = randomFragments(data, rng);
            ASSERT_EQ(to_hex(digest(algo, parts.data(), uint32_t(parts.size()))), to_hex(expected))
                << int(algo) << " split len " << n;
        }
    }
}

TEST(Digest, Sha512WorkContextKeepsDigestWords)
{
    CMSha512Context work;
    static_assert(sizeof(CMSha512Context) == 720, "work area size");
    Bytes data = text("abc");
    CMBlob one{data.data(), 3};
    Bytes withContext = digest(Algo::Sha512, &one, 1, &work);
    EXPECT_EQ(withContext, oracle(Algo::Sha512, data));
    EXPECT_EQ(work.state[0], 0xddaf35a193617abaull);
    // The same area serves the next message from scratch.
    EXPECT_EQ(digest(Algo::Sha512, &one, 1, &work), withContext);
}

TEST(Digest, Sha512NullOutputReportsAndWritesNothing)
{
    Bytes data = text("abc");
    CMBlob one{data.data(), 3};
    testing::internal::CaptureStdout();
    sha512Vector(nullptr, nullptr, &one, 1, nullptr, 64, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "digest is null\n");
}

struct HmacVector {
    Bytes key;
    Bytes data;
    const char *expected;
};

TEST(Hmac, Md5Rfc2202)
{
    Bytes key4;
    for (uint8_t i = 1; i <= 25; ++i)
        key4.push_back(i);
    const HmacVector vectors[] = {
        {repeat(0x0b, 16), text("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
        {text("Jefe"), text("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
        {repeat(0xaa, 16), repeat(0xdd, 50), "56be34521d144c88dbb8c733f0e8b3f6"},
        {key4, repeat(0xcd, 50), "697eaf0aca3a3aea3a75164746ffaa79"},
        {repeat(0x0c, 16), text("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c"},
        // Keys longer than a block are hashed first.
        {repeat(0xaa, 80), text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {repeat(0xaa, 80), text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto &v : vectors) {
        Bytes out(16);
        cmHMACMD5(v.key.data(), uint32_t(v.key.size()), v.data.data(), uint32_t(v.data.size()), out.data());
        EXPECT_EQ(to_hex(out), v.expected);
    }
}

TEST(Hmac, Sha256Rfc4231)
{
    Bytes key4;
    for (uint8_t i = 1; i <= 25; ++i)
        key4.push_back(i);
    const HmacVector vectors[] = {
        {repeat(0x0b, 20), text("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {text("Jefe"), text("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {repeat(0xaa, 20), repeat(0xdd, 50),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {key4, repeat(0xcd, 50), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {repeat(0xaa, 131), text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {repeat(0xaa, 131),
         text("This is a test using a larger than block-size key and a larger than block-size data. The key "
              "needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto &v : vectors) {
        Bytes out(32);
        cmHMACSHA256(v.key.data(), uint32_t(v.key.size()), v.data.data(), uint32_t(v.data.size()),
                     out.data());
        EXPECT_EQ(to_hex(out), v.expected);
    }
    // Case 5 truncates to 128 bits: its prefix is what the callers keep.
    Bytes out(32);
    Bytes k = repeat(0x0c, 20), d = text("Test With Truncation");
    cmHMACSHA256(k.data(), 20, d.data(), uint32_t(d.size()), out.data());
    EXPECT_EQ(to_hex(out.data(), 16), "a3b6167473100ee06e0c796c2955552b");
}

TEST(Hmac, DifferentialAgainstOpenSsl)
{
    Rng rng(2);
    for (size_t keyLength : {0, 1, 16, 63, 64, 65, 200}) {
        for (size_t n : {0, 1, 55, 56, 64, 65, 129, 1000}) {
            Bytes key = rng.bytes(keyLength), data = rng.bytes(n);
            unsigned len = 0;
            Bytes md5(16), sha(32), mine5(16), mine256(32);
            // OpenSSL refuses a null key pointer even for an empty key.
            const uint8_t *k0 = keyLength ? key.data() : reinterpret_cast<const uint8_t *>("");
            HMAC(EVP_md5(), k0, int(keyLength), data.data(), n, md5.data(), &len);
            HMAC(EVP_sha256(), k0, int(keyLength), data.data(), n, sha.data(), &len);
            CMBlob k{key.data(), uint32_t(keyLength)};
            auto parts = randomFragments(data, rng);
            hmacMd5Vector(&k, nullptr, parts.data(), uint32_t(parts.size()), mine5.data(), 0);
            cmHMACSHA256Vector(key.data(), uint32_t(keyLength), parts.data(), uint32_t(parts.size()),
                               mine256.data());
            EXPECT_EQ(to_hex(mine5), to_hex(md5)) << keyLength << "/" << n;
            EXPECT_EQ(to_hex(mine256), to_hex(sha)) << keyLength << "/" << n;
        }
    }
}

// A list longer than the inline room of the HMAC-SHA256 fragment list still hashes right.
TEST(Hmac, Sha256LongFragmentList)
{
    Bytes data = Rng(3).bytes(40);
    std::vector<CMBlob> parts;
    for (size_t i = 0; i < data.size(); ++i)
        parts.push_back(CMBlob{data.data() + i, 1});
    uint8_t key[16] = {1, 2, 3};
    Bytes mine(32), theirs(32);
    unsigned len = 0;
    cmHMACSHA256Vector(key, 16, parts.data(), uint32_t(parts.size()), mine.data());
    HMAC(EVP_sha256(), key, 16, data.data(), data.size(), theirs.data(), &len);
    EXPECT_EQ(to_hex(mine), to_hex(theirs));
}

}  // namespace
