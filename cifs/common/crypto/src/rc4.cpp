// RC4 (SAMR password buffers, NTLM sealing).
#include "crypt_internal.h"

extern "C" void cmArcfourPrepareState(const uint8_t *key, uint32_t keyLength, CMArcfourState *state)
{
    if (!keyLength)
        return;
    uint8_t *s = state->s;
    for (int n = 0; n < 256; ++n)
        s[n] = uint8_t(n);
    uint8_t j = 0;
    for (uint32_t n = 0, k = 0; n < 256; ++n) {
        j = uint8_t(j + s[n] + key[k]);
        if (++k == keyLength)
            k = 0;
        uint8_t t = s[n];
        s[n] = s[j];
        s[j] = t;
    }
}

extern "C" void cmArcfourCryptWithState(uint8_t *data, uint32_t length, CMArcfourState *state)
{
    uint8_t *s = state->s;
    uint8_t i = state->i, j = state->j;
    for (uint32_t n = 0; n < length; ++n) {
        i = uint8_t(i + 1);
        uint8_t si = s[i];
        j = uint8_t(j + si);
        uint8_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        data[n] ^= s[uint8_t(si + sj)];
    }
    state->i = i;
    state->j = j;
}

extern "C" void cmArcfourCrypt(uint8_t *data, uint32_t length, const uint8_t *key, uint32_t keyLength)
{
    if (!keyLength)
        return;
    CMArcfourState state;
    cmArcfourPrepareState(key, keyLength, &state);
    state.i = state.j = 0;
    cmArcfourCryptWithState(data, length, &state);
    cmcrypt::wipe(&state, sizeof state);
}
