// UUIDs from random bytes, read and written in their little-endian field form.
#include "cmcrypt.h"
#include "cmtime.h"

#include <cstring>

extern "C" {

void cmGenerateUuid(uint8_t *uuid) { cmCreateRandomByteSequence(uuid, 16); }
void cmZeroUuid(uint8_t *uuid) { std::memset(uuid, 0, 16); }
void cmUuidRead(CMBufferReader *reader, uint8_t *uuid) { cmRpcParseUuid(reader, uuid); }
void cmUuidWrite(CMBufferWriter *writer, const uint8_t *uuid) { cmRpcPackUuid(writer, uuid); }

}  // extern "C"
