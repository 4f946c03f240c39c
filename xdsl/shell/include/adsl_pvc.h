/* ADSL PVCs: the eight PVC records and the default PVC, kept as
 * configuration keys and written into the chip's SAR entries (MIB group 2,
 * table 1). */
#ifndef DRUVEL_ADSL_PVC_H
#define DRUVEL_ADSL_PVC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ADSL_PVC_COUNT 8

struct adsl_pvc {
    uint8_t vpi;
    uint16_t vci;
    uint16_t vlan_id;
    uint16_t tx_vlan_id;
    uint16_t rx_vlan_id;
    uint8_t priority;
    uint8_t encapsulation;
    uint8_t crc_option;
    uint8_t tx_vlan_op;
    uint8_t rx_vlan_op;
    uint8_t atm_qos;
    uint32_t pcr;
    uint32_t scr;
    uint32_t mbs;
    uint8_t activation;
};

extern struct adsl_pvc adsl_pvcs[ADSL_PVC_COUNT];
extern int adsl_default_pvc;

/* 0, or 100 when a stored record ended before its last field. */
int load_adsl_pvcs(void);
void set_pvc_minimum(int pvc);

/* SAR writers: the last write's result (or a failed read's). */
int write_sar_mappers(int port, int pvc, unsigned vpi, unsigned vci);
int set_mapping_sarvlan(int port, int pvc, unsigned vlan_id, unsigned encapsulation);
int set_seg_proc(int port, int pvc, unsigned encapsulation, unsigned crc_option);
int set_ream_proc(int port, int pvc, unsigned encapsulation, unsigned crc_option);
int set_sar_qos(int port, int pvc, unsigned qos, unsigned pcr, unsigned scr);
int write_sar_seg_proc(int port, int pvc, unsigned tx_vlan_id, unsigned tx_vlan_op);
int write_sar_ream_proc(int port, int pvc, unsigned rx_vlan_id, unsigned rx_vlan_op);
int write_sar_vlan_fr(int port);
int write_sar_pvc_select(int port);
int set_tw_config2(int port);
int write_qos_fr(int port);
/* A PVC's own SAR entries from its record, with or without its VLAN
 * operations; set_sar_qos's result. */
int write_pvc_entries(int port, int pvc, int with_vlan_ops);
/* The ADSL re-apply sequence after a chip start; set_tw_config2's result. */
int adsl_reapply_settings(int port);

#ifdef __cplusplus
}
#endif

#endif
