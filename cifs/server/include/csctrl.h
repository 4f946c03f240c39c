/* The local control channel: one UDP datagram of at most 1708 bytes to
 * 127.0.0.1 port 4445 carries one command, the server loop answers with one
 * datagram. The client functions return 0, or -1 with errno: the reply's
 * status (0xff07d1 failed or no such item, 0xff0003 unknown command),
 * 0xff0bb7 when no reply came in time, 0xff0003 for a request that does not
 * fit a datagram. */
#ifndef CSCTRL_H
#define CSCTRL_H

#include "cmbuffer.h"
#include "cmtypes.h"

#define CS_CTRL_PORT 4445
#define CS_CTRL_MAX_MESSAGE 1708
#define CS_CTRL_TIMEOUT 5
#define CS_CTRL_STOP_TIMEOUT 30

/* Command codes. */
#define CS_CTRL_STOP 1
#define CS_CTRL_RESTART 2
#define CS_CTRL_ADD_SHARE 3
#define CS_CTRL_REMOVE_SHARE 4
#define CS_CTRL_ENUM_SHARES 5
#define CS_CTRL_ADD_USER 6
#define CS_CTRL_REMOVE_USER 7
#define CS_CTRL_CLEAN_USER_CONNECTIONS 8
#define CS_CTRL_ENUM_USERS 9
#define CS_CTRL_ENUM_CLIENTS 10
#define CS_CTRL_SET_ENCRYPTION_METHODS 11
#define CS_CTRL_SET_SIGNING_POLICY 12
#define CS_CTRL_ENUM_FILES 13
#define CS_CTRL_SET_PERMISSIVE 100
#define CS_CTRL_SET_PRINTER_OWNER 101

typedef struct CSCtrlShareRecord {
    CMWchar name[64];
    CMWchar path[500];
    CMWchar statusPath[500];
    int16_t debugLevel;
    CMWchar comment[502];
} CSCtrlShareRecord;

typedef struct CSCtrlUserRecord {
    CMWchar name[256];
    CMWchar fullName[256];
    CMWchar description[256];
    uint32_t administrator;
} CSCtrlUserRecord;

typedef struct CSCtrlClientRecord {
    uint32_t address; /* network order */
    uint16_t dialect;
    CMWchar name[515];
    uint32_t guest;
    uint32_t anonymous;
    uint32_t printerOwner;
} CSCtrlClientRecord;

typedef struct CSCtrlFileRecord {
    CMWchar path[1026];
    CMWchar user[514];
    uint32_t address; /* network order */
    uint32_t isDirectory;
} CSCtrlFileRecord;

/* pack appends the arguments after the code; parse (may be null) reads the
 * reply data after the status and returns 0, or -1 for a malformed reply. */
typedef void (*CSCtrlPack)(CMBufferWriter *writer, const void *parameters);
typedef int (*CSCtrlParse)(CMBufferReader *reader, void *parameters);
VX_API int csCtrlTransact(uint32_t code, CSCtrlPack pack, CSCtrlParse parse, void *parameters,
                          uint32_t timeoutSeconds);

VX_API int csCtrlStop(void);
VX_API int csCtrlRestart(void);
VX_API int csCtrlAddShareW(const CMWchar *name, const CMWchar *path, const CMWchar *statusPath,
                           int16_t debugLevel, const CMWchar *comment);
VX_API int csCtrlAddShareA(const char *name, const char *path, const char *statusPath, int16_t debugLevel,
                           const char *comment);
VX_API int csCtrlRemoveShareW(const CMWchar *name);
VX_API int csCtrlRemoveShareA(const char *name);
VX_API int csCtrlEnumShares(CSCtrlShareRecord *record, uint32_t index);
VX_API int csCtrlAddUserW(const CMWchar *name, const CMWchar *fullName, const CMWchar *description,
                          const CMWchar *credential, int administrator);
VX_API int csCtrlAddUserA(const char *name, const char *fullName, const char *description,
                          const char *credential, int administrator);
VX_API int csCtrlRemoveUserW(const CMWchar *name);
VX_API int csCtrlRemoveUserA(const char *name);
VX_API int csCtrlCleanUserConnectionsW(const CMWchar *name, int domainUser);
VX_API int csCtrlCleanUserConnectionsA(const char *name, int domainUser);
VX_API int csCtrlEnumUsers(CSCtrlUserRecord *record, uint32_t index);
VX_API int csCtrlEnumClients(CSCtrlClientRecord *record, uint32_t index);
VX_API int csCtrlEnumFiles(CSCtrlFileRecord *record, uint32_t index);
VX_API int csCtrlSetEncryptionMethods(uint16_t methods);
VX_API int csCtrlSetMessageSigningPolicy(uint16_t policy);
VX_API int csCtrlSetPermissive(int flag);
VX_API int csCtrlSetPrinterOwnerW(const CMWchar *name, int owner);
VX_API int csCtrlSetPrinterOwnerA(const char *name, int owner);

/* Server side: serves one datagram of the control socket's descriptor; 0
 * when the server loop must end (stop and restart), else 1. */
VX_API int doControl(int descriptor);

#endif
