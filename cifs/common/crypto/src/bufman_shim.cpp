// Interim buffer manager until the common layer's own one is merged here.
#include <cstdint>
#include <cstdlib>

extern "C" void *cmBufManTake(uint32_t size) {
    return size < 65853 ? std::malloc(65852) : nullptr;
}

extern "C" void cmBufManGive(void *buffer) { std::free(buffer); }
