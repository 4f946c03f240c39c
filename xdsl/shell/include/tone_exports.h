/* Per-tone exports of a trained line: HLIN, HLOG, QLN, SNR and the bit and
 * gain allocation, shown on the terminal, written as one export file per
 * kind into the directory of SCSTATUS_DIR and, when a copy stream is given,
 * copied into it. */
#ifndef DRUVEL_TONE_EXPORTS_H
#define DRUVEL_TONE_EXPORTS_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Room for an export file's path, terminating zero included: a directory
 * that leaves no room for the file name gets no file. */
#define TONE_EXPORT_PATH_SIZE 100

/* 0, or the failing request's result. refresh 0 asks the chip for fresh
 * segments first; any other value reads what the chip holds. */
int export_hlin(int port, FILE *copy);
int export_hlog(int port, FILE *copy, int refresh);
int export_qln(int port, FILE *copy, int refresh);
int export_snr(int port, FILE *copy, int refresh);
/* 0; 1 when a segment selection or read failed; or the socket reopen's result. */
int export_bits_alloc(int port, FILE *copy);
int export_gain_alloc(int port, FILE *copy);

#ifdef __cplusplus
}
#endif

#endif
