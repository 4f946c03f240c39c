// The served resources. Handlers run on the endpoint's receiver thread, one
// request at a time; each fills the prepared answer and returns 0 to send it.
#include "resources.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "agent.h"
#include "cloud.h"
#include "coap_uri.h"
#include "scgi.h"
#include "text_format.h"
#include "tokens.h"

namespace {

constexpr int kChanged = COAP_CODE(2, 4);
constexpr int kContent = COAP_CODE(2, 5);
constexpr int kBadRequest = COAP_CODE(4, 0);
constexpr int kUnauthorized = COAP_CODE(4, 1);
constexpr int kInternal = COAP_CODE(5, 0);
constexpr uint32_t kFormatText = 0;
constexpr uint32_t kFormatJson = 50;

struct MemFree {
    void operator()(void *p) const { Mem_free(p); }
};
struct QueryFree {
    void operator()(struct Uri_QueryHead *h) const { Uri_QueryHeadFree(h); }
};

int answer(struct CoAPMessage *response, int code, const char *text = nullptr)
{
    if (CoAPMessage_SetCode(response, code) != 0)
        return -1;
    if (text && CoAPMessage_SetPayload(response, text, std::strlen(text)) != 0)
        return -1;
    return 0;
}

// Reads and splits the request's query. On failure the answer is set (4.00
// when there is no query, 5.00 otherwise, with the given payloads) and false
// comes back.
bool read_query(struct CoAPMessage *request, struct CoAPMessage *response, struct Uri_QueryHead *head,
                const char *read_payload = nullptr, const char *parse_payload = nullptr)
{
    errno = 0;
    std::unique_ptr<char, MemFree> query(CoAPMessage_GetUriQuery(request));
    if (!query) {
        answer(response, errno == ENOENT ? kBadRequest : kInternal, read_payload);
        return false;
    }
    if (Uri_QueryParse(query.get(), head, 1) != 0) {
        answer(response, kInternal, parse_payload);
        return false;
    }
    return true;
}

// The first value of key, or null when it is missing or empty.
const char *value_of(const struct Uri_QueryHead *head, const char *key)
{
    for (const struct Uri_QueryEntry *e = head->first; e; e = e->next)
        if (e->key && std::strcmp(e->key, key) == 0)
            return e->value && *e->value ? e->value : nullptr;
    return nullptr;
}

// Whether any Uri-Query option holds a control byte (a decoded %00 among them).
bool query_has_control_bytes(const struct CoAPMessage *request)
{
    struct CoAPMessage_OptionList list {};
    if (CoAPMessage_GetOptions(request, COAP_OPTION_URI_QUERY, &list) != 0)
        return false;
    bool found = false;
    for (const struct CoAPMessage_Option *o = list.first; o && !found; o = o->next)
        for (uint32_t i = 0; i < o->length && !found; ++i)
            found = o->value[i] < 0x20 || o->value[i] == 0x7f;
    CoAPMessage_GetOptionsFree(&list);
    return found;
}

}  // namespace

