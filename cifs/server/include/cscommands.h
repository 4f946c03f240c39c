/* The SMB1 command handlers of the dispatch table. Each command's own part
 * supplies its handler; until then the library answers "not supported". */
#ifndef CSCOMMANDS_H
#define CSCOMMANDS_H

#include "cmtypes.h"

#define CS_COMMANDS(X)                                                                                    \
    X(0x00, csComCreateDirectory, 0x01) X(0x01, csComDeleteDirectory, 0x01) X(0x02, csComOpen, 0x01)      \
    X(0x03, csComCreate, 0x01) X(0x04, csComClose, 0x01) X(0x05, csComFlush, 0x01)                        \
    X(0x06, csComDelete, 0x01) X(0x07, csComRename, 0x01) X(0x08, csComQueryInformation, 0x01)            \
    X(0x09, csComSetInformation, 0x01) X(0x0A, csComRead, 0x01) X(0x0B, csComWrite, 0x01)                 \
    X(0x0F, csComCreateNew, 0x01) X(0x10, csComCheckDirectory, 0x01) X(0x11, csComProcessExit, 0x01)      \
    X(0x12, csComSeek, 0x01) X(0x22, csComSetInformation2, 0x01) X(0x23, csComQueryInformation2, 0x01)    \
    X(0x24, csComLockingAndX, 0x03) X(0x25, csComTransaction, 0x01) X(0x2B, csComEcho, 0x05)              \
    X(0x2D, csComOpenAndX, 0x03) X(0x2E, csComReadAndX, 0x13) X(0x2F, csComWriteAndX, 0x0B)               \
    X(0x32, csComTransaction2, 0x01) X(0x34, csComFindClose2, 0x01) X(0x70, csComTreeConnect, 0x01)       \
    X(0x71, csComTreeDisconnect, 0x01) X(0x72, csComNegotiate, 0x05) X(0x73, csComSessionSetupAndX, 0x07) \
    X(0x74, csComLogoffAndX, 0x03) X(0x75, csComTreeConnectAndX, 0x03)                                    \
    X(0x80, csComQueryInformationDisk, 0x01) X(0x81, csComSearch, 0x01) X(0xA0, csComNtTransaction, 0x01) \
    X(0xA2, csComNtCreateAndX, 0x03) X(0xA4, csComNtCancel, 0x01) X(0xC0, csComOpenPrintFile, 0x01)       \
    X(0xC2, csComClosePrintFile, 0x01)

#define CS_DECLARE_COMMAND(code, name, flags) \
    VX_API uint32_t name(const uint8_t *params, uint8_t *response, uint8_t **position);
CS_COMMANDS(CS_DECLARE_COMMAND)
#undef CS_DECLARE_COMMAND

#endif
