/*
 * EBM management frames between the driver and the xDSL chip, and the
 * chip's fixed addresses. Shared by the driver and whatever stands in the
 * chip's place.
 */
#ifndef VDSL_EBM_H
#define VDSL_EBM_H

/* Ethertype of management and boot frames. */
#define EBM_ETHERTYPE 0x6120

/* ebm_frame: destination, source, ethertype, 0x00 0x07, ebm_request. */
#define EBM_FRAME_LEN 24
#define EBM_REQUEST_OFFSET 16
#define EBM_REQUEST_LEN 8

/* ebm_request byte 0. */
#define EBM_REQ_PORT_SHIFT 6
#define EBM_REQ_WRITE 0x20
#define EBM_REQ_MEM_SHIFT 3
#define EBM_REQ_SEQ_MASK 0x07

/* The chip's fixed management MAC address; the last byte is that of port
 * index 0, port index 1 answers at the next higher value. */
#define EBM_CHIP_MGMT_MAC { 0x02, 0x00, 0xEB, 0x00, 0x00, 0x00 }
/* The chip's boot MAC address when none is configured (same port rule). */
#define EBM_CHIP_DEFAULT_BOOT_MAC { 0x02, 0x00, 0xEB, 0xB0, 0x07, 0x00 }

/* Chip memories carried in the memory type bits. */
#define EBM_MEM_X 0
#define EBM_MEM_Y 1
#define EBM_MEM_P 2

#endif
