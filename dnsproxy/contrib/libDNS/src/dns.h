/* DNS message codec: parses and builds RFC 1035 messages in place, in one
 * caller-supplied buffer, without allocating. */
#ifndef DNS_H
#define DNS_H

#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum dns_error {
	DNS_ENOBUFS = -2001,  /* no room left in the buffer */
	DNS_EILLEGAL = -2002, /* malformed message: bad label, pointer loop, past the end */
	DNS_ENOTYPE = -2003,  /* the TYPE has no typed operations */
};

enum dns_section {
	DNS_S_QD = 1,
	DNS_S_AN = 2,
	DNS_S_NS = 4,
	DNS_S_AR = 8,
	DNS_S_ALL = 15,
};

enum dns_type {
	DNS_T_A = 1,
	DNS_T_NS = 2,
	DNS_T_CNAME = 5,
	DNS_T_SOA = 6,
	DNS_T_PTR = 12,
	DNS_T_MX = 15,
	DNS_T_TXT = 16,
	DNS_T_AAAA = 28,
	DNS_T_SRV = 33,
	DNS_T_SSHFP = 44,
	DNS_T_OPT = 41,
	DNS_T_SPF = 99,
	DNS_T_ALL = 255,
};

enum dns_class {
	DNS_C_IN = 1,
	DNS_C_ANY = 255,
};

enum {
	DNS_HEADER_SIZE = 12,
	DNS_D_MAXNAME = 255,   /* octets of a name on the wire */
	DNS_D_MAXLABEL = 63,
	DNS_D_MAXTEXT = 1025,  /* dotted text of the longest name, every octet escaped, and its NUL */
	DNS_D_MAXPTRS = 128,   /* compression pointers followed in one name */
	DNS_P_DICTSIZE = 16,   /* names remembered for compression */
	DNS_TXT_MAXDATA = 65535,
	DNS_SSHFP_MAXDATA = 255,
};

struct dns_packet {
	uint16_t dict[DNS_P_DICTSIZE]; /* offsets of names already written; 0 = free */
	struct {
		uint16_t base, end;
	} memo[4]; /* section bounds, computed on demand */
	int memo_state; /* 0 unknown, 1 valid, else the error found */
	size_t size;    /* capacity of the message bytes */
	size_t end;     /* used length */
	union {
		unsigned char data[1];
		uint64_t align_;
	} u;
};

#define dns_p_calcsize(n) (offsetof(struct dns_packet, u.data) + (n))

/* A packet record over mem of size bytes (the record and its message), with a
 * zeroed header and a used length of 12; NULL when size is too small. */
struct dns_packet *dns_p_init(void *mem, size_t size);
/* Replaces the message with len wire bytes; DNS_ENOBUFS when they don't fit. */
int dns_p_load(struct dns_packet *P, const void *wire, size_t len);
/* Copies src's used bytes and name offsets; NULL when dst is too small. */
struct dns_packet *dns_p_copy(struct dns_packet *dst, const struct dns_packet *src);
unsigned char *dns_p_data(struct dns_packet *P);
const unsigned char *dns_p_cdata(const struct dns_packet *P);

/* Header fields, in host order. */
uint16_t dns_p_id(const struct dns_packet *P);
void dns_p_setid(struct dns_packet *P, uint16_t id);
uint16_t dns_p_flags(const struct dns_packet *P);
void dns_p_setflags(struct dns_packet *P, uint16_t flags);
unsigned dns_p_opcode(const struct dns_packet *P);
unsigned dns_p_rcode(const struct dns_packet *P);
/* Sum of the header counts of the sections named by the bits. */
unsigned dns_p_count(const struct dns_packet *P, unsigned sections);
/* Offset of the first record of a section and the offset past its last. */
int dns_p_section(struct dns_packet *P, enum dns_section section, uint16_t *base, uint16_t *end);

/* Walks the whole message: the counts match the records, every name (in
 * owners and inside the data of the known types) parses with its pointers
 * leading back to earlier names, no name passes 255 octets and every record
 * ends inside the message. 0 or DNS_EILLEGAL. */
int dns_p_check(struct dns_packet *P);
/* Least TTL of the answer-section records: 1 with *ttl set, 0 without answer
 * records, a negative error for a malformed message. */
int dns_p_min_answer_ttl(struct dns_packet *P, uint32_t *ttl);
/* The UDP payload size that an OPT record of the additional section offers;
 * 0 without one (or in a malformed message). */
unsigned dns_p_edns_size(struct dns_packet *P);

