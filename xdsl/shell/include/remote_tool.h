/* The remote engineering tool's protocol on TCP 5001: framed requests that
 * reach chip memory, logic MIB entries, command lines and files. */
#ifndef DRUVEL_REMOTE_TOOL_H
#define DRUVEL_REMOTE_TOOL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RT_SERVICE_PORT 5001
/* A request's payload is at most this long; longer length fields are capped. */
#define RT_MAX_PAYLOAD 1080
/* File frames: a count byte and up to 127 data bytes, always 128 on the wire. */
#define RT_FILE_FRAME 128
#define RT_FILE_DATA 127

/* Opcodes. */
#define RT_OP_READ_WORD 1
#define RT_OP_WRITE_WORD 2
#define RT_OP_READ_MIB 3
#define RT_OP_WRITE_MIB 4
#define RT_OP_END 5
#define RT_OP_COMMAND 6
#define RT_OP_SEND_FILE 7
#define RT_OP_RECEIVE_FILE 8
#define RT_OP_CHECK_HEADER 9

/* Payload length of a request's 2-byte head, capped at RT_MAX_PAYLOAD. */
size_t rt_payload_length(const unsigned char head[2]);
/* Memory type (VDSL_MEM_*) of a wire selector; -1 for an unknown one. */
int rt_memory_type(unsigned char selector);
/* Status byte of a device request's result; success gives success_byte. */
unsigned char rt_status_byte(int result, unsigned char success_byte);
/* The reply to a MIB read (opcode 3) into out, which holds at least
 * RT_MAX_PAYLOAD bytes: the length-prefixed value frame on success, the
 * 4-byte failure frame otherwise. Never reads past the answer block of
 * answer_size bytes. Returns the reply's size. */
size_t rt_mib_read_reply(int result, const unsigned char *answer, size_t answer_size, unsigned char echo,
                         unsigned char *out);
/* Count of a received file frame; -1 when it claims more than 127 bytes. */
int rt_file_frame_count(const unsigned char frame[RT_FILE_FRAME]);
/* The first word of a path text that ends at its zero byte or at len, into
 * out of out_size bytes; 0, or -1 when it is empty or does not fit. */
int rt_first_word(const char *text, size_t len, char *out, size_t out_size);

/* Serves one connection until it ends; 1 when the tool ended it with
 * opcode 5 (nothing is to be saved), 0 otherwise. */
int rt_serve_connection(int fd);

#ifdef __cplusplus
}
#endif

#endif
