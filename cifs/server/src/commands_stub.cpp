// Least versions of what the dispatchers call of their neighbours: the SMB1
// commands, the SMB2 open, close, notify and oplock commands and SMB2 late
// answers. Each one's own part replaces it.
#include "cscommands.h"
#include "csdispatch.h"
#include "csserver.h"
#include "cs2tables.h"
#include "cssmb2.h"

extern "C" {

#define CS_DEFINE_COMMAND(code, name, flags)                                                                 \
    __attribute__((weak)) uint32_t name(const uint8_t *, uint8_t *, uint8_t **)                              \
    {                                                                                                        \
        return csErrorReturn(0xC00000BBu, 0xFFFF0002u);                                                      \
    }
CS_COMMANDS(CS_DEFINE_COMMAND)
#undef CS_DEFINE_COMMAND

// Late SMB2 answers come with the oplock and interim-answer part.
__attribute__((weak)) void cs2DispatchSaveResponseContext(CSLateResponseContext *context, const uint8_t *)
{
    context->isSmb2 = 1;
}
__attribute__((weak)) void cs2DispatchPrepareLateResponse(CSLateResponseContext *context)
{
    context->response = nullptr;
    context->remaining = 0;
}
__attribute__((weak)) int cs2DispatchSendLateResponse(CSLateResponseContext *, uint32_t) { return 0; }

}  // extern "C"

// Least versions of what the SMB1 file commands call of the transactions'
// other handlers; their own parts replace them.
#include "csservices.h"
#include "cstrans.h"

extern "C" {

#define CS_TRANSACTION_STUB(name)                                                                            \
    __attribute__((weak)) uint32_t name(CSTransaction *) { return csErrorReturn(0xC00000BBu, 0xFFFF0002u); }
CS_TRANSACTION_STUB(csMailslotBrowse)
CS_TRANSACTION_STUB(csNtTransactionNotifyChange)
#undef CS_TRANSACTION_STUB

}  // extern "C"
