/* The shell's side of the xDSL device: one request per operation, each with
 * its own open and close of the device; port indexes other than 0 are
 * refused before anything is sent. Results: 0, the driver's code, -1 when
 * the device cannot be opened, 100 for a refused port. */
#ifndef DRUVEL_VDSL_REQUEST_H
#define DRUVEL_VDSL_REQUEST_H

#include <stddef.h>
#include <stdint.h>

#include "vdsl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Request numbers, block sizes and the driver's codes: vdsl.h. */

/* Value text of a MIB answer: from byte 2 of the block. */
#define VDSL_ANSWER_TEXT 2
/* A long entry's value text holds at most this many words. */
#define VDSL_LONG_ENTRY_WORDS 512

/* Memory types of chip words. */
#define VDSL_MEM_X 0
#define VDSL_MEM_Y 1
#define VDSL_MEM_P 2

/* Port operations of port_control. */
#define VDSL_PORT_CONNECT 0
#define VDSL_PORT_DISCONNECT 1
#define VDSL_PORT_LOOPBACK_ON 2
#define VDSL_PORT_LOOPBACK_OFF 3

/* The copy of the most recent MIB answer that the value readers parse. */
extern unsigned char vdsl_last_answer[VDSL_BLOCK_SIZE];

int mib_get_logic(int port, const char *oid, unsigned char *answer);
int mib_set_logic(int port, const char *oid, const char *value);
int xdsl_get_opstate(int port, unsigned char *state);
int port_control(int port, int operation);
int dsp_mem_read_word(int port, uint32_t addr, int mem, unsigned char *word);
int dsp_mem_read_word_sk(int port, uint32_t addr, int mem, unsigned char *word);
int dsp_mem_write_word(int port, uint32_t addr, int mem, const unsigned char *word);
int dsp_mem_read_remote(int port, uint32_t addr, unsigned number, unsigned char *word);
/* operation 1 writes the word, 0 reads it. */
int ebm_access_word(int port, unsigned char *word, int operation);
int mib32_clear(int port, const char *oid);
int ebm_socket_reopen(void);
/* The port rule: 0 for index 0, else 100 after "Invalid portid=%i" and
 * "Error Code = -5". */
int vdsl_port_refused(int port);
/* A port as typed (counted from 1): its index in *index and 0, or 100
 * after the port rule's messages. The range is checked before any
 * arithmetic, so no typed number can overflow. */
int vdsl_port_index(int number, int *index);
/* One request with a block of its own; the layer's port rule first. */
int vdsl_port_request(int port, unsigned long request, unsigned char *block, size_t size);
/* Length in words of an entry as the driver locates it (request
 * VDSL_TRANS_MIB_ADDR); -1 when the device cannot be opened or the entry is
 * unknown. */
int32_t mib_entry_length(int port, const char *oid);

/* Value readers: a logic read into the last answer, then its text. */
int mib_get_hex(int port, const char *oid, uint32_t *value);
int mib_get_int24(int port, const char *oid, int32_t *value);
int mib_get_int24_idx(int port, const char *oid, int32_t *value, int index);
int mib_get_chip_version(int port, uint32_t *v1, uint32_t *v2, uint32_t *v3, char mode[3]);

/* Composite operations. */
int mib_read_by_name(int port, const char *oid, unsigned char *buffer, int budget);
void request_tone_segments(int port, int count);
int print_mib_value_idx(int port, const char *format, const char *oid, const char *label, const char *unit,
                        int index);
int print_modem_status(int port);
int dsp_mem_dump_range(int port, uint32_t first, uint32_t count, int mem, const char *path);
int dsp_mem_dump_file(int port, int mem);

/* Where the shell's dumps and diagnostic files go ("/tmp"); tests move it. */
extern const char *vdsl_memdump_dir;

#ifdef __cplusplus
}
#endif

#endif
