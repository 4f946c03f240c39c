/* The SMB1 command handlers of the dispatch table. Each command's own part
 * supplies its handler; until then the library answers "not supported". */
#ifndef CSCOMMANDS_H
#define CSCOMMANDS_H

#include "cmtypes.h"
#include "csdb.h"

/* params: the command block from its WordCount byte; response: the
 * response's SMB header; position: where the block goes, advanced past it. */
VX_API uint32_t csComCreateDirectory(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComDeleteDirectory(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComOpen(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComCreate(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComClose(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComFlush(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComDelete(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComRename(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComQueryInformation(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComSetInformation(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComRead(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComWrite(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComCreateNew(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComCheckDirectory(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComProcessExit(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComSeek(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComSetInformation2(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComQueryInformation2(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComLockingAndX(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComTransaction(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComEcho(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComOpenAndX(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComReadAndX(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComWriteAndX(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComTransaction2(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComFindClose2(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComTreeConnect(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComTreeDisconnect(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComNegotiate(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComSessionSetupAndX(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComLogoffAndX(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComTreeConnectAndX(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComQueryInformationDisk(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComSearch(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComNtTransaction(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComNtCreateAndX(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComNtCancel(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComOpenPrintFile(const uint8_t *params, uint8_t *response, uint8_t **position);
VX_API uint32_t csComClosePrintFile(const uint8_t *params, uint8_t *response, uint8_t **position);

/* Ends a tree: the host hears of a share's disconnect (not the IPC
 * share's), then the tree and its files and searches go. Null: nothing. */
VX_API void csDoTreeDisconnect(CSTree *tree);

/* The table: code, handler, flags (csdispatch.h CS_CMD_*). */
#define CS_COMMANDS(X)                                                                                       \
    X(0x00, csComCreateDirectory, 0x01)                                                                      \
    X(0x01, csComDeleteDirectory, 0x01) X(0x02, csComOpen, 0x01) X(0x03, csComCreate, 0x01)                  \
        X(0x04, csComClose, 0x01) X(0x05, csComFlush, 0x01) X(0x06, csComDelete, 0x01) X(                    \
            0x07, csComRename, 0x01) X(0x08, csComQueryInformation, 0x01) X(0x09, csComSetInformation, 0x01) \
            X(0x0A, csComRead, 0x01) X(0x0B, csComWrite, 0x01) X(0x0F, csComCreateNew, 0x01) X(              \
                0x10, csComCheckDirectory, 0x01) X(0x11, csComProcessExit, 0x01) X(0x12, csComSeek, 0x01)    \
                X(0x22, csComSetInformation2, 0x01) X(0x23, csComQueryInformation2, 0x01)                    \
                    X(0x24, csComLockingAndX, 0x03) X(0x25, csComTransaction, 0x01) X(0x2B, csComEcho, 0x05) \
                        X(0x2D, csComOpenAndX, 0x03) X(0x2E, csComReadAndX, 0x13)                            \
                            X(0x2F, csComWriteAndX, 0x0B) X(0x32, csComTransaction2, 0x01)                   \
                                X(0x34, csComFindClose2, 0x01) X(0x70, csComTreeConnect, 0x01)               \
                                    X(0x71, csComTreeDisconnect, 0x01) X(0x72, csComNegotiate, 0x05)         \
                                        X(0x73, csComSessionSetupAndX, 0x07) X(0x74, csComLogoffAndX, 0x03)  \
                                            X(0x75, csComTreeConnectAndX, 0x03)                              \
                                                X(0x80, csComQueryInformationDisk, 0x01)                     \
                                                    X(0x81, csComSearch, 0x01)                               \
                                                        X(0xA0, csComNtTransaction, 0x01)                    \
                                                            X(0xA2, csComNtCreateAndX, 0x03)                 \
                                                                X(0xA4, csComNtCancel, 0x01)                 \
                                                                    X(0xC0, csComOpenPrintFile, 0x01)        \
                                                                        X(0xC2, csComClosePrintFile, 0x01)

#endif
