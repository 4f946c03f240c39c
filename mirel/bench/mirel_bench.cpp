// Throughput of the hot paths: byte form both ways, URI parsing, X25519 and sealing.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "coap_message.h"
#include "coap_uri.h"
#include "mirel_crypto.h"

namespace {

struct CoAPMessage *block_message()
{
    struct CoAPMessage *m = CoAPMessage(COAP_TYPE_CON, COAP_CODE_POST, 0x0102);
    const uint8_t tok[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CoAPMessage_SetToken(m, tok, 8);
    CoAPMessage_AddOptionUint(m, COAP_OPTION_SR_WINDOW_SIZE, 70);
    CoAPMessage_AddOptionString(m, COAP_OPTION_URI_PATH, "zmo");
    CoAPMessage_AddOptionString(m, COAP_OPTION_URI_PATH, "ci");
    struct CoAPMessage_Block b = {17, 6, 1};
    CoAPMessage_AddOptionBlock(m, COAP_OPTION_BLOCK1, &b);
    CoAPMessage_AddOptionUint(m, COAP_OPTION_URI_SCHEME, 1);
    std::string body(1024, 'x');
    CoAPMessage_SetPayload(m, body.data(), body.size());
    return m;
}

void BM_Encode(benchmark::State &state)
{
    struct CoAPMessage *m = block_message();
    for (auto _ : state) {
        uint32_t len;
        uint8_t *bytes = CoAPMessage_ToBytes(m, &len);
        benchmark::DoNotOptimize(bytes);
        Mem_free(bytes);
    }
    CoAPMessage_Decref(m);
}
BENCHMARK(BM_Encode);

void BM_Decode(benchmark::State &state)
{
    struct CoAPMessage *m = block_message();
    uint32_t len;
    uint8_t *bytes = CoAPMessage_ToBytes(m, &len);
    for (auto _ : state) {
        struct CoAPMessage *d = CoAPMessage_FromBytes(bytes, len);
        benchmark::DoNotOptimize(d);
        CoAPMessage_Decref(d);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
    Mem_free(bytes);
    CoAPMessage_Decref(m);
}
BENCHMARK(BM_Decode);

void BM_UriParse(benchmark::State &state)
{
    for (auto _ : state) {
        struct Uri u;
        Uri_Parse(&u, "coaps://10.0.0.1:5684/zmo/login?user=admin&x=1#f");
        Uri_ParseFree(&u);
    }
}
BENCHMARK(BM_UriParse);

void BM_X25519(benchmark::State &state)
{
    uint8_t scalar[32], point[32] = {9}, out[32];
    for (int i = 0; i < 32; i++)
        scalar[i] = static_cast<uint8_t>(i * 37 + 1);
    for (auto _ : state) {
        curve25519_donna(out, scalar, point);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_X25519);

// What one side of a handshake computes: the shared secret, HKDF and the
// session's cipher pair (its public key is made once, with the key).
void BM_HandshakeKeys(benchmark::State &state)
{
    uint8_t own[32], peer[32], base[32] = {9}, peer_public[32], shared[32], okm[HKDF_OUT_SIZE];
    for (int i = 0; i < 32; i++) {
        own[i] = static_cast<uint8_t>(i * 37 + 1);
        peer[i] = static_cast<uint8_t>(i * 11 + 5);
    }
    curve25519_donna(peer_public, peer, base);
    for (auto _ : state) {
        curve25519_donna(shared, own, peer_public);
        Hkdf(shared, sizeof shared, okm);
        struct Aead *a = Aead(okm, 16, okm + 16, 16, okm + 32, 4, okm + 36, 4);
        benchmark::DoNotOptimize(a);
        Aead_Free(a);
    }
}
BENCHMARK(BM_HandshakeKeys);

void BM_Seal1024(benchmark::State &state)
{
    uint8_t key[16] = {1}, iv[4] = {2};
    struct Aead *a = Aead(key, 16, key, 16, iv, 4, iv, 4);
    std::vector<uint8_t> plain(1024, 7), out(1024 + 12);
    uint16_t id = 0;
    for (auto _ : state) {
        size_t len = out.size();
        Aead_Seal(a, plain.data(), plain.size(), id++, nullptr, 0, out.data(), &len);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
    Aead_Free(a);
}
BENCHMARK(BM_Seal1024);

}  // namespace

BENCHMARK_MAIN();
