// Throughput of the stack's digests and ciphers beside OpenSSL's. Run through
// bench/compare.sh, which masks OpenSSL's hardware paths and prints the ratios.
// Each pair is named <algorithm>/ours and <algorithm>/openssl.
#include <benchmark/benchmark.h>
#include <openssl/aes.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/params.h>

#include <algorithm>
#include <vector>

#include "cmcrypt.h"
#include "cmcryptmodes.h"
#include "cmsign.h"

namespace {

std::vector<uint8_t> data(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 131 + 7);
    return v;
}

const uint8_t kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const uint8_t kNonce[12] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2};
const uint8_t kAad[32] = {0x42};

void done(benchmark::State &state) { state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0)); }

// ---- AES block ----

void AesBlock_ours(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    CMAesContext c;
    aesEncryptInit(kKey, 16, &c);
    for (auto _ : state) {
        for (size_t off = 0; off < buf.size(); off += 16)
            aesEncrypt(&c, buf.data() + off, buf.data() + off);
        benchmark::DoNotOptimize(buf.data());
    }
    done(state);
}

void AesBlock_openssl(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(c, EVP_aes_128_ecb(), nullptr, kKey, nullptr);
    EVP_CIPHER_CTX_set_padding(c, 0);
    int len = 0;
    for (auto _ : state) {
        EVP_EncryptUpdate(c, buf.data(), &len, buf.data(), int(buf.size()));
        benchmark::DoNotOptimize(buf.data());
    }
    EVP_CIPHER_CTX_free(c);
    done(state);
}

// The single-block call of OpenSSL's own low-level interface, for reference.
void AesBlockLowLevel_openssl(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    AES_KEY key;
    AES_set_encrypt_key(kKey, 128, &key);
    for (auto _ : state) {
        for (size_t off = 0; off < buf.size(); off += 16)
            AES_encrypt(buf.data() + off, buf.data() + off, &key);
        benchmark::DoNotOptimize(buf.data());
    }
    done(state);
}

// ---- digests ----

template <int Algo> void Digest_ours(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    CMBlob fragment{buf.data(), uint32_t(buf.size())};
    uint8_t out[64];
    CMSha512Context work;
    for (auto _ : state) {
        if (Algo == 0)
            md5Vector(nullptr, nullptr, &fragment, 1, out, 16);
        else if (Algo == 1)
            sha256Vector(nullptr, nullptr, &fragment, 1, out, 32);
        else
            sha512Vector(nullptr, nullptr, &fragment, 1, out, 64, &work);
        benchmark::DoNotOptimize(out);
    }
    done(state);
}

template <int Algo> void Digest_openssl(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    const EVP_MD *md = Algo == 0 ? EVP_md5() : Algo == 1 ? EVP_sha256() : EVP_sha512();
    EVP_MD_CTX *c = EVP_MD_CTX_new();
    uint8_t out[64];
    unsigned len = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(c, md, nullptr);
        EVP_DigestUpdate(c, buf.data(), buf.size());
        EVP_DigestFinal_ex(c, out, &len);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(c);
    done(state);
}

void Md5_ours(benchmark::State &s) { Digest_ours<0>(s); }
void Md5_openssl(benchmark::State &s) { Digest_openssl<0>(s); }
void Sha256_ours(benchmark::State &s) { Digest_ours<1>(s); }
void Sha256_openssl(benchmark::State &s) { Digest_openssl<1>(s); }
void Sha512_ours(benchmark::State &s) { Digest_ours<2>(s); }
void Sha512_openssl(benchmark::State &s) { Digest_openssl<2>(s); }

// ---- AES modes: one message per iteration, key schedule included ----

void Gcm_ours(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    uint8_t tag[16];
    CMAesContext c;
    for (auto _ : state) {
        aes128GcmEncrypt(kKey, kNonce, buf.data(), uint32_t(buf.size()), kAad, 32, tag, &c, nullptr);
        benchmark::DoNotOptimize(tag);
    }
    done(state);
}

void Ccm_ours(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    uint8_t tag[16];
    for (auto _ : state) {
        AES_128_CCM_Encrypt(kKey, kNonce, buf.data(), uint32_t(buf.size()), kAad, 32, tag);
        benchmark::DoNotOptimize(tag);
    }
    done(state);
}

