/*
 * vdsl: the xDSL chip driver. Its character device /dev/vdsl (major 109)
 * takes one ioctl per request with a plain request number and the caller's
 * vdsl_ioctl_block; this header is the contract between the driver and the
 * processes that use it, and the functions it exports to other kernel code.
 */
#ifndef VDSL_H
#define VDSL_H

#define VDSL_DEVICE_PATH "/dev/vdsl"
#define VDSL_MAJOR 109
#define VDSL_VERSION "1.7.9-37"
#define VDSL_BUILD_STAMP "201904102211"
#define MAX_PORTS 1

/* vdsl_ioctl_block: the driver reads the first 64 bytes of every block;
 * MIB requests use the whole 1080 bytes. */
#define VDSL_BLOCK_HEAD 64
#define VDSL_BLOCK_SIZE 1080
/* Longest OID text, without its zero byte. */
#define VDSL_OID_MAX 511

/* Request numbers. */
#define VDSL_INIT_MODEM 0x7602
#define VDSL_RESET_MODEM 0x7603
#define VDSL_CONNECT_PORT 0x7605
#define VDSL_DISCONNECT_PORT 0x7606
#define VDSL_CLEAR_PORT_STATS 0x7607
#define VDSL_SHUTDOWN_SYSTEM 0x7608
#define VDSL_SHUTDOWN_CHIP 0x7609
#define VDSL_GET_MIB 0x7610
#define VDSL_SET_MIB 0x7611
#define VDSL_PHY_STATUS 0x7614
#define VDSL_OP_STATUS 0x7615
#define VDSL_DRIVER_VERSION 0x7616
#define VDSL_TRANS_MIB_ADDR 0x7617
#define VDSL_RETRAIN_LOG 0x7618
#define VDSL_GET_MEM 0x7623
#define VDSL_SET_MEM 0x7624
#define VDSL_GET_DATA 0x7625
#define VDSL_SET_DATA 0x7626
#define VDSL_GET_DATA_LOGIC 0x7627
#define VDSL_SET_DATA_LOGIC 0x7628
#define VDSL_GET_MEM_REMOTE 0x7629
#define VDSL_MIB2_INFO 0x762B
#define VDSL_SET_THREAD_DELAY 0x762F
#define VDSL_SET_DEBUG_LEVEL 0x7630
#define VDSL_DOWNLOAD_FIRMWARE 0x7632
#define VDSL_LOAD_BINDRV 0x7633
#define VDSL_FLASH_FIRMWARE 0x7634
#define VDSL_BUS_MARK_1 0x7637
#define VDSL_BUS_MARK_2 0x7638
#define VDSL_CHECK_BINDRV 0x7639
#define VDSL_RESET_CHIP 0x7640
#define VDSL_RESET_CHIP_HIGH 0x7641
#define VDSL_RESET_CHIP_LOW 0x7642
#define VDSL_AUTO_RESET 0x7643
#define VDSL_HPI_TEST 0x7644
#define VDSL_HPI_TEST_READ 0x7645
#define VDSL_HPI_TEST_WRITE 0x7646
#define VDSL_SET_DELAY 0x7647
#define VDSL_HPI_TEST_READ_FIXSIZE 0x7648
#define VDSL_GPIO_TEST 0x7650
#define VDSL_EBM_ACCESS 0x7651
#define VDSL_GET_MIB32 0x7655
#define VDSL_SET_MGT_IFACE 0x7660
#define VDSL_GET_MIB32_B 0x7670
#define VDSL_CLEAR_MIB32 0x7671
#define VDSL_GET_MEM_SK 0x7681
#define VDSL_SET_MEM_SK 0x7682
#define VDSL_REOPEN_SOCKET 0x7685
#define VDSL_LOOPBACK_ON 0x76018
#define VDSL_LOOPBACK_OFF 0x76019

/* Positive driver results. */
#define VDSL_ERR_FAILED 100
#define VDSL_ERR_GROUP 102
#define VDSL_ERR_TABLE 103
#define VDSL_ERR_ITEM 104
#define VDSL_ERR_INDEX 105
#define VDSL_ERR_NO_BINDRV 112
#define VDSL_ERR_BINDRV_SIGNATURE 113
#define VDSL_ERR_BINDRV_SOURCE 115
#define VDSL_ERR_NOT_FOUND 118
#define VDSL_ERR_TOO_LONG 119
#define VDSL_ERR_VALUE_LENGTH 120
/* Negative results beyond the usual kernel codes. */
#define VDSL_ERR_OID_TOO_LONG (-117)
#define VDSL_ERR_NO_SOCKET (-127)
#define VDSL_ERR_PORT_ONE (-108)

/* Operational states of a port. */
#define VDSL_STATE_DISABLE 1
#define VDSL_STATE_IDLE 2
#define VDSL_STATE_HANDSHAKE 3
#define VDSL_STATE_TRAINING 4
#define VDSL_STATE_SHOWTIME 5
#define VDSL_STATE_ERROR 6

/* Binary driver image. */
#define VDSL_BINDRV_MAX 16384

#endif
