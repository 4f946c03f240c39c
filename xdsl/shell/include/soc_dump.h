/* "util dumpsoc": one long unattended run that collects what support needs
 * for a line that does not come up, into /tmp/dumpsoc.txt, with memory dumps
 * in /tmp/dumpsoc.mem.N.txt. */
#ifndef DRUVEL_SOC_DUMP_H
#define DRUVEL_SOC_DUMP_H

#ifdef __cplusplus
extern "C" {
#endif

/* The chip's interoperability words under "Additional Mibs :". */
void show_iop_additional_mibs(int port);
/* Per-tone status, line status, G.INP tables, the interoperability words
 * and the failure reason of port index port. */
void dump_scstatus(int port);
/* Watching for errors: on sets CfgDisableRecovery to 0x0000fd around a
 * disconnect, off back to 0; the port is connected again in both cases. */
void set_disable_recovery(int port, int on);

#ifdef __cplusplus
}
#endif

#endif
