/*
 * Functions the vdsl module exports to other kernel code. They take the
 * chip-access busy flag and the chip semaphore, never the request
 * semaphore; every one returns 0 or a driver result code.
 */
#ifndef VDSL_KAPI_H
#define VDSL_KAPI_H

#ifdef __cplusplus
extern "C" {
#endif

/* Operational state (1 disabled .. 6 error) and whether connect_port ran;
 * either output may be null. */
int get_phy_status(int port, unsigned char *state, unsigned char *connected);
int connect_port(int port);
int disconnect_port(int port);

/* The MIB answer of a logic OID (1080 bytes: status, word count, text). */
int get_port_mib(int port, const char *oid, unsigned char *answer);
/* An entry's value text as one number; _int sign-extends from bit 23. */
int get_mib2_uint32(int port, const char *oid, unsigned int *value);
int get_mib2_int(int port, const char *oid, int *value);
int get_mib2_int_idx(int port, const char *oid, int *value, int index);
/* An entry's words as bytes, three a word, high byte first, at most size
 * bytes; *count (when given) receives the number stored. */
int get_mib2_uint8(int port, const char *oid, unsigned char *bytes, int size, int *count);
int get_mib2_uint8_idx(int port, const char *oid, unsigned char *bytes, int size, int *count, int index);
/* Appends the driver's information text at buf + *len and advances *len. */
void vdsl_proc_msg(char *buf, int *len);

#ifdef __cplusplus
}
#endif

#endif
