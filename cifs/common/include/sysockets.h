/* Sockets of the system layer: IPv4 only. Addresses and ports are in network
 * byte order, exactly as in sin_addr and sin_port: callers swap host-order
 * ports themselves. A socket is a plain descriptor, -1 for none. Results are
 * -1 with errno on failure unless said otherwise. */
#ifndef SYSOCKETS_H
#define SYSOCKETS_H

#include "cmtypes.h"

#include <sys/select.h>

#define SY_DT_BUFFER_SIZE 65536u

VX_API int syCreateSocket(int isStream, int ignored);
VX_API int syBindSocket(int sock, const uint32_t *ip, uint16_t port);
VX_API int syListenSocket(int sock, int backlog);
VX_API int syAcceptSocket(int listenSock, uint32_t *ip, uint16_t *port);
VX_API int syConnectSocket(int sock, const uint32_t *ip, uint16_t port);
VX_API int sySetClientSocketOptions(int sock);
VX_API int syAllowBroadcastsSocket(int sock);
/* Never fails: 0.0.0.0 and port 0 when the name cannot be had. */
VX_API void syGetSocketPortAndIP(int sock, uint32_t *ip, uint16_t *port);

VX_API int sySendSocket(int sock, const void *buf, uint32_t len);
VX_API int syRecvSocket(int sock, void *buf, uint32_t len);
/* 0 on time-out. */
VX_API int syRecvSocketWithTimeout(int sock, void *buf, uint32_t len, uint32_t seconds);
VX_API int sySendToSocket(int sock, const void *buf, uint32_t len, const uint32_t *ip, uint16_t port);
VX_API int syRecvFromSocket(int sock, void *buf, uint32_t len, uint32_t *ip, uint16_t *port);
/* The ready count; 0 on time-out or interruption. */
VX_API int sySelectSocket(int maxSock, fd_set *readSet, uint32_t seconds);

VX_API int syCloseSocket(int sock);
VX_API int syShutdownSocket(int sock);
/* 0 only when the socket reports an error or a hang-up. */
VX_API int syIsSocketAlive(int sock);

VX_API void sySubscribeToMulticast(int sock, const uint32_t *group);
VX_API int sySendMulticast(int sock, const void *buf, uint32_t len, const uint32_t *group, uint16_t port);
/* The first IPv4 address of name, 0 when it does not resolve. */
VX_API uint32_t syGetHostByName(const char *name);

/* Direct transfer between a file and a connection. */
VX_API int syDtStartPacket(int sock);
VX_API int syDtEndPacket(int sock);
/* Sends *count bytes from the file's offset; *count gets the bytes sent (or -1). */
VX_API int syDtToSocket(int sock, int fileFd, uint32_t *count);
/* Moves exactly *count bytes from the connection to the file; a peer that
 * closes early fails the transfer with ECONNRESET. One at a time per process. */
VX_API int syDtFromSocket(int sock, int fileFd, uint32_t *count);

#endif
