/* Host hooks: the stack asks its host for configuration, identity, users,
 * shares and events through these functions. Each ud hook calls its udDef
 * default, which keeps its state in files under /var/run/cifs/.
 * Texts marked UTF-16 are zero-terminated host-order UTF-16. */
#ifndef UDHOOKS_H
#define UDHOOKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UD_CONFIG_DIR "/var/run/cifs/"
#define UD_SERVER_PID_FILE "/var/run/vxcs.pid"
#define UD_NETBIOS_PID_FILE "/var/run/vxnd.pid"
#define UD_BUFFER_AREA_SIZE 262800u
#define UD_COMPUTER_ID_SIZE 12

/* Start and end */
int udInit(void);
int udDefInit(void);
void udStop(void);
void udDefStop(void);

/* Domain, WINS and scope (cm_cfg.txt) */
uint32_t udGetWins(void);
uint32_t udDefGetWins(void);
void udGetScopeID(uint16_t* dest);
void udDefGetScopeID(uint16_t* dest);
void udGetDomain(uint16_t* dest, uint32_t size, int* isWorkgroup);
void udDefGetDomain(uint16_t* dest, uint32_t size, int* isWorkgroup);
void udGetDnsParams(uint16_t* domain, uint16_t* server);
void udDefGetDnsParams(uint16_t* domain, uint16_t* server);
void syGetDnsParams(char* domain, uint32_t* server);

/* Identity and names */
void udSetComputerId(const char* id);
void udGetComputerId(char* id);
void udDefGetComputerId(char* id);
void udGetServerComment(uint16_t* dest);
void udGetFileSystemName(const uint16_t* shareName, const uint16_t* path, uint16_t* dest);
void udGetDriverName(char* dest);
int udGetCredentials(const void* ignored, uint16_t* user, uint16_t* password, uint16_t* domain);
void udSetCredentials(const char* user, const char* password, const char* domain);
int udGetTaskPriorities(void);

/* Ports and transports */
uint16_t udGetPort(uint16_t port);
int udGetTransportPriority(uint32_t transport);
void cmGetTransportPriorities(uint32_t* out);
uint32_t cmGetNumOfAvailableTransports(void);

/* Message buffers of the NetBIOS socket layer */
void* udAllocateBuffer(uint32_t index, uint32_t count, uint32_t size);
void udReleaseBuffer(uint32_t index, uint32_t count, void* buffer, uint32_t size);

/* Security descriptors of files: not kept by the host (-1) */
int udGetSecurityDescriptor(int fd, uint32_t information, uint8_t* buffer);
int udSetSecurityDescriptor(int fd, uint32_t information, const uint8_t* buffer, uint32_t length);

/* Events */
void udCifsServerStarted(void);
void udCifsServerClosed(void);
void udNetBiosDaemonStarted(void);
void udNetBiosDaemonClosed(void);
void udBrowserDaemonStarted(void);
void udBrowserDaemonClosed(void);
void udServerDataIn(void);
void udNetBiosDataIn(void);
void udServerShareConnect(const uint16_t* share);
void udServerShareDisconnect(const uint16_t* share);

/* Users (pwd_list.txt) */
#define UD_USER_NAME_MAX 49
#define UD_PASSWORD_OUT_SIZE 65
int udCreateUser(const uint16_t* name, const uint16_t* fullName, const uint16_t* description);
int udDefCreateUser(const uint16_t* name, const uint16_t* fullName, const uint16_t* description);
int udSetUserInfo(int32_t rid, const uint16_t* name, const uint16_t* fullName,
                  const uint16_t* description, const uint16_t* hash);
int udDefSetUserInfo(int32_t rid, const uint16_t* name, const uint16_t* fullName,
                     const uint16_t* description, const uint16_t* hash);
int udDeleteUserByRid(int32_t rid);
int udDefDeleteUserByRid(int32_t rid);
int udSetUserAsAdministrator(int32_t rid, int isAdmin);
int udDefSetUserAsAdministrator(int32_t rid, int isAdmin);
int udSetUserAsPrinterOwner(int32_t rid, int flag);
int udDefSetUserAsPrinterOwner(int32_t rid, int flag);
uint32_t udGetUserCount(void);
uint32_t udDefGetUserCount(void);
int udGetUserInfo(uint32_t index, int32_t* rid, int* isPrinterOwner, uint16_t* name,
                  uint16_t* fullName, uint16_t* description);
int udDefGetUserInfo(uint32_t index, int32_t* rid, int* isPrinterOwner, uint16_t* name,
                     uint16_t* fullName, uint16_t* description);
int udGetUserNameByRid(int32_t rid, uint16_t* name, uint16_t* fullName);
int udDefGetUserNameByRid(int32_t rid, uint16_t* name, uint16_t* fullName);
int udGetUserRidByName(const uint16_t* name, int32_t* rid);
int udDefGetUserRidByName(const uint16_t* name, int32_t* rid);
int udGetPrinterOwnerFlag(const uint16_t* name, int* flag);
int udDefGetPrinterOwnerFlag(const uint16_t* name, int* flag);
/* out: UD_PASSWORD_OUT_SIZE bytes. 1 anonymous or no users file, 2 unknown
 * user or bad hash, 3 one 16-byte hash, 4 plain text or LM+NT hashes. */
int udGetPassword(const uint16_t* name, uint8_t* out, int* isHashed, int32_t* rid);
int udDefGetPassword(const uint16_t* name, uint8_t* out, int* isHashed, int32_t* rid);

/* Shares (cs_cfg.txt), mounts (cc_cfg.txt), share descriptors (share_sd.txt).
 * Buffers: name 64, path 500, comment 250, mount texts 256 units. */
#define UD_SHARE_NAME_SIZE 64
#define UD_SHARE_PATH_SIZE 500
#define UD_SHARE_COMMENT_SIZE 250
#define UD_MOUNT_TEXT_SIZE 256
#define UD_SHARE_SD_MAX 299
int udGetNextShare(uint16_t* name, uint16_t* path, int* isPrinter, uint16_t* comment);
int udDefGetNextShare(uint16_t* name, uint16_t* path, int* isPrinter, uint16_t* comment);
int udSaveShareInformation(const uint16_t* oldName, const uint16_t* name, const uint16_t* path,
                           const uint16_t* comment);
int udDefSaveShareInformation(const uint16_t* oldName, const uint16_t* name,
                              const uint16_t* path, const uint16_t* comment);
int udRemoveShare(const uint16_t* name);
int udDefRemoveShare(const uint16_t* name);
int udGetNextMount(uint16_t* first, uint16_t* second);
int udDefGetNextMount(uint16_t* first, uint16_t* second);
int udSaveShareSecurityDescriptor(const uint16_t* name, const uint8_t* sd, uint32_t length);
int udDefSaveShareSecurityDescriptor(const uint16_t* name, const uint8_t* sd, uint32_t length);
uint32_t udLoadShareSecurityDescriptor(const uint16_t* name, uint8_t* buf, uint32_t size);
uint32_t udDefLoadShareSecurityDescriptor(const uint16_t* name, uint8_t* buf, uint32_t size);

/* Printer slots, set up by the server's start; the spooler replaces this. */
int syInitPrinters(void);

#ifdef __cplusplus
}
#endif

#endif
