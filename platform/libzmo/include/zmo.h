/*
 * libzmo: the board's base library, as a host stand-in.
 *
 * Unless a function says otherwise it returns non-zero on success and 0 on
 * failure with errno set. Nothing here throws; every call is safe to make
 * from C.
 */
#ifndef ZMO_H
#define ZMO_H

#include <netinet/in.h>
#include <poll.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>
#include <sys/types.h>

#ifdef __cplusplus
#define ZMO_DEFAULT(v) = v
extern "C" {
#else
#define ZMO_DEFAULT(v)
#endif

#define ZMO_PRINTF(f, a) __attribute__((format(printf, f, a)))
/* Marks what libzmo exports. The library is built with hidden visibility
 * (platform/libzmo/CMakeLists.txt), so a function or variable declared here
 * without ZMO_API is not reachable from outside; internals stay internal. */
#define ZMO_API __attribute__((visibility("default")))

/* ---- process ---------------------------------------------------------- */

ZMO_API int zmo_sys_init(void);
/* SIGINT, SIGTERM and SIGQUIT set the interrupted flag; the handlers are
 * installed without SA_RESTART so a blocked poll or sleep returns early.
 * SIGPIPE is ignored. */
ZMO_API int zmo_sys_set_default_signals(void);
ZMO_API int zmo_sys_is_interrupted(void);
/* The signal that set the flag, 0 when none; tests clear it with reset. */
ZMO_API int zmo_sys_interrupted_signal(void);
ZMO_API void zmo_sys_reset_interrupted(void);

#define ZMO_SYS_SLEEP_UNINTERRUPTIBLE 1
/* Sleeps ms milliseconds. Returns 0 when a signal cut the sleep short
 * (errno EINTR) unless flags holds ZMO_SYS_SLEEP_UNINTERRUPTIBLE. */
ZMO_API int zmo_sys_sleep_msec(int64_t ms, int flags ZMO_DEFAULT(0));
/* Thread-safe text of an error number. */
ZMO_API const char *zmo_sys_strerror(int err);

/* ---- log ---------------------------------------------------------------- */

enum {
    ZMO_LOG_INFO = 0,
    ZMO_LOG_WARNING = 1,
    ZMO_LOG_ERROR = 2,
    ZMO_LOG_FATAL = 3,
    ZMO_LOG_SPOOLER = 4,
    ZMO_LOG_DEBUG = 5 /* level handed to the hook for zmo_log_debug lines */
};

/* The program's base name from argv[0] (points into it), "zmo" when none. */
ZMO_API const char *zmo_log_get_ident(char *const argv[]);
/* ident names the program; tag, when not null, is added as "ident[tag]";
 * console copies lines to standard error; use_syslog sends them to syslog.
 * May be called again to change any of them. */
ZMO_API int zmo_log_init(const char *ident, const char *tag, int console, int use_syslog);
ZMO_API void zmo_log(int level, const char *format, ...) ZMO_PRINTF(2, 3);
ZMO_API void zmo_log_v(int level, const char *format, va_list ap);
/* Shown only when the level of zmo_log_set_debug reaches verbosity (>= 1). */
ZMO_API void zmo_log_debug(int verbosity, const char *format, ...) ZMO_PRINTF(2, 3);
ZMO_API void zmo_log_set_debug(int level);
ZMO_API int zmo_log_get_debug(void);
/* Test hook: sees every line that is logged (after the debug filter),
 * besides syslog and the console. A null hook removes it. */
typedef void (*zmo_log_hook_fn)(void *ctx, int level, const char *ident, const char *line);
ZMO_API void zmo_log_set_hook(zmo_log_hook_fn hook, void *ctx);

/* ---- monotonic time ----------------------------------------------------- */

typedef struct zmo_time {
    int64_t sec;
    int64_t nsec; /* 0 .. 999999999 */
} zmo_time_t;

ZMO_API int zmo_time_init(void);
ZMO_API void zmo_time_get_monotonic(zmo_time_t *t);
ZMO_API void zmo_time_get_monotonic_plus_msec(zmo_time_t *t, int64_t ms);
ZMO_API void zmo_time_add_sec(zmo_time_t *t, int64_t s);
ZMO_API void zmo_time_add_msec(zmo_time_t *t, int64_t ms);
/* Milliseconds until t: rounded up while ahead, negative once passed. */
ZMO_API int64_t zmo_time_left_monotonic_msec(const zmo_time_t *t);
ZMO_API int zmo_time_less(const zmo_time_t *a, const zmo_time_t *b);
ZMO_API int zmo_time_less_or_equal(const zmo_time_t *a, const zmo_time_t *b);
ZMO_API int zmo_time_greater(const zmo_time_t *a, const zmo_time_t *b);
ZMO_API int zmo_time_greater_or_equal(const zmo_time_t *a, const zmo_time_t *b);
ZMO_API int zmo_time_equal(const zmo_time_t *a, const zmo_time_t *b);
ZMO_API void zmo_time_sub(zmo_time_t *a, const zmo_time_t *b); /* a := a - b */
ZMO_API int64_t zmo_time_to_msec(const zmo_time_t *t);         /* truncated */

/* ---- socket addresses (a 128-byte store) -------------------------------- */

typedef struct zmo_ip_sockaddr {
    union {
        struct sockaddr sa;
        struct sockaddr_in in;
        struct sockaddr_in6 in6;
        struct sockaddr_storage storage;
    } u;
} zmo_ip_sockaddr_t;

#define ZMO_IP_ADDRSTRLEN 46
ZMO_API extern const zmo_ip_sockaddr_t zmo_ip_sockaddr_any;  /* 0.0.0.0 port 0 */
ZMO_API extern const zmo_ip_sockaddr_t zmo_ip_sockaddr_any6; /* :: port 0 */
#define ZMO_IP_SOCKADDR_ANY (&zmo_ip_sockaddr_any)
#define ZMO_IP_SOCKADDR_ANY6 (&zmo_ip_sockaddr_any6)

/* Parses numeric text for the family already set in sa (AF_INET or
 * AF_INET6); the port is kept. */
ZMO_API int zmo_ip_sockaddr_pton(const char *text, zmo_ip_sockaddr_t *sa);
/* Numeric text of the address (no port) into buf; buf, or null. */
ZMO_API const char *zmo_ip_sockaddr_ntop(const zmo_ip_sockaddr_t *sa, char *buf, size_t size);
ZMO_API uint16_t zmo_ip_sockaddr_port(const zmo_ip_sockaddr_t *sa); /* host order */
ZMO_API void zmo_ip_sockaddr_set_port(zmo_ip_sockaddr_t *sa, uint16_t port);
ZMO_API socklen_t zmo_ip_sockaddr_len(const zmo_ip_sockaddr_t *sa); /* for bind, sendto */
ZMO_API int zmo_ip_sockaddr_is_equal(const zmo_ip_sockaddr_t *a, const zmo_ip_sockaddr_t *b);
ZMO_API int zmo_ip_sockaddr_address_is_equal(const zmo_ip_sockaddr_t *a, const zmo_ip_sockaddr_t *b);

/* ---- MAC addresses and layer-2 sockets ----------------------------------- */

typedef struct zmo_mac_addr {
    uint8_t bytes[6];
} zmo_mac_addr_t;

#define ZMO_MAC_ADDR_STRLEN 18 /* "aa:bb:cc:dd:ee:ff" and the zero */
ZMO_API extern const zmo_mac_addr_t zmo_mac_addr_broadcast;
#define ZMO_MAC_ADDR_BROADCAST (&zmo_mac_addr_broadcast)

ZMO_API void zmo_mac_addr_init(zmo_mac_addr_t *m);
/* Six hex pairs separated by ':' or '-'; nothing else. */
ZMO_API int zmo_mac_addr_parse(zmo_mac_addr_t *m, const char *text);
ZMO_API int zmo_mac_addr_assign_array(zmo_mac_addr_t *m, const uint8_t *bytes, size_t size);
/* Lower-case colon form into buf (ZMO_MAC_ADDR_STRLEN bytes); returns buf. */
ZMO_API const char *zmo_mac_addr_as_string(const zmo_mac_addr_t *m, char *buf);
ZMO_API int zmo_mac_addr_is_equal(const zmo_mac_addr_t *a, const zmo_mac_addr_t *b);

typedef struct zmo_mac_recv_info {
    int ifindex;           /* interface the frame came in on */
    zmo_mac_addr_t source; /* from the Ethernet header */
    zmo_mac_addr_t destination;
    uint16_t ethertype;
} zmo_mac_recv_info_t;

/* A raw packet socket for one ethertype. With *ifindex > 0 it is bound to
 * that interface and own_mac (may be null) gets the interface's address;
 * with 0 it hears every interface. Frames this host sends are not echoed. */
ZMO_API int zmo_mac_socket_open(int *s, uint16_t ethertype, int *ifindex, zmo_mac_addr_t *own_mac);
/* frame is a whole Ethernet frame, header included; bytes sent or -1. */
ZMO_API ssize_t zmo_mac_socket_send(int s, const void *frame, size_t len, int flags, int ifindex,
                                    const zmo_mac_addr_t *destination);
/* A whole frame, header included; bytes received, below 1 on failure. */
ZMO_API ssize_t zmo_mac_socket_recv(int s, void *buf, size_t size, int flags, zmo_mac_recv_info_t *info);
ZMO_API void zmo_mac_socket_close(int *s);
ZMO_API int zmo_poll(struct pollfd *fds, nfds_t n, int timeout_ms);

/* ---- numbers and strings ------------------------------------------------ */

/* Whole decimal text only: no sign on unsigned types, no spaces, no trailing
 * text, in range (ERANGE) or refused (EINVAL). The value is set only on success. */
ZMO_API int zmo_int_parse_ulong(const char *text, unsigned long *value);
ZMO_API int zmo_int_parse_int(const char *text, int *value);
ZMO_API int zmo_int_parse_ushort(const char *text, unsigned short *value);

ZMO_API char *zmo_string_dup(const char *s);            /* free() it */
ZMO_API char *zmo_string_ndup(const char *s, size_t n); /* at most n bytes */

/* A growable text. The bytes may hold several zero-terminated strings
 * (append "%s%c" with 0) which zmo_stracc_next_cstr walks. */
typedef struct zmo_stracc {
    char *data;
    size_t size;
    size_t capacity;
} zmo_stracc_t;
#define ZMO_STRACC_INIT                                                                                      \
    {                                                                                                        \
        0, 0, 0                                                                                              \
    }

ZMO_API int zmo_stracc_append(zmo_stracc_t *acc, const char *format, ...) ZMO_PRINTF(2, 3);
ZMO_API const char *zmo_stracc_value(const zmo_stracc_t *acc); /* "" when empty */
/* The string after prev (the first with null prev); null past the end. */
ZMO_API const char *zmo_stracc_next_cstr(const zmo_stracc_t *acc, const char *prev);
ZMO_API size_t zmo_stracc_size(const zmo_stracc_t *acc);
ZMO_API int zmo_stracc_is_equal(const zmo_stracc_t *a, const zmo_stracc_t *b);
ZMO_API void zmo_stracc_clear(zmo_stracc_t *acc); /* frees; the accumulator is reusable */

/* Character sets by iconv name ("UTF-8", "UTF-16LE"). */
typedef struct zmo_conv zmo_conv_t;
ZMO_API zmo_conv_t *zmo_conv_open(const char *to, const char *from); /* null, errno */
/* Converts in_size bytes at in to out; *out_len gets the bytes written.
 * E2BIG when out is too small, EILSEQ or EINVAL on bad or cut input. */
ZMO_API int zmo_conv(zmo_conv_t *c, const void *in, size_t in_size, void *out, size_t out_size,
                     size_t *out_len);
ZMO_API void zmo_conv_close(zmo_conv_t *c);

/* ---- pools, JSON and XML ------------------------------------------------- */

/* Everything parsed or built in a pool lives until zmo_pool_clear. */
typedef struct zmo_pool zmo_pool_t;
ZMO_API zmo_pool_t *zmo_pool_new(void);
ZMO_API void zmo_pool_clear(zmo_pool_t *pool);
ZMO_API void zmo_pool_free(zmo_pool_t *pool);

typedef struct zmo_json_value zmo_json_value_t;

/* 0 on success (root is an object), -1 otherwise. Member order is kept. */
ZMO_API int zmo_json_object_parse(zmo_pool_t *pool, const char *text, zmo_json_value_t **root);
ZMO_API zmo_json_value_t *zmo_json_object_get(const zmo_json_value_t *object, const char *name);
ZMO_API size_t zmo_json_object_size(const zmo_json_value_t *object);
ZMO_API const char *zmo_json_object_member_name(const zmo_json_value_t *object, size_t index);
ZMO_API zmo_json_value_t *zmo_json_object_member_value(const zmo_json_value_t *object, size_t index);
ZMO_API size_t zmo_json_array_size(const zmo_json_value_t *array);
ZMO_API zmo_json_value_t *zmo_json_array_get(const zmo_json_value_t *array, size_t index);

ZMO_API int zmo_json_value_is_null(const zmo_json_value_t *v);
ZMO_API int zmo_json_value_is_boolean(const zmo_json_value_t *v);
ZMO_API int zmo_json_value_is_uchar(const zmo_json_value_t *v); /* unsigned integer that fits */
ZMO_API int zmo_json_value_is_ushort(const zmo_json_value_t *v);
ZMO_API int zmo_json_value_is_ullong(const zmo_json_value_t *v);
ZMO_API int zmo_json_value_is_string(const zmo_json_value_t *v);
ZMO_API int zmo_json_value_is_object(const zmo_json_value_t *v);
ZMO_API int zmo_json_value_is_array(const zmo_json_value_t *v);
ZMO_API int zmo_json_value_get_boolean(const zmo_json_value_t *v, int *out);
ZMO_API int zmo_json_value_get_uchar(const zmo_json_value_t *v, unsigned char *out);
ZMO_API int zmo_json_value_get_ushort(const zmo_json_value_t *v, unsigned short *out);
ZMO_API int zmo_json_value_get_ullong(const zmo_json_value_t *v, unsigned long long *out);
ZMO_API const char *zmo_json_value_get_string(const zmo_json_value_t *v);       /* null if not */
ZMO_API zmo_json_value_t *zmo_json_value_get_object(const zmo_json_value_t *v); /* null if not */
ZMO_API zmo_json_value_t *zmo_json_value_get_array(const zmo_json_value_t *v);  /* null if not */

ZMO_API zmo_json_value_t *zmo_json_object_new(zmo_pool_t *pool);
/* Setting a name that exists replaces its value in place. */
ZMO_API zmo_json_value_t *zmo_json_object_set_object(zmo_json_value_t *object, const char *name);
ZMO_API int zmo_json_object_set_string(zmo_json_value_t *object, const char *name, const char *value);
ZMO_API int zmo_json_object_set_ushort(zmo_json_value_t *object, const char *name, unsigned short value);
ZMO_API int zmo_json_object_set_ullong(zmo_json_value_t *object, const char *name, unsigned long long value);
ZMO_API int zmo_json_object_set_boolean(zmo_json_value_t *object, const char *name, int value);
/* compact: no white space; else indented. Allocated text (free()), its length
 * in *len (may be null); null on failure. */
ZMO_API char *zmo_json_object_print(const zmo_json_value_t *object, int compact, size_t *len);

typedef struct zmo_xml_node zmo_xml_node_t;
/* The document element, or null (errno EBADMSG) for text that is not
 * well-formed. Entities and CDATA are decoded; comments skipped. */
ZMO_API zmo_xml_node_t *zmo_xml_parse(zmo_pool_t *pool, const char *text, size_t len);
/* First child element with that name (any name when null). */
ZMO_API zmo_xml_node_t *zmo_xml_node_first_child(const zmo_xml_node_t *node, const char *name);
ZMO_API zmo_xml_node_t *zmo_xml_node_next_sibling(const zmo_xml_node_t *node, const char *name);
ZMO_API const char *zmo_xml_node_name(const zmo_xml_node_t *node);
ZMO_API const char *zmo_xml_node_value(const zmo_xml_node_t *node); /* its text, "" when none */
ZMO_API const char *zmo_xml_node_attribute(const zmo_xml_node_t *node, const char *name);

/* ---- MD5 ----------------------------------------------------------------- */

typedef struct zmo_md5 {
    uint32_t state[4];
    uint64_t length;
    uint8_t block[64];
} zmo_md5_t;
ZMO_API void zmo_md5_init(zmo_md5_t *ctx);
ZMO_API void zmo_md5_update(zmo_md5_t *ctx, const void *data, size_t size);
ZMO_API void zmo_md5_final(zmo_md5_t *ctx, uint8_t digest[16]);
/* Finishes and writes 32 lower-case hex digits and a zero; returns out. */
ZMO_API const char *zmo_md5_text_digest(zmo_md5_t *ctx, char out[33]);

/* ---- management core ----------------------------------------------------- */

/* The core listens on this UNIX stream socket (one line per request). */
#define ZMO_CORE_SOCKET_PATH "/var/run/zmo.core.socket"

typedef struct zmo_core zmo_core_t;
typedef struct zmo_core_event_connection zmo_core_event_connection_t;
typedef struct zmo_core_event zmo_core_event_t;

/* name: the client's name; timeout_ms for each exchange; max_answer bytes. */
ZMO_API zmo_core_t *zmo_core_open(const char *name, int timeout_ms, size_t max_answer);
ZMO_API void zmo_core_close(zmo_core_t *core);
/* 0 when the request could not be sent or answered; *granted tells the verdict. */
ZMO_API int zmo_core_authenticate(zmo_core_t *core, const char *login, const char *password, const char *tag,
                                  int *granted);
ZMO_API zmo_core_event_connection_t *zmo_core_event_connection_open(int timeout_ms);
ZMO_API void zmo_core_event_connection_close(zmo_core_event_connection_t *conn);
ZMO_API int zmo_core_event_connection_fd(const zmo_core_event_connection_t *conn);
/* One event; null when none is waiting (errno EAGAIN) or the core went away. */
ZMO_API zmo_core_event_t *zmo_core_event_connection_get(zmo_core_event_connection_t *conn);
ZMO_API const char *zmo_core_event_type(const zmo_core_event_t *event);
ZMO_API zmo_xml_node_t *zmo_core_event_root(const zmo_core_event_t *event);
ZMO_API void zmo_core_event_free(zmo_core_event_t *event);

/* ---- feedback to the management core --------------------------------------- */

/* words: null-terminated. When words[0] is an executable file it runs with
 * words as argv, the text on standard input and each KEY=value line of the
 * text in its environment; it is killed after timeout_ms (ETIMEDOUT) and a
 * non-zero exit fails (EIO). Otherwise the text replaces the file words[0]
 * through a temporary file and a rename.
 * Control bytes (below 0x20 and 0x7f) that a conversion brings into the text
 * become '_', so a field can never start a line of its own; a format that is
 * just "%s" passes a text the caller has made whole. */
ZMO_API int zmo_feedback(int timeout_ms, int flags, const char *const *words, const char *format, ...)
    ZMO_PRINTF(4, 5);

#ifdef __cplusplus
}
#endif
#undef ZMO_DEFAULT

#endif