extern "C" {

int status_to_code(int status)
{
    int cls = status / 100, detail = status % 100;
    if (cls < 2 || cls > 5)
        return kInternal;
    // The detail has 5 bits: a larger one would spill into the class.
    if (detail >= 32)
        detail = 0;
    return COAP_CODE(cls, detail);
}

int info_handler(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *response)
{
    try {
        std::string text = "{\"cid\":";
        json_quote(text, g_agent.cid);
        text += ",\"http_port\":" + std::to_string(agent_http_port()) + ",\"type\":";
        json_quote(text, agent_type_text(g_agent.type));
        text += ",\"name\":";
        json_quote(text, g_agent.name);
        text += ",\"version\":\"" AGENT_VERSION "\"}";
        if (CoAPMessage_AddOptionUint(response, COAP_OPTION_CONTENT_FORMAT, kFormatText) != 0 ||
            answer(response, kContent, text.c_str()) != 0)
            return -1;
        return 0;
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

int register_handler(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *response)
{
    return answer(response, kContent, "register") == 0 ? 0 : -1;
}

int mirror_handler(struct Mirel *, struct CoAPMessage *request, struct CoAPMessage *response)
{
    uint32_t format;
    if (CoAPMessage_GetOptionUint(request, COAP_OPTION_CONTENT_FORMAT, &format) == 0 &&
        CoAPMessage_AddOptionUint(response, COAP_OPTION_CONTENT_FORMAT, format) != 0)
        return -1;
    uint32_t length = 0;
    const void *body = CoAPMessage_GetPayload(request, &length, 0);
    if (body && length && CoAPMessage_SetPayload(response, body, length) != 0)
        return -1;
    return CoAPMessage_SetCode(response, kContent) == 0 ? 0 : -1;
}

int login_handler(struct Mirel *, struct CoAPMessage *request, struct CoAPMessage *response)
{
    struct Uri_QueryHead head {};
    if (!read_query(request, response, &head))
        return 0;
    std::unique_ptr<struct Uri_QueryHead, QueryFree> hold(&head);
    if (CoAPMessage_AddOptionUint(response, COAP_OPTION_CONTENT_FORMAT, kFormatText) != 0)
        return -1;
    const char *login = value_of(&head, "login");
    const char *pass = value_of(&head, "pass");
    if (!login || !pass) {
        answer(response, kBadRequest, "Login and password should not be empty");
        return 0;
    }
    int granted = 0;
    if (!zmo_core_authenticate(g_agent.core, login, pass, "cli", &granted)) {
        zmo_log(ZMO_LOG_ERROR, "Failed to send auth request");
        answer(response, kInternal);
        return 0;
    }
    if (!granted) {
        zmo_log(ZMO_LOG_WARNING, "Wrong login or password");
        answer(response, kBadRequest, "Wrong login or password");
        return 0;
    }
    char token[AGENT_CID_LENGTH + 1];
    if (token_add(token) != 0) {
        zmo_log(ZMO_LOG_WARNING, "Failed to add token");
        answer(response, kInternal);
        return 0;
    }
    answer(response, kContent, token);
    return 0;
}

int logout_handler(struct Mirel *, struct CoAPMessage *request, struct CoAPMessage *response)
{
    struct Uri_QueryHead head {};
    if (!read_query(request, response, &head))
        return 0;
    std::unique_ptr<struct Uri_QueryHead, QueryFree> hold(&head);
    const char *t = value_of(&head, "t");
    if (!t) {
        answer(response, kBadRequest, "Token should not be empty");
        return 0;
    }
    int rc = token_remove(t);
    if (rc == 1) {
        answer(response, kChanged);
    } else if (rc == 0) {
        zmo_log(ZMO_LOG_WARNING, "Attemp to logout with unknown token");
        answer(response, kUnauthorized);
    } else {
        answer(response, kInternal);
    }
    return 0;
}

int ci_handler(struct Mirel *, struct CoAPMessage *request, struct CoAPMessage *response)
{
    struct Uri_QueryHead head {};
    if (!read_query(request, response, &head, "0x1", "0x2"))
        return 0;
    std::unique_ptr<struct Uri_QueryHead, QueryFree> hold(&head);
    const char *req = value_of(&head, "req");
    const char *t = value_of(&head, "t");
    if (!req || !t) {
        answer(response, kBadRequest);
        return 0;
    }
    int found = token_find(t);
    if (found == 0 || found == -EINVAL) {
        zmo_log_debug(1, "Attemp to execute command with unknown token \"%s\"", log_safe(t).c_str());
        answer(response, kUnauthorized);
        return 0;
    }
    if (found < 0) {
        answer(response, kInternal, "0x3");
        return 0;
    }
    // The request URI goes into the core's header block as it is: a control
    // byte or a zero there would start pairs of its own.
    if (req[0] != '/' || query_has_control_bytes(request)) {
        answer(response, kBadRequest);
        return 0;
    }
    const char *method = "DELETE";
    if (CoAPMessage_GetCode(request) == COAP_CODE_GET)
        method = "GET";
    else if (CoAPMessage_GetCode(request) == COAP_CODE_POST)
        method = "POST";
    uint32_t length = 0;
    const void *body = CoAPMessage_GetPayload(request, &length, 0);
    if (!length)
        body = nullptr;
    struct scgi_result r = scgi_request(method, req, body ? "application/json" : nullptr, body, length, 0);
    std::unique_ptr<char, decltype(&std::free)> reply(r.body, &std::free);
    if (r.status < 0) {
        answer(response, kInternal, "0x4");
        return 0;
    }
    int status = r.status;
    if (status >= 400) {
        if (answer(response, status_to_code(status), r.status_text) != 0)
            return -1;
        return 0;
    }
    if (status == 200) {
        status = 205;
        if (CoAPMessage_AddOptionUint(response, COAP_OPTION_CONTENT_FORMAT, kFormatJson) != 0)
            return -1;
    }
    if (r.body && r.body_length && CoAPMessage_SetPayload(response, r.body, r.body_length) != 0)
        return -1;
    return CoAPMessage_SetCode(response, status_to_code(status)) == 0 ? 0 : -1;
}

int dis_handler(struct Mirel *, struct CoAPMessage *request, struct CoAPMessage *response)
{
    struct Uri_QueryHead head {};
    if (!read_query(request, response, &head))
        return 0;
    std::unique_ptr<struct Uri_QueryHead, QueryFree> hold(&head);
    const char *t = value_of(&head, "t");
    if (!t) {
        answer(response, kBadRequest);
        return 0;
    }
    int found = token_find(t);
    if (found == 0 || found == -EINVAL) {
        answer(response, kUnauthorized);
        return 0;
    }
    if (found < 0) {
        answer(response, kInternal);
        return 0;
    }
    std::unique_ptr<char, decltype(&std::free)> text(peers_json(), &std::free);
    if (!text || CoAPMessage_AddOptionUint(response, COAP_OPTION_CONTENT_FORMAT, kFormatJson) != 0 ||
        answer(response, kContent, text.get()) != 0)
        return -1;
    return 0;
}

int uhp_handler(struct Mirel *, struct CoAPMessage *request, struct CoAPMessage *response)
{
    char master[32];
    if (!agent_master_text(master, sizeof master)) {
        answer(response, kInternal);
        return 0;
    }
    struct Uri_QueryHead head {};
    if (!read_query(request, response, &head))
        return 0;
    std::unique_ptr<struct Uri_QueryHead, QueryFree> hold(&head);
    const char *cid = value_of(&head, "cid");
    // Only a client ID goes on to the master, never text that adds keys.
    if (!cid || cid_parse(cid) != 0) {
        answer(response, kBadRequest);
        return 0;
    }
    try {
        std::string uri = std::string("coap://") + master + "/get?cid=" + g_agent.cid + "&peer_cid=" + cid;
        if (agent_send(uri.c_str(), COAP_TYPE_CON, COAP_CODE_GET, nullptr, 0, UhpGetHandler) != 0) {
            answer(response, kInternal);
            return 0;
        }
    } catch (const std::bad_alloc &) {
        answer(response, kInternal);
        return 0;
    }
    answer(response, kChanged);
    return 0;
}

int UhpGetHandler(struct Mirel *, struct CoAPMessage *response)
{
    static const char kTag[] = "UhpGetHandler";
    uint32_t length = 0;
    const char *payload = static_cast<const char *>(CoAPMessage_GetPayload(response, &length, 0));
    if (!payload || !length) {
        zmo_log_debug(1, "%s: no data\n", kTag);
        return 0;
    }
    if (length >= 22) {
        zmo_log_debug(1, "%s: too big response", kTag);
        return 0;
    }
    char text[22];
    std::memcpy(text, payload, length);
    text[length] = '\0';
    zmo_ip_sockaddr_t peer;
    if (std::strlen(text) != length || address_parse(text, &peer) != 0) {
        zmo_log_debug(1, "%s: bad data", kTag);
        return 0;
    }
    try {
        std::string uri = std::string("coap://") + text + "/info";
        if (agent_send(uri.c_str(), COAP_TYPE_CON, COAP_CODE_GET, nullptr, 0, nullptr) == 0)
            return 0;
    } catch (const std::bad_alloc &) {
    }
    zmo_log_debug(1, "%s: no memory", kTag);
    return 0;
}

int resources_register(struct Mirel *ep)
{
    static const struct {
        const char *path;
        uint32_t methods;
        Mirel_ResHandler handler;
    } kResources[] = {
        {"/info", MIREL_GET, info_handler},
        {"/zmo/login", MIREL_POST, login_handler},
        {"/zmo/logout", MIREL_POST, logout_handler},
        {"/uhp", MIREL_POST, uhp_handler},
        {"/mirror", MIREL_POST, mirror_handler},
        {"/zmo/ci", MIREL_GET | MIREL_POST | MIREL_DELETE, ci_handler},
        {"/zmo/dis", MIREL_GET, dis_handler},
        {"/register", MIREL_POST, register_handler},
    };
    for (const auto &r : kResources)
        if (Mirel_AddRes(ep, r.path, r.methods, r.handler) != 0)
            return -1;
    return 0;
}

}  // extern "C"
