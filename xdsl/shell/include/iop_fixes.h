/* Interoperability fixes: switchable chip workarounds for far ends that do
 * not keep to the standards, kept as named sets in text files. */
#ifndef DRUVEL_IOP_FIXES_H
#define DRUVEL_IOP_FIXES_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define IOP_ACTIONS 96
/* A file line is read into this many bytes; a parameter text holds at most
 * IOP_PARAM_MAX characters. */
#define IOP_LINE_SIZE 100
#define IOP_PARAM_MAX 49

/* Action handlers: port index and parameter text; 0 done, 100 failed. */
int iop_fix_ghs_cs_rr_mode(int port, const char *param);
int iop_fix_ghs_dis_rxpga_adj(int port, const char *param);
int iop_fix_ghs_relaxed_dtct(int port, const char *param);
int iop_fix_30a_switch_17a(int port, const char *param);
int iop_fix_reduce_quiet1(int port, const char *param);
int iop_fix_limit_us_tone(int port, const char *param);
int iop_fix_limit_ds_tone(int port, const char *param);
int iop_fix_limit_us_rate(int port, const char *param);
int iop_fix_limit_ds_rate(int port, const char *param);

/* The action of an id: its argument count (0: no action), usage text and
 * handler through the pointers given. */
int iop_action(int id, const char **usage, int (**handler)(int, const char *));

/* One file line of len bytes (no terminator needed): the leading decimal id
 * and the text after the first blank, without the newline, into param of
 * IOP_PARAM_MAX + 1 bytes. 0, or -1 for a line with no usable action (too
 * long, no id, an id without an action, a parameter text too long). */
int iop_parse_line(const char *line, size_t len, int *id, char *param);

/* A fix file's path from a typed name: "/etc/config/iop/NAME.iop" with the
 * prefix and extension added where missing, as apply and list do
 * (with_prefix_always 0) or as update does (1). 0, or -1 for a name that
 * would leave the directory or does not fit. */
int iop_resolve_path(const char *name, int with_prefix_always, char *path, size_t capacity);

/* Where the fix files live; tests move it. Ends with '/'. */
extern const char *iop_config_dir;

#ifdef __cplusplus
}
#endif

#endif
