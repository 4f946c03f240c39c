/* The NetBIOS socket layer: socket slots that speak NetBIOS (names held by
 * the daemon, session and datagram framing) or plain IP, the loopback name
 * and datagram channels to the daemon, the message and datagram buffers,
 * and address-to-name lookups. Results are 0/-1 (or a pointer/null) with the
 * reason in errno. Addresses are IPv4 in network order. */
#ifndef NSSOCKET_H
#define NSSOCKET_H

#include "cmnetbios.h"
#include "cmtypes.h"
#include "sythread.h"

#include <sys/select.h>

/* errno values of the layer */
#define NS_ERR_NO_SOCKET CM_ERRNO(0x0FA0)
#define NS_ERR_BAD_NAME CM_ERRNO(0x0FA1)
#define NS_ERR_NO_ANSWER CM_ERRNO(0x0FA2)
#define NS_ERR_REFUSED CM_ERRNO(0x0FA3)
#define NS_ERR_NO_ADDRESS CM_ERRNO(0x0FA4)
#define NS_ERR_LISTEN_REQUEST CM_ERRNO(0x0FA5)
#define NS_ERR_NO_SLOT CM_ERRNO(0x0FA6)
#define NS_ERR_NOT_BOUND CM_ERRNO(0x0FA7)
#define NS_ERR_BAD_SOURCE CM_ERRNO(0x0FA8)
#define NS_ERR_BAD_DESTINATION CM_ERRNO(0x0FA9)
#define NS_ERR_INVALID CM_ERRNO(0x0FAA)
#define NS_ERR_DATAGRAM CM_ERRNO(0x0FAB)
#define NS_ERR_DATAGRAM_TYPE CM_ERRNO(0x0FAC)
#define NS_ERR_SEND CM_ERRNO(0x0FAD)
#define NS_ERR_RELEASE CM_ERRNO(0x0FAF)
#define NS_ERR_LISTEN CM_ERRNO(0x0FB0)
#define NS_ERR_NOT_CREATED CM_ERRNO(0x1388)
#define NS_ERR_BIND CM_ERRNO(0x1389)
#define NS_ERR_NO_PORT CM_ERRNO(0x138A)

#define NS_SOCKET_STREAM 1
#define NS_SOCKET_DATAGRAM 2
#define NS_TRANSPORT_NETBIOS 1 /* session service, port 139 */
#define NS_TRANSPORT_IP 2      /* direct TCP, port 445 */

#define NS_SOCKET_POOL 35
#define NS_MESSAGE_BUFFERS 4
#define NS_MESSAGE_BUFFER_SIZE 65700
#define NS_DATAGRAM_BUFFER_SIZE 1500
#define NS_SESSION_HEADER 4
/* Largest payload of one session message in a message buffer. */
#define NS_SESSION_PAYLOAD_MAX (NS_MESSAGE_BUFFER_SIZE - NS_SESSION_HEADER)
#define NS_MAX_WINS_SERVERS 128

typedef struct NSSocket {
    int sySocket; /* -1: none */
    uint32_t transport;
    uint32_t isNetBios;
    uint32_t type;
    CMNetBiosNameInfo name;     /* own name */
    CMNetBiosNameInfo peerName; /* 16 spaces until known */
    uint32_t peerPort;
    uint32_t peerIp;
    uint32_t ip;   /* own address after bind or connect */
    uint16_t port; /* own port, network order */
    uint32_t spare;
    uint32_t isBound;
    uint32_t isGuarded; /* accepted: receive and send hold the mutex */
    SYMutex mutex;
} NSSocket;

/* The bits of one select: 1024 descriptors. */
typedef fd_set NSSocketSet;

/* One message being read from a stream slot. */
typedef struct NSRecvContext {
    NSSocket *socket;
    uint32_t remaining;
} NSRecvContext;

/* Start and stop, counted per process */
VX_API void nsInitGuard(void);
VX_API void nsExitGuard(void);
VX_API int nsInit(int openHostNameSocket, uint32_t mode);
VX_API int nsExit(int closeHostNameSocket, uint32_t mode);

/* Slots */
VX_API NSSocket *nsSocket(uint32_t type, uint32_t transport);
VX_API int nsBindNetBios(NSSocket *slot, const CMNetBiosNameInfo *name, int loopbackOnly);
VX_API int nsBindInet(NSSocket *slot, const uint32_t *address, uint16_t port);
VX_API int nsListen(NSSocket *slot, int backlog);
VX_API int nsClose(NSSocket *slot);
VX_API int nsGetSySocket(const NSSocket *slot);
VX_API int nsIsSocketAlive(const NSSocket *slot);
VX_API NSSocket *nsGetCommonDatagramSocket(void);

VX_API void nsClearSocketSet(NSSocketSet *set);
VX_API void nsClearSocketFromSet(NSSocketSet *set, const NSSocket *slot);
VX_API int nsAddSocketToSet(int *highest, NSSocketSet *set, const NSSocket *slot);
VX_API int nsSocketInSet(const NSSocketSet *set, const NSSocket *slot);
VX_API int nsSelect(int highest, NSSocketSet *set, uint32_t seconds);

