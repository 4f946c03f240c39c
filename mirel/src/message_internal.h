// The message record as the library sees it.
#ifndef MIREL_MESSAGE_INTERNAL_H
#define MIREL_MESSAGE_INTERNAL_H

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "coap_message.h"

struct CoAPMessage {
    uint8_t type = 0;
    uint8_t code = 0;
    uint16_t id = 0;
    struct sockaddr_storage addr {};
    uint8_t *payload = nullptr;
    uint32_t payload_len = 0;
    CoAPMessage_Handler handler = nullptr;
    struct CoAPMessage_OptionList options {};
    uint8_t token[COAP_TOKEN_MAX]{};
    uint8_t token_len = 0;
    // Retransmitted on the peer's round-trip timer (blocks), not the fixed
    // one; set by the block sender, not copied by a clone.
    bool rtt_timed = false;
    // Held by several threads at once (pool, layers, application).
    std::atomic<uint32_t> refs{1};
};

namespace mirel {

// Appends a detached option at the end of a list.
void option_list_append(CoAPMessage_OptionList *list, struct CoAPMessage_Option *opt);
// Unlinks one option from its list (does not free it).
void option_list_unlink(CoAPMessage_OptionList *list, struct CoAPMessage_Option *opt);
// Stable sort of a list by option number.
void option_list_sort(CoAPMessage_OptionList *list);
const struct CoAPMessage_Option *option_find(const struct CoAPMessage *msg, uint32_t number);
bool option_is_repeatable(uint32_t number);

// Method codes 0.01 .. 0.04.
inline bool code_is_request(int code) { return code >= COAP_CODE_GET && code <= COAP_CODE_DELETE; }

// Key texts of the security and block-wise layers. The sizes fit the longest
// IPv6 text with its port (and, for windows, an 8-byte token as hex).
constexpr size_t kPeerKeySize = 46 + 1 + 5 + 1;
constexpr size_t kWindowKeySize = kPeerKeySize + 1 + 2 * COAP_TOKEN_MAX;
int peer_key_format(const struct CoAPMessage *msg, char *out, size_t size);
// The numeric address text of a peer into out (ZMO_IP_ADDRSTRLEN bytes), as
// inet_ntop writes it, without the printf family for IPv4; the terminating
// NUL, or null when the family is neither (out is then empty).
char *address_text(const struct sockaddr_storage &peer, char *out);
int window_key_format(const struct CoAPMessage *msg, char *out, size_t size);

// Percent-encoded text appended to out (a blank as '+'); empty text gives
// nothing. The one encoder of URI paths and queries.
void uri_encode_into(std::string &out, std::string_view text);

// Calls segment(context, text) for every non-empty segment of a path
// ("/a/b"), percent-decoded, as C text; the one path parser. 0, the first
// non-zero result of segment, or -1 with EINVAL (not a path), EBADMSG (a bad
// escape) or ENOMEM.
int uri_path_each(const char *text, int (*segment)(void *context, const char *decoded), void *context);

// Copy of a text through the allocator table, NUL-terminated; null on ENOMEM.
char *mem_dup(std::string_view text);
// Copy of a byte run through the allocator table; null on ENOMEM.
void *mem_copy(const void *bytes, size_t size);

// Owner of a block from the allocator table.
struct MemFree {
    void operator()(void *p) const { Mem_free(p); }
};
using MemStr = std::unique_ptr<char, MemFree>;

// Appends to a list head of {first, link to the last next field}; a
// zero-filled head is an empty list.
template <typename Head, typename Entry> void list_append(Head *head, Entry *e)
{
    if (!head->last)
        head->last = &head->first;
    e->next = nullptr;
    *head->last = e;
    head->last = &e->next;
}

// Appends bytes as "text" when printable, else as "%02x" joined by blanks
// (and one after the last byte when trailing_blank is set).
int add_quoted_or_hex(struct Buf *buf, const uint8_t *bytes, uint32_t len, bool trailing_blank);

// Text of an errno value, thread-safe.
const char *errno_text(int code, char *buf, size_t size);

}  // namespace mirel

#endif
