/* Host hooks: the stack asks its host for configuration, identity, users,
 * shares and events through these functions. Each ud hook calls its udDef
 * default, which keeps its state in files under /var/run/cifs/.
 * Texts marked UTF-16 are zero-terminated host-order UTF-16. */
#ifndef UDHOOKS_H
#define UDHOOKS_H

#include "cmtypes.h"

#define UD_CONFIG_DIR "/var/run/cifs/"
#define UD_SERVER_PID_FILE "/var/run/vxcs.pid"
#define UD_NETBIOS_PID_FILE "/var/run/vxnd.pid"
#define UD_BUFFER_AREA_SIZE 262800u
#define UD_COMPUTER_ID_SIZE 12

/* Start and end */
VX_API int udInit(void);
VX_API int udDefInit(void);
VX_API void udStop(void);
VX_API void udDefStop(void);

/* Domain, WINS and scope (cm_cfg.txt) */
VX_API uint32_t udGetWins(void);
VX_API uint32_t udDefGetWins(void);
VX_API void udGetScopeID(CMWchar *dest);
VX_API void udDefGetScopeID(CMWchar *dest);
VX_API void udGetDomain(CMWchar *dest, uint32_t size, int *isWorkgroup);
VX_API void udDefGetDomain(CMWchar *dest, uint32_t size, int *isWorkgroup);
VX_API void udGetDnsParams(CMWchar *domain, CMWchar *server);
VX_API void udDefGetDnsParams(CMWchar *domain, CMWchar *server);
VX_API void syGetDnsParams(char *domain, uint32_t *server);

/* Identity and names */
VX_API void udSetComputerId(const char *id);
VX_API void udGetComputerId(char *id);
VX_API void udDefGetComputerId(char *id);
VX_API void udGetServerComment(CMWchar *dest);
VX_API void udGetFileSystemName(const CMWchar *shareName, const CMWchar *path, CMWchar *dest);
VX_API void udGetDriverName(char *dest);
VX_API int udGetCredentials(const void *ignored, CMWchar *user, CMWchar *password, CMWchar *domain);
VX_API void udSetCredentials(const char *user, const char *password, const char *domain);
VX_API int udGetTaskPriorities(void);

/* Ports and transports */
VX_API uint16_t udGetPort(uint16_t port);
VX_API int udGetTransportPriority(uint32_t transport);
VX_API void cmGetTransportPriorities(uint32_t *out);
VX_API uint32_t cmGetNumOfAvailableTransports(void);

/* Message buffers of the NetBIOS socket layer */
VX_API void *udAllocateBuffer(uint32_t index, uint32_t count, uint32_t size);
VX_API void udReleaseBuffer(uint32_t index, uint32_t count, void *buffer, uint32_t size);

/* Security descriptors of files: not kept by the host (-1) */
VX_API int udGetSecurityDescriptor(int fd, uint32_t information, uint8_t *buffer);
VX_API int udSetSecurityDescriptor(int fd, uint32_t information, const uint8_t *buffer, uint32_t length);

/* Events */
VX_API void udCifsServerStarted(void);
VX_API void udCifsServerClosed(void);
VX_API void udNetBiosDaemonStarted(void);
VX_API void udNetBiosDaemonClosed(void);
VX_API void udBrowserDaemonStarted(void);
VX_API void udBrowserDaemonClosed(void);
VX_API void udServerDataIn(void);
VX_API void udNetBiosDataIn(void);
VX_API void udServerShareConnect(const CMWchar *share);
VX_API void udServerShareDisconnect(const CMWchar *share);
/* Called by the NetBIOS daemon on a name-service error, with the 16 name
 * bytes of the name concerned (8-bit, suffix last). */
VX_API void udNetBiosError(uint32_t code, const char *name);

/* Users (pwd_list.txt) */
#define UD_USER_NAME_MAX 49
#define UD_PASSWORD_OUT_SIZE 65
VX_API int udCreateUser(const CMWchar *name, const CMWchar *fullName, const CMWchar *description);
VX_API int udDefCreateUser(const CMWchar *name, const CMWchar *fullName, const CMWchar *description);
VX_API int udSetUserInfo(int32_t rid, const CMWchar *name, const CMWchar *fullName,
                         const CMWchar *description, const CMWchar *hash);