/* Names. */
int dns_d_skip(uint16_t off, const struct dns_packet *P, uint16_t *next);
/* Copies the name at off, pointers followed, in uncompressed wire form. */
int dns_d_copy(unsigned char dst[DNS_D_MAXNAME], uint16_t off, const struct dns_packet *P, size_t *len);
/* Writes the name at off as dotted text ending in "." ("." for the root).
 * Octets that are not plain printable characters, "." and "\" inside a
 * label are escaped ("\." "\\" "\DDD"), so two different names never give
 * the same text. DNS_ENOBUFS when the text does not fit in lim bytes. */
int dns_d_expand(char *dst, size_t lim, uint16_t off, const struct dns_packet *P, size_t *len);
/* Dotted text (escapes as above) to uncompressed wire form. */
int dns_d_fromtext(unsigned char dst[DNS_D_MAXNAME], const char *text, size_t textlen, size_t *len);
/* Appends a name, compressed against the names already written. */
int dns_d_push(struct dns_packet *P, const char *text, size_t textlen);
/* Case-insensitive comparison of two dotted names ("a.b" equals "A.B."). */
int dns_d_cmp(const char *a, const char *b);

/* A record as it sits in the message. */
struct dns_rr {
	enum dns_section section;
	struct {
		uint16_t p, len;
	} dn;
	uint16_t type;
	uint16_t class_;
	uint32_t ttl;
	struct {
		uint16_t p, len;
	} rd;
	uint16_t end; /* offset past the record */
};

int dns_rr_parse(struct dns_rr *rr, uint16_t src, struct dns_packet *P);

/* Record iterator: visits the records of the sections in the filter in
 * message order. type and class_ 0 or 255 match any; name NULL matches any. */
struct dns_rr_i {
	unsigned section;
	uint16_t type;
	uint16_t class_;
	const char *name;
	/* walk state; zero before the first call */
	unsigned index_;
	uint16_t next_;
};
/* 1 with *rr filled, 0 at the end, a negative error for a malformed message. */
int dns_rr_next(struct dns_rr_i *i, struct dns_packet *P, struct dns_rr *rr);

/* Typed record data. */
struct dns_a {
	struct in_addr addr;
};
struct dns_aaaa {
	struct in6_addr addr;
};
struct dns_mx {
	uint16_t preference;
	char host[DNS_D_MAXTEXT];
};
struct dns_ns {
	char host[DNS_D_MAXTEXT];
};
struct dns_soa {
	char mname[DNS_D_MAXTEXT];
	char rname[DNS_D_MAXTEXT];
	uint32_t serial, refresh, retry, expire, minimum;
};
struct dns_srv {
	uint16_t priority, weight, port;
	char target[DNS_D_MAXTEXT];
};
struct dns_txt { /* the character-strings joined into one text */
	size_t len;
	unsigned char data[DNS_TXT_MAXDATA];
};
struct dns_sshfp {
	uint8_t algo, type;
	size_t len;
	unsigned char digest[DNS_SSHFP_MAXDATA];
};
union dns_any {
	struct dns_a a;
	struct dns_aaaa aaaa;
	struct dns_mx mx;
	struct dns_ns ns;
	struct dns_ns cname;
	struct dns_ns ptr;
	struct dns_soa soa;
	struct dns_srv srv;
	struct dns_txt txt;
	struct dns_txt spf;
	struct dns_sshfp sshfp;
};

/* "A", "AAAA", ... for the types of the table; NULL for others. */
const char *dns_strtype(uint16_t type);
int dns_type_known(uint16_t type);

int dns_any_parse(union dns_any *any, const struct dns_rr *rr, struct dns_packet *P);
int dns_any_cmp(const union dns_any *a, const union dns_any *b, uint16_t type);
/* Text form; returns the length it needs (as snprintf), the text is cut to lim. */
size_t dns_any_print(char *dst, size_t lim, const union dns_any *any, uint16_t type);
/* The host name inside MX, NS, CNAME, SRV and PTR data; NULL for others. */
const char *dns_any_name(const union dns_any *any, uint16_t type);

/* Appends a question and raises QDCOUNT. */
int dns_p_push_question(struct dns_packet *P, const char *name, uint16_t type, uint16_t class_);
/* Appends a record with typed data to a section and raises its count. */
int dns_p_push(struct dns_packet *P, enum dns_section section, const char *name, uint16_t type,
	       uint16_t class_, uint32_t ttl, const union dns_any *any);
/* The same with raw RDATA, for types the table lacks. */
int dns_p_push_raw(struct dns_packet *P, enum dns_section section, const char *name, uint16_t type,
		   uint16_t class_, uint32_t ttl, const void *rdata, size_t rdlen);

/* One record as "name TTL CLASS TYPE data" (questions: "name CLASS TYPE"). */
int dns_rr_print(char *dst, size_t lim, const struct dns_rr *rr, struct dns_packet *P);

#ifdef __cplusplus
}
#endif

#endif
