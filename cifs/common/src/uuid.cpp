// UUIDs from random bytes, read and written in their little-endian field form.
#include "cmtime.h"

#include <cstring>
#include <sys/random.h>

// The crypto layer's generator when it is linked in; the kernel's otherwise.
extern "C" void cmCreateRandomByteSequence(uint8_t *buffer, uint32_t size) __attribute__((weak));

extern "C" {

void cmGenerateUuid(uint8_t *uuid) {
    if (cmCreateRandomByteSequence) {
        cmCreateRandomByteSequence(uuid, 16);
        return;
    }
    size_t got = 0;
    while (got < 16) {
        ssize_t n = getrandom(uuid + got, 16 - got, 0);
        if (n > 0)
            got += (size_t)n;
    }
}

void cmZeroUuid(uint8_t *uuid) { std::memset(uuid, 0, 16); }
void cmUuidRead(CMBufferReader *reader, uint8_t *uuid) { cmRpcParseUuid(reader, uuid); }
void cmUuidWrite(CMBufferWriter *writer, const uint8_t *uuid) { cmRpcPackUuid(writer, uuid); }

}  // extern "C"
