// The endpoint: construction in order with a full undo, the key pair,
// sending, and the orderly stop.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "endpoint.h"
#include "mirel_crypto.h"
#include "message_internal.h"
#include "zmo.h"

namespace {

const char kPrefix[] = "Mirel";
constexpr size_t kThreadStack = 256 * 1024;
constexpr long kReceiveTimeoutUs = 333000;
constexpr int kFlushMs = 500;

const char *err_text(char *buf, size_t size) { return mirel::errno_text(errno, buf, size); }

void log_errno(const char *format)
{
    char text[100];
    zmo_log(ZMO_LOG_ERROR, format, kPrefix, err_text(text, sizeof text));
}

// Undoes whatever construction got to, in reverse order.
void teardown(struct Mirel *ep, bool stack_up)
{
    if (ep->rt.sock >= 0)
        close(ep->rt.sock);
    mirel::free_resources(ep);
    if (stack_up)
        LayerStack_Deinit(ep);
    SlidingWindowPool_Free(ep->windows);
    CoAPMessagePool_Free(ep->pool);
    delete ep;
}

bool set_option(int sock, int level, int name, const void *value, socklen_t size, const char *format)
{
    if (setsockopt(sock, level, name, value, size) == 0)
        return true;
    log_errno(format);
    return false;
}

bool open_socket(struct Mirel *ep, uint16_t port, uint32_t interface_address)
{
    ep->rt.sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (ep->rt.sock < 0) {
        zmo_log(ZMO_LOG_ERROR, "%s: socket", kPrefix);
        return false;
    }
    int sock = ep->rt.sock;
    int one = 1, zero = 0;
    struct timeval tv {
        0, kReceiveTimeoutUs
    };
    struct ip_mreqn group {};
    inet_pton(AF_INET, MIREL_MULTICAST_GROUP, &group.imr_multiaddr);
    group.imr_address.s_addr = interface_address;
    group.imr_ifindex = 0;
    struct in_addr iface {
        interface_address
    };
    if (!set_option(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one, "%s (setsockopt SO_REUSEADDR): %s") ||
        !set_option(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv, "%s (setsockopt SO_RCVTIMEO): %s") ||
        !set_option(sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group,
                    "%s (setsockopt IP_ADD_MEMBERSHIP): %s") ||
        !set_option(sock, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface,
                    "%s (setsockopt IP_MULTICAST_IF): %s") ||
        !set_option(sock, IPPROTO_IP, IP_MULTICAST_LOOP, &zero, sizeof zero,
                    "%s (setsockopt IP_MULTICAST_LOOP): %s"))
        return false;
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(sock, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0) {
        zmo_log(ZMO_LOG_ERROR, "%s: bind", kPrefix);
        return false;
    }
    return true;
}

// Stops and joins what start_threads started. Answers already queued (the
// last acknowledgement of a transfer, say) get a moment to leave first, or
// the peer would resend for nothing.
void stop_threads(struct Mirel *ep)
{
    if (ep->rt.sender_started)
        // In steps of 100 us: the last answer usually leaves within a few.
        for (int i = 0; i < kFlushMs * 10 && CoAPMessagePool_Unsent(ep->pool) > 0; i++)
            usleep(100);
    ep->rt.stop.store(true);
    CoAPMessagePool_Wake(ep->pool);
    // Ends a receive in progress at once instead of at its time-out.
    if (ep->rt.sock >= 0)
        shutdown(ep->rt.sock, SHUT_RD);
    if (ep->rt.receiver_started)
        pthread_join(ep->rt.receiver, nullptr);
    if (ep->rt.sender_started)
        pthread_join(ep->rt.sender, nullptr);
    ep->rt.receiver_started = ep->rt.sender_started = false;
}

bool start_threads(struct Mirel *ep)
{
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        zmo_log(ZMO_LOG_ERROR, "%s: pthread_create", kPrefix);
        return false;
    }
    pthread_attr_setstacksize(&attr, kThreadStack);
    int rc = pthread_create(&ep->rt.receiver, &attr, mirel::receiver_main, ep);
    if (rc == 0) {
        ep->rt.receiver_started = true;
        rc = pthread_create(&ep->rt.sender, &attr, mirel::sender_main, ep);
        if (rc == 0)
            ep->rt.sender_started = true;
    }
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        zmo_log(ZMO_LOG_ERROR, "%s: pthread_create", kPrefix);
        // The receiver notices the stop flag within one receive time-out;
        // no cancellation through C++ frames.
        stop_threads(ep);
        return false;
    }
    return true;
}