/* Names held by the daemon for other programs */
VX_API int vxRegisterNetBiosName(const char *text);
VX_API int vxRegisterNetBiosNameEx(const char *text, uint32_t flags);
VX_API int vxReleaseNetBiosName(const char *text);
VX_API int vxReleaseNetBiosNameEx(const char *text, uint32_t flags);

/* WINS servers */
VX_API uint32_t cmNetBiosGetNumWinsServers(void);
VX_API uint32_t cmNetBiosGetWins(uint32_t index);
VX_API void ndSetWinsW(const CMWchar *list);
VX_API void cmNetBiosSetWinsW(const CMWchar *list);
VX_API void cmNetBiosSetWinsA(const char *list);

/* Sessions */
VX_API NSSocket *nsAccept(NSSocket *listening, uint32_t *peerIp);
VX_API int nsPostAccept(NSSocket **slot);
/* The received session request [message, message + length): 1 with both
 * names, 0 when only the called name parses, -1 when it is no request. */
VX_API int nsParseSessionRequest(const uint8_t *message, uint32_t length, char *called17, char *calling17);
VX_API int nsConnect(NSSocket *slot, uint32_t *peerIp, const CMNetBiosNameInfo *called);
VX_API uint32_t frameSessionMessage(uint8_t *buffer, const void *payload, uint32_t length);
VX_API int frameInternalSessionRequest(uint8_t *buffer, const CMNetBiosNameInfo *called,
                                       const NSSocket *slot);
VX_API uint32_t framePositiveSessionResponse(uint8_t *buffer);
VX_API uint32_t frameNegativeSessionResponse(uint8_t *buffer);
VX_API uint32_t nsPrepareNBBuffer(uint8_t *buffer, uint32_t length, uint32_t size);
VX_API uint8_t *nsSkipHeader(const NSSocket *slot, uint8_t *buffer);
VX_API int nsStartRecvIntoBuffer(NSSocket *slot, NSRecvContext *context);
VX_API int nsRecvIntoBuffer(NSRecvContext *context, uint8_t *buffer, uint32_t size);
VX_API int nsEndRecvIntoBuffer(NSRecvContext *context);
VX_API int nsStartRecvIntoRpcBuffer(NSSocket *slot, NSRecvContext *context, uint8_t *buffer);
VX_API int nsSendFromBuffer(NSSocket *slot, uint8_t *buffer, uint32_t packetLength, uint32_t length,
                            void (*release)(uint8_t *buffer));
VX_API int nsRecv(NSSocket *slot, uint8_t *buffer, uint32_t size);

/* Buffers */
VX_API uint8_t *nsGetBuffer(void);
VX_API void nsPutBuffer(uint8_t *buffer);
VX_API void nsResetBufferPool(void);
VX_API uint8_t *nsGetSendDatagramBuffer(void);
VX_API void nsPutSendDatagramBuffer(void);
VX_API uint8_t *nsGetRecvDatagramBuffer(void);
VX_API void nsPutRecvDatagramBuffer(void);

/* Datagrams */
VX_API int frameComposeDatagram(uint8_t *buffer, const NSSocket *slot, uint8_t type,
                                const CMNetBiosNameInfo *source, const CMNetBiosNameInfo *destination,
                                const void *data, uint32_t length);
/* As above, refusing (0xff0fab) a datagram that does not fit size bytes. */
VX_API int frameComposeDatagramBounded(uint8_t *buffer, uint32_t size, const NSSocket *slot, uint8_t type,
                                       const CMNetBiosNameInfo *source, const CMNetBiosNameInfo *destination,
                                       const void *data, uint32_t length);
VX_API int frameParseDatagram(const uint8_t *buffer, uint32_t length, CMNetBiosNameInfo *source,
                              uint8_t *data, uint32_t maxData, const CMNetBiosNameInfo *expected);
VX_API int nsSendTo(NSSocket *slot, const void *data, uint32_t length, CMNetBiosNameInfo *name,
                    const uint32_t *ip);
VX_API int nsSendToName(NSSocket *slot, const void *data, uint32_t length, CMNetBiosNameInfo *name);
VX_API int nsRecvFromName(NSSocket *slot, uint8_t *buffer, uint32_t size, CMNetBiosNameInfo *source);

/* Address lookups (resolver methods) */
VX_API int nsRequestByIp(int socket, const uint32_t *ip, void **context, const uint32_t *server);
VX_API int nsResponseByIp(int socket, CMWchar *name, void **context, uint32_t *count);
/* The node status answer in [message, message + length) to its first
 * active name with suffix 0x20 (16 bytes into name17): 0, else -1 with
 * errno 0xff0fa2 (not an answer) or 0xff0fa3. */
VX_API int nsParseNodeStatus(const uint8_t *message, uint32_t length, char *name17);
VX_API int nsGetHostName(const uint32_t *ip, char *name16);

#endif
