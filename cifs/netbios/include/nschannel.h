/* The loopback name and datagram channels between a process of the stack
 * and the NetBIOS daemon: request framing, the two socket pools (two sockets
 * each), and the client calls. */
#ifndef NSCHANNEL_H
#define NSCHANNEL_H

#include "cmnetbios.h"
#include "cmtypes.h"
#include "nssocket.h"

#define NS_ND_PORT 1026 /* names, before udGetPort */
#define NS_DD_PORT 1027 /* datagrams, before udGetPort */
#define NS_CHANNEL_SOCKETS 2
#define NS_CHANNEL_WAIT 102 /* seconds */

/* Flags of the name channel's requests */
#define NS_FLAGS_REGISTER 0x2900
#define NS_FLAGS_RELEASE 0x3000
#define NS_FLAGS_QUERY 0x0100
#define NS_FLAGS_SET_WINS 0x6000

/* The daemon's datagram distributor, as a NetBIOS name. */
#define NS_DD_NAME "TARQUENIX NBT DD"
/* Peer name of a listening datagram slot. */
#define NS_LISTEN_PEER "*123456789012345"
#define NS_DD_STATUS_ACCEPTED 7
#define NS_DD_STATUS_UNKNOWN_NAME 0xA4

typedef struct NSInternalSocket {
    int sySocket;
    uint16_t port; /* network order */
} NSInternalSocket;

VX_API int nsInitInternalSockets(void);
VX_API void nsExitInternalSockets(void);
VX_API NSInternalSocket *getInternalSocketND(void);
VX_API void putInternalSocketND(NSInternalSocket *record);
VX_API NSInternalSocket *getInternalSocketDD(void);
VX_API void putInternalSocketDD(NSInternalSocket *record);

/* Request framing into buffer (NS_DATAGRAM_BUFFER_SIZE bytes); length or -1. */
VX_API int nsFrameInternalNameRequest(uint8_t *buffer, const CMNetBiosNameInfo *name);
VX_API int frameInternalNameRegistrationRequest(uint8_t *buffer, const CMNetBiosNameInfo *name);
VX_API int frameInternalNameReleaseRequest(uint8_t *buffer, const CMNetBiosNameInfo *name);
VX_API int frameInternalNameQueryRequest(uint8_t *buffer, const CMNetBiosNameInfo *name);
/* The WINS list's UTF-16 text from byte 12; -1 when it does not fit. */
VX_API int frameInternalSetWinsRequest(uint8_t *buffer, uint32_t size, const CMWchar *list);
VX_API int frameInternalListenRequest(uint8_t *buffer, const NSSocket *slot);
VX_API int frameInternalCancelListen(uint8_t *buffer, const NSSocket *slot);

VX_API int nsSendRequestToND(int socket, const void *data, uint32_t length);
/* Checks the daemon's answer in [message, message + length); out gets the 6
 * rdata bytes of a query answer. */
VX_API int nsParseResponseFromND(const uint8_t *message, uint32_t length, uint8_t *out6);
VX_API int nsReceiveResponseFromND(int socket, uint8_t *out6);
VX_API int nsProceedRequestToND(const void *data, uint32_t length, uint8_t *out6);
VX_API int nsProceedRequestToDD(const void *data, uint32_t length, const CMNetBiosNameInfo *expected);

VX_API int nsRegisterName(const CMNetBiosNameInfo *name);
VX_API int nsReleaseName(const CMNetBiosNameInfo *name);
VX_API int nsGetHostByName(uint32_t *ip, CMNetBiosNameInfo *name);
VX_API void nsRefreshNetBios(const CMWchar *list);

/* Resolver methods by broadcast (through the daemon) and by WINS. */
VX_API int nsRequestByNameBcast(int socket, const CMWchar *name, void **context, const uint32_t *server);
VX_API int nsRequestByNameBcastDC(int socket, const CMWchar *name, void **context, const uint32_t *server);
VX_API int nsRequestByNameWins(int socket, const CMWchar *name, void **context, const uint32_t *server);
VX_API int nsRequestByNameWinsDC(int socket, const CMWchar *name, void **context, const uint32_t *server);
VX_API int nsResponseByName(int socket, uint32_t **addresses, int *count, void **context);

/* Testing: the channel wait in seconds (0 restores NS_CHANNEL_WAIT). */
VX_API void nsChannelSetWait(uint32_t seconds);

#endif
