/* "scstatussegment" (per-tone data on the terminal, or in silent mode into
 * files under /tmp served in pages) and "delt" (the chip's loop diagnostic). */
#ifndef DRUVEL_SEGMENT_STATUS_H
#define DRUVEL_SEGMENT_STATUS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes of one page of a paged data file. */
#define SEGMENT_PAGE_SIZE 5000

/* 0 when text is one of "hlinear", "hlog", "qln", "snr", "bitsalloc",
 * "gainalloc" (ignoring case), else 1. */
int is_segment_name(const char *text);

#ifdef __cplusplus
}
#endif

#endif
