/* EBM chip boot: the boot loader's frames on the boot interface, the
 * interfaces and boot MAC address from the configuration manager, the
 * management interface handed to the driver, and the chip's reset line. */
#ifndef DRUVEL_EBM_BOOT_H
#define DRUVEL_EBM_BOOT_H

#include <stdint.h>
#include <stdio.h>
#include <net/if.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An interface name as the kernel keeps it, with its zero byte. */
#define EBM_IFNAME_SIZE IFNAMSIZ
/* A MAC address text "xx:xx:xx:xx:xx:xx" with its zero byte. */
#define EBM_MAC_TEXT_SIZE 18
/* Data words of one boot record: what a 252-byte frame area carries. */
#define EBM_RECORD_WORDS_MAX 76

/* Reply kinds of wait_boot_reply. */
enum ebm_reply_kind { EBM_REPLY_START, EBM_REPLY_INIT, EBM_REPLY_DATA, EBM_REPLY_FINISH, EBM_REPLY_STOP };

/* Which value read_ebm_config reads. */
enum ebm_config_key { EBM_BOOT_IF, EBM_MGT_IF, EBM_BOOT_MAC };

int ebm_boot(int port, const char *ifname, const char *mac_text, FILE *image, long start, long length);
/* One frame within a second, checked as boot_reply_accepted does: 0 or 100. */
int wait_boot_reply(int fd, int kind, const unsigned char *mac, unsigned char seq);
/* The next 24-bit word; *remaining counts the bytes down (-1 after the end
 * of the file). */
uint32_t read_word24(FILE *image, long *remaining);
/* 0, or -1 when it cannot be read or is empty; a value that does not fit
 * capacity is refused with a message. */
int read_ebm_config(int port, int which, char *buffer, size_t capacity);
int set_mgt_iface(int port, const char *ifname);
/* boot_if: EBM_IFNAME_SIZE bytes; mac: EBM_MAC_TEXT_SIZE bytes or none. */
int choose_ebm_interfaces(int port, char *boot_if, char *mac);
int socket_ioctl_reset(int port, int mode);
int chip_reset(int port, int mode);

/* Whether a received frame answers the boot request of its kind; mac null
 * stands for the default boot MAC address (port index 0). */
int boot_reply_accepted(int kind, const unsigned char *frame, size_t length, const unsigned char *mac,
                        unsigned char seq);

#ifdef __cplusplus
}
#endif

#endif