VX_API int udDefSetUserInfo(int32_t rid, const CMWchar *name, const CMWchar *fullName,
                            const CMWchar *description, const CMWchar *hash);
VX_API int udDeleteUserByRid(int32_t rid);
VX_API int udDefDeleteUserByRid(int32_t rid);
VX_API int udSetUserAsAdministrator(int32_t rid, int isAdmin);
VX_API int udDefSetUserAsAdministrator(int32_t rid, int isAdmin);
VX_API int udSetUserAsPrinterOwner(int32_t rid, int flag);
VX_API int udDefSetUserAsPrinterOwner(int32_t rid, int flag);
VX_API uint32_t udGetUserCount(void);
VX_API uint32_t udDefGetUserCount(void);
VX_API int udGetUserInfo(uint32_t index, int32_t *rid, int *isPrinterOwner, CMWchar *name, CMWchar *fullName,
                         CMWchar *description);
VX_API int udDefGetUserInfo(uint32_t index, int32_t *rid, int *isPrinterOwner, CMWchar *name,
                            CMWchar *fullName, CMWchar *description);
VX_API int udGetUserNameByRid(int32_t rid, CMWchar *name, CMWchar *fullName);
VX_API int udDefGetUserNameByRid(int32_t rid, CMWchar *name, CMWchar *fullName);
VX_API int udGetUserRidByName(const CMWchar *name, int32_t *rid);
VX_API int udDefGetUserRidByName(const CMWchar *name, int32_t *rid);
VX_API int udGetPrinterOwnerFlag(const CMWchar *name, int *flag);
VX_API int udDefGetPrinterOwnerFlag(const CMWchar *name, int *flag);
/* out: UD_PASSWORD_OUT_SIZE bytes. 1 anonymous or no users file, 2 unknown
 * user or bad hash, 3 one 16-byte hash, 4 plain text or LM+NT hashes. */
VX_API int udGetPassword(const CMWchar *name, uint8_t *out, int *isHashed, int32_t *rid);
VX_API int udDefGetPassword(const CMWchar *name, uint8_t *out, int *isHashed, int32_t *rid);

/* Shares (cs_cfg.txt), mounts (cc_cfg.txt), share descriptors (share_sd.txt).
 * Buffers: name 64, path 500, comment 250, mount texts 256 units. */
#define UD_SHARE_NAME_SIZE 64
#define UD_SHARE_PATH_SIZE 500
#define UD_SHARE_COMMENT_SIZE 250
#define UD_MOUNT_TEXT_SIZE 256
#define UD_SHARE_SD_MAX 299
VX_API int udGetNextShare(CMWchar *name, CMWchar *path, int *isPrinter, CMWchar *comment);
VX_API int udDefGetNextShare(CMWchar *name, CMWchar *path, int *isPrinter, CMWchar *comment);
VX_API int udSaveShareInformation(const CMWchar *oldName, const CMWchar *name, const CMWchar *path,
                                  const CMWchar *comment);
VX_API int udDefSaveShareInformation(const CMWchar *oldName, const CMWchar *name, const CMWchar *path,
                                     const CMWchar *comment);
VX_API int udRemoveShare(const CMWchar *name);
VX_API int udDefRemoveShare(const CMWchar *name);
VX_API int udGetNextMount(CMWchar *first, CMWchar *second);
VX_API int udDefGetNextMount(CMWchar *first, CMWchar *second);
VX_API int udSaveShareSecurityDescriptor(const CMWchar *name, const uint8_t *sd, uint32_t length);
VX_API int udDefSaveShareSecurityDescriptor(const CMWchar *name, const uint8_t *sd, uint32_t length);
VX_API uint32_t udLoadShareSecurityDescriptor(const CMWchar *name, uint8_t *buf, uint32_t size);
VX_API uint32_t udDefLoadShareSecurityDescriptor(const CMWchar *name, uint8_t *buf, uint32_t size);

/* Printer slots, set up by the server's start; the spooler replaces this. */
VX_API int syInitPrinters(void);

#endif
