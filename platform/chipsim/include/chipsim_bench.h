/*
 * The test bench's wiring to the simulated chip: besides the Ethernet link,
 * the board wires the chip's reset line to the boot interface's network
 * driver. On this host both travel over the same link as bench frames of
 * their own ethertype, which the simulator answers.
 */
#ifndef CHIPSIM_BENCH_H
#define CHIPSIM_BENCH_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CHIPSIM_BENCH_ETHERTYPE 0x88B5

/* Sends a bench command out of ifname and waits up to timeout_ms for the
 * simulator's answer, copied to reply. 0 when the answer starts with
 * "ok", 1 for any other answer, -1 when none came or the link failed. */
int chipsim_bench_command(const char *ifname, const char *command, char *reply, size_t cap, int timeout_ms);

/* What the boot interface's driver does for its private reset requests:
 * high != 0 drives the chip's reset line high, 0 low. 0 or -1. */
int chipsim_reset_line(const char *ifname, int high);

/* What the boot interface's driver does for its service record request:
 * the board's record of size bytes into record. 0 or -1. */
int chipsim_service_record(const char *ifname, unsigned char *record, size_t size);

#ifdef __cplusplus
}
#endif

#endif
