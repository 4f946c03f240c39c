// Queries of the served resources: each input is split at zero bytes into
// Uri-Query options of one request, run through every handler that reads a
// query (no core listens: "/zmo/ci" ends at its SCGI request).
#include <cstdint>
#include <cstring>

#include "agent.h"
#include "resources.h"
#include "scgi.h"
#include "tokens.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool once = [] {
        zmo_time_t later;
        zmo_time_get_monotonic_plus_msec(&later, 3600000);
        token_add_text("11111111-2222-4333-8444-555555555555", &later);
        scgi_set_socket_path("/nonexistent/scgi.sock");
        return true;
    }();
    (void)once;
    Mirel_ResHandler handlers[] = {logout_handler, ci_handler, dis_handler, uhp_handler};
    for (Mirel_ResHandler h : handlers) {
        struct CoAPMessage *req = CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 1);
        struct CoAPMessage *resp = CoAPMessage(COAP_TYPE_ACK, 0, 1);
        size_t at = 0;
        while (at <= size) {
            const void *z = std::memchr(data + at, 0, size - at);
            size_t end = z ? static_cast<size_t>(static_cast<const uint8_t *>(z) - data) : size;
            CoAPMessage_AddOptionOpaque(req, COAP_OPTION_URI_QUERY, data + at, end - at);
            at = end + 1;
        }
        h(nullptr, req, resp);
        CoAPMessage_Decref(req);
        CoAPMessage_Decref(resp);
    }
    return 0;
}