void aeadOpenssl(benchmark::State &state, bool gcm)
{
    auto buf = data(size_t(state.range(0)));
    uint8_t tag[16];
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    int len = 0;
    for (auto _ : state) {
        EVP_EncryptInit_ex(c, gcm ? EVP_aes_128_gcm() : EVP_aes_128_ccm(), nullptr, nullptr, nullptr);
        EVP_CIPHER_CTX_ctrl(c, gcm ? EVP_CTRL_GCM_SET_IVLEN : EVP_CTRL_CCM_SET_IVLEN, gcm ? 12 : 11, nullptr);
        if (!gcm)
            EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_CCM_SET_TAG, 16, nullptr);
        EVP_EncryptInit_ex(c, nullptr, nullptr, kKey, kNonce);
        if (!gcm)
            EVP_EncryptUpdate(c, nullptr, &len, nullptr, int(buf.size()));
        EVP_EncryptUpdate(c, nullptr, &len, kAad, 32);
        EVP_EncryptUpdate(c, buf.data(), &len, buf.data(), int(buf.size()));
        EVP_EncryptFinal_ex(c, buf.data() + len, &len);
        EVP_CIPHER_CTX_ctrl(c, gcm ? EVP_CTRL_GCM_GET_TAG : EVP_CTRL_CCM_GET_TAG, 16, tag);
        benchmark::DoNotOptimize(tag);
    }
    EVP_CIPHER_CTX_free(c);
    done(state);
}

void Gcm_openssl(benchmark::State &s) { aeadOpenssl(s, true); }
void Ccm_openssl(benchmark::State &s) { aeadOpenssl(s, false); }

void Cmac_ours(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    CMBlob key{const_cast<uint8_t *>(kKey), 16}, fragment{buf.data(), uint32_t(buf.size())};
    uint8_t mac[16];
    for (auto _ : state) {
        aesCmacVector(&key, nullptr, &fragment, 1, mac, 16);
        benchmark::DoNotOptimize(mac);
    }
    done(state);
}

void Cmac_openssl(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    EVP_MAC_CTX *c = EVP_MAC_CTX_new(mac);
    char cipher[] = "AES-128-CBC";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
                           OSSL_PARAM_construct_end()};
    uint8_t out[16];
    size_t len = 0;
    for (auto _ : state) {
        EVP_MAC_init(c, kKey, 16, params);
        EVP_MAC_update(c, buf.data(), buf.size());
        EVP_MAC_final(c, out, &len, sizeof out);
        benchmark::DoNotOptimize(out);
    }
    EVP_MAC_CTX_free(c);
    EVP_MAC_free(mac);
    done(state);
}

// ---- SMB 2.x message signature: HMAC-SHA256 over the whole message ----

void Smb2Sign_ours(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    for (auto _ : state) {
        cmSmb2CalculateMessageSignature(kKey, 16, buf.data(), uint32_t(buf.size()), nullptr, 0,
                                        buf.data() + 48);
        benchmark::DoNotOptimize(buf.data());
    }
    done(state);
}

void Smb2Sign_openssl(benchmark::State &state)
{
    auto buf = data(size_t(state.range(0)));
    uint8_t mac[32];
    unsigned int len = 0;
    for (auto _ : state) {
        std::fill(buf.begin() + 48, buf.begin() + 64, 0);
        HMAC(EVP_sha256(), kKey, 16, buf.data(), buf.size(), mac, &len);
        std::copy(mac, mac + 16, buf.begin() + 48);
        benchmark::DoNotOptimize(buf.data());
    }
    done(state);
}

}  // namespace

#define PAIR(name)                                                                                           \
    BENCHMARK(name##_ours)->Name(#name "/ours")->Arg(1024)->Arg(16384);                                      \
    BENCHMARK(name##_openssl)->Name(#name "/openssl")->Arg(1024)->Arg(16384)

PAIR(AesBlock);
PAIR(Md5);
PAIR(Sha256);
PAIR(Sha512);
PAIR(Gcm);
PAIR(Ccm);
PAIR(Cmac);
PAIR(Smb2Sign);
BENCHMARK(AesBlockLowLevel_openssl)->Name("AesBlockLowLevel/openssl")->Arg(1024)->Arg(16384);

BENCHMARK_MAIN();
