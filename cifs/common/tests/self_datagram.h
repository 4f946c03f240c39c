// The fake resolver methods answer by a datagram to their own method
// socket, so the resolver's select sees it as it would a server's.
#ifndef SELF_DATAGRAM_H
#define SELF_DATAGRAM_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

namespace testenv {

// Sends payload to the socket's own address (bound to loopback first).
inline void sendToSelf(int sock, const std::string &payload)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(sock, reinterpret_cast<sockaddr *>(&a), &len);
    if (a.sin_port == 0) {
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(sock, reinterpret_cast<sockaddr *>(&a), sizeof a);
        len = sizeof a;
        getsockname(sock, reinterpret_cast<sockaddr *>(&a), &len);
    }
    sendto(sock, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
}

}  // namespace testenv

#endif