// OpenSSL sets itself up on the first use of each algorithm (its
// configuration, providers, method lookups: a millisecond and more). An
// endpoint given a key pair will seal: that happens then, once per process,
// and not inside its first handshake, whose peer would wait for it.
void warm_crypto()
{
    static std::once_flag once;
    std::call_once(once, [] {
        uint8_t zero[MIREL_KEY_SIZE]{};
        uint8_t okm[HKDF_OUT_SIZE];
        Hkdf(zero, sizeof zero, okm);
        Aead_Free(Aead(zero, AEAD_KEY_SIZE, zero, AEAD_KEY_SIZE, zero, AEAD_IV_SIZE, zero, AEAD_IV_SIZE));
    });
}

}  // namespace

extern "C" {

struct Mirel *Mirel(uint16_t port, uint32_t interface_address)
{
    CoAPMessage_Init();
    auto *ep = new (std::nothrow) struct Mirel;
    if (!ep) {
        zmo_log(ZMO_LOG_ERROR, "%s: out of memory", kPrefix);
        return nullptr;
    }
    ep->pool = CoAPMessagePool();
    if (ep->pool)
        ep->windows = SlidingWindowPool();
    if (!ep->pool || !ep->windows) {
        zmo_log(ZMO_LOG_ERROR, "%s: out of memory", kPrefix);
        teardown(ep, false);
        return nullptr;
    }
    struct Err err;
    Err_Init(&err, kPrefix);
    if (LayerStack_Init(ep, &err) < 0) {
        zmo_log(ZMO_LOG_ERROR, "[%s] %s", err.name, err.text);
        // A failing initialiser leaves nothing of its own behind, but the
        // ones before it did.
        teardown(ep, true);
        return nullptr;
    }
    if (Mirel_AddRes(ep, "/.well-known/core", MIREL_GET, mirel::core_handler) != 0) {
        log_errno("%s (mirel_res_add): %s");
        teardown(ep, true);
        return nullptr;
    }
    if (!open_socket(ep, port, interface_address) || !start_threads(ep)) {
        teardown(ep, true);
        return nullptr;
    }
    return ep;
}

void Mirel_Free(struct Mirel *ep)
{
    if (!ep)
        return;
    stop_threads(ep);
    teardown(ep, true);
}

int Mirel_Send(struct Mirel *ep, struct CoAPMessage *msg)
{
    if (!ep || !msg) {
        errno = EINVAL;
        return -1;
    }
    return CoAPMessagePool_Add(ep->pool, msg, 0);
}

int Mirel_SetPrivateKey(struct Mirel *ep, const uint8_t *key, size_t length)
{
    if (!ep || !key || length != MIREL_KEY_SIZE) {
        errno = EINVAL;
        return -1;
    }
    static const uint8_t kBasePoint[MIREL_X25519_SIZE] = {9};
    uint8_t pub[MIREL_KEY_SIZE];
    if (curve25519_donna(pub, key, kBasePoint) != 0)
        return -1;
    warm_crypto();
    std::lock_guard<std::mutex> lock(ep->lock);
    std::memcpy(ep->private_key, key, MIREL_KEY_SIZE);
    std::memcpy(ep->public_key, pub, MIREL_KEY_SIZE);
    return 0;
}

}  // extern "C"
