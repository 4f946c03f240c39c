// Least versions of what the dispatchers call of their neighbours: the SMB1
// commands and the transactions' other handlers. Each one's own part
// replaces it.
#include "cscommands.h"
#include "csdispatch.h"
#include "csserver.h"
#include "cs2tables.h"
#include "cstrans.h"

extern "C" {

#define CS_DEFINE_COMMAND(code, name, flags)                                                                 \
    __attribute__((weak)) uint32_t name(const uint8_t *, uint8_t *, uint8_t **)                              \
    {                                                                                                        \
        return csErrorReturn(0xC00000BBu, 0xFFFF0002u);                                                      \
    }
CS_COMMANDS(CS_DEFINE_COMMAND)
#undef CS_DEFINE_COMMAND

#define CS_TRANSACTION_STUB(name)                                                                            \
    __attribute__((weak)) uint32_t name(CSTransaction *) { return csErrorReturn(0xC00000BBu, 0xFFFF0002u); }
CS_TRANSACTION_STUB(csMailslotBrowse)
#undef CS_TRANSACTION_STUB

}  // extern "C"
