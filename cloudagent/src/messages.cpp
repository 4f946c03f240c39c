// Every message the agent sends itself: a fresh 8-byte token, the URI, the
// payload, handed to the endpoint and released.
#include <cerrno>

#include "agent.h"
#include "cloud.h"
#include "coap_uri.h"
#include "mirel.h"

extern "C" int agent_send(const char *uri, int type, int code, const void *payload, size_t length,
                          CoAPMessage_Handler handler)
{
    struct CoAPMessage *msg = CoAPMessage(type, code, -1);
    if (!msg)
        return -1;
    uint8_t token[8];
    int rc = -1;
    if (CoAPMessage_GenToken(token, sizeof token) == 0 &&
        CoAPMessage_SetToken(msg, token, sizeof token) == 0 && CoAPMessage_SetUri(msg, uri, 0) == 0 &&
        (!length || CoAPMessage_SetPayload(msg, payload, length) == 0) &&
        (!handler || CoAPMessage_SetHandler(msg, handler) == 0))
        rc = Mirel_Send(g_agent.endpoint, msg);
    int err = errno;
    CoAPMessage_Decref(msg);
    errno = err;
    return rc == 0 ? 0 : -1;
}
