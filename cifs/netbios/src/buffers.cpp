// Buffers the socket layer lends: four message buffers from the host's area
// in a ring behind a counting semaphore, one send and one receive datagram
// buffer each behind its own mutex, and the datagram compose buffer.
#include "nssocket.h"

#include "ns_internal.h"
#include "sythread.h"
#include "udhooks.h"

#include <array>
#include <cerrno>
#include <memory>
#include <mutex>

namespace {

struct MessagePool {
    std::array<uint8_t *, NS_MESSAGE_BUFFERS> ring{};
    std::array<uint8_t *, NS_MESSAGE_BUFFERS> owned{};
    uint32_t take = 0;
    uint32_t give = 0;
    SYMutex mutex;
    SYSemaphore free;
    bool started = false;
};

struct DatagramBuffer {
    std::array<uint8_t, NS_DATAGRAM_BUFFER_SIZE> bytes{};
    SYMutex mutex;
};

MessagePool gMessages;
std::unique_ptr<DatagramBuffer> gSend, gRecv;
std::unique_ptr<std::array<uint8_t, NS_DATAGRAM_BUFFER_SIZE>> gCompose;
// Two threads sending datagrams at once would build into the same bytes.
std::mutex gComposeMutex;

void releaseDatagramBuffers()
{
    if (gSend)
        syMutexDelete(&gSend->mutex);
    if (gRecv)
        syMutexDelete(&gRecv->mutex);
    gSend.reset();
    gRecv.reset();
}

}  // namespace

namespace ns {

int initMessageBufferPool()
{
    MessagePool &p = gMessages;
    if (p.started)
        return 0;
    for (uint32_t i = 0; i < NS_MESSAGE_BUFFERS; ++i) {
        p.owned[i] = static_cast<uint8_t *>(udAllocateBuffer(i, NS_MESSAGE_BUFFERS, NS_MESSAGE_BUFFER_SIZE));
        if (p.owned[i] == nullptr) {
            for (uint32_t j = 0; j < i; ++j)
                udReleaseBuffer(j, NS_MESSAGE_BUFFERS, p.owned[j], NS_MESSAGE_BUFFER_SIZE);
            return fail(CM_ERR_NOMEM);
        }
        p.ring[i] = p.owned[i];
    }
    if (syMutexCreate(&p.mutex) != 0 || sem_init(&p.free, 0, NS_MESSAGE_BUFFERS) != 0) {
        for (uint32_t j = 0; j < NS_MESSAGE_BUFFERS; ++j)
            udReleaseBuffer(j, NS_MESSAGE_BUFFERS, p.owned[j], NS_MESSAGE_BUFFER_SIZE);
        return fail(CM_ERR_NOMEM);
    }
    p.take = 0;
    p.give = NS_MESSAGE_BUFFERS - 1;
    gSend.reset(new (std::nothrow) DatagramBuffer);
    gRecv.reset(new (std::nothrow) DatagramBuffer);
    if (!gSend || !gRecv || syMutexCreate(&gSend->mutex) != 0 || syMutexCreate(&gRecv->mutex) != 0) {
        gSend.reset();
        gRecv.reset();
        sem_destroy(&p.free);
        syMutexDelete(&p.mutex);
        for (uint32_t j = 0; j < NS_MESSAGE_BUFFERS; ++j)
            udReleaseBuffer(j, NS_MESSAGE_BUFFERS, p.owned[j], NS_MESSAGE_BUFFER_SIZE);
        return fail(CM_ERR_NOMEM);
    }
    p.started = true;
    return 0;
}

void releaseMessageBufferPool()
{
    MessagePool &p = gMessages;
    if (!p.started)
        return;
    for (uint32_t j = 0; j < NS_MESSAGE_BUFFERS; ++j)
        udReleaseBuffer(j, NS_MESSAGE_BUFFERS, p.owned[j], NS_MESSAGE_BUFFER_SIZE);
    sem_destroy(&p.free);
    syMutexDelete(&p.mutex);
    releaseDatagramBuffers();
    p.started = false;
}

int initMessage()
{
    if (!gCompose)
        gCompose.reset(new (std::nothrow) std::array<uint8_t, NS_DATAGRAM_BUFFER_SIZE>());
    return gCompose ? 0 : fail(CM_ERR_NOMEM);
}

void exitMessage() { gCompose.reset(); }

uint8_t *takeComposeBuffer()
{
    gComposeMutex.lock();
    if (gCompose)
        return gCompose->data();
    gComposeMutex.unlock();
    return nullptr;
}

void giveComposeBuffer() { gComposeMutex.unlock(); }

}  // namespace ns

uint8_t *nsGetBuffer(void)
{
    MessagePool &p = gMessages;
    if (!p.started)
        return nullptr;
    while (sem_wait(&p.free) != 0 && errno == EINTR) {
    }
    syMutexTake(&p.mutex);
    uint8_t *b = p.ring[p.take];
    p.take = (p.take + 1) % NS_MESSAGE_BUFFERS;
    syMutexGive(&p.mutex);
    return b;
}

void nsPutBuffer(uint8_t *buffer)
{
    MessagePool &p = gMessages;
    if (!p.started || buffer == nullptr)
        return;
    syMutexTake(&p.mutex);
    p.give = (p.give + 1) % NS_MESSAGE_BUFFERS;
    p.ring[p.give] = buffer;
    syMutexGive(&p.mutex);
    sem_post(&p.free);
}

void nsResetBufferPool(void)
{
    MessagePool &p = gMessages;
    if (!p.started)
        return;
    syMutexTake(&p.mutex);
    // Every buffer is home again, in its first order.
    p.ring = p.owned;
    p.take = 0;
    p.give = NS_MESSAGE_BUFFERS - 1;
    sem_destroy(&p.free);
    sem_init(&p.free, 0, NS_MESSAGE_BUFFERS);
    syMutexGive(&p.mutex);
}

uint8_t *nsGetSendDatagramBuffer(void)
{
    if (!gSend)
        return nullptr;
    syMutexTake(&gSend->mutex);
    return gSend->bytes.data();
}

void nsPutSendDatagramBuffer(void)
{
    if (gSend)
        syMutexGive(&gSend->mutex);
}

uint8_t *nsGetRecvDatagramBuffer(void)
{
    if (!gRecv)
        return nullptr;
    syMutexTake(&gRecv->mutex);
    return gRecv->bytes.data();
}

void nsPutRecvDatagramBuffer(void)
{
    if (gRecv)
        syMutexGive(&gRecv->mutex);
}
