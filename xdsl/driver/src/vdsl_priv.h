/* Shared between the driver's source files. */
#ifndef VDSL_PRIV_H
#define VDSL_PRIV_H

#include "vdsl_os.h"

#include "vdsl.h"
#include "vdsl_ebm.h"

/* ---- module-wide state (vdsl_main.c) ---- */
extern struct semaphore vdsl_req_sem;  /* a whole request; the netdevice notifier */
extern struct semaphore vdsl_chip_sem; /* one exchange sequence with the chip */
extern u32 debug_level;
extern unsigned char auto_reset;
extern u32 thread_delay;
extern u32 DELAY;

/* Debug print: only when mask shares a bit with debug_level. */
void PRINTL(u32 mask, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
#define PL_ERR 0x00000001u
#define PL_PORT 0x00000008u
#define PL_MAP 0x00000040u
#define PL_FW 0x00000080u
#define PL_PARAM 0x80000001u
#define PL_FATAL 0x7FFFFFFFu

/* 0 for port index 0, else -5 after "Invalid portid=%i". */
int check_param(int kind, int port);
/* check_param for a request handler: 100 after "Error Code = %i". */
int vdsl_port_refused(int port);

/* The chip-access busy flag, taken before the chip semaphore. */
void vdsl_busy_take(void);
void vdsl_busy_release(void);

/* ---- port state (vdsl_port.c) ---- */
struct vdsl_port_info {
	u8 state;
	u8 intv15_valid[12];
	u32 intv1d_valid;
	u32 retrain_count;
};
extern struct vdsl_port_info port_info[MAX_PORTS];
extern u8 connect_status;
void init_port_info(void);
int get_op_status(int port, u8 *state);
void set_status_idle_chip(int port);
int vdsl_port_disabled(int port);

/* ---- EBM frames (vdsl_ebm.c) ---- */
extern char ebm_mgt_ethif[16];
u16 ebm_fcs16(const u8 *data, int len);
int new_dsp_get(int port, u32 addr, int mem, u8 *word);
int new_dsp_set(int port, u32 addr, int mem, const u8 *word);
int new_dsp_get_sk(int port, u32 addr, int mem, u8 *word);
int new_dsp_set_sk(int port, u32 addr, int mem, const u8 *word);
int sv_sk_open(void);
void sv_sk_close(void);
void sv_sk_set_shutdown(int on);
int vdsl_netdev_register(void);
void vdsl_netdev_unregister(void);
void ebm_reset_sequence(void);

/* ---- board hooks (vdsl_board.c) ---- */
void soc_vdsl_misc_init(void);
void soc_cleanup(void);
void soc_set_gpioval(u32 mask);
void soc_clr_gpioval(u32 mask);
void soc_set_gpiodir_out(u32 mask);
void soc_set_gpiodir_in(u32 mask);
void soc_delay_after_reset_chip(void);
volatile u8 *soc_get_hpi_addr(int port);
volatile u8 *soc_get_bus_window(void);

/* ---- chip reset and self tests (vdsl_chip.c) ---- */
int reset_chip(int port);
int reset_chip_high(int port);
int reset_chip_low(int port);
int hpi_test(int port);
int hpi_test_write_only(int port);
int hpi_test_read_only(void);
int hpi_test_read_only_fixsize(int port);
void vdsl_gpio_test(const u8 *b);
void vdsl_bus_mark(u32 offset);

/* ---- binary driver image (vdsl_image.c) ---- */
extern u8 bd_image[VDSL_BINDRV_MAX];
extern u32 bd_len;
extern u16 add_start[100];
extern u32 add_start_count;
u32 bd_word(u32 n);
int bd_append(const u8 *data, u32 len);
int bd_layout_check(void);
int trans_mib_addr(int group, int table, int row, int item, u32 *addr);

/* ---- firmware start and image check (vdsl_firmware.c) ---- */
void vdsl_firmware_init(void);
int download_firmware(int port, int phase, u32 len, const u8 *data);
int load_firmware_bindrv(int phase, u32 len, const u8 *data);
int check_binary_driver(int port);
int get_mib2_header(int port);
int calibrate_interval_time(void);

/* ---- MIB entries and chip words (vdsl_mib.c) ---- */
/* The MIB answer: status, word count, six hex digits a word, zero byte. */
#define MIB_ANSWER_SIZE 1083
#define MIB_MAX_WORDS 180
void oid2gtip(const char *oid, int *group, int *table, int *item, int *index, int *interval);
int mib_dimension_check(int group, int table, int item, int index);
int mib_read_logic(int port, const char *oid, u8 *answer);
int mib_write_logic(int port, const char *oid, const char *value);
int get_port_data_logic(int port, const char *name, u8 *answer);
int set_port_data_logic(int port, const char *name, const char *value);
int set_port_mib(int port, const char *oid, const char *value);
int get_mib2_info(const char *oid, u32 *addr, u32 *count, u32 *mem);
int get_port_mem(int port, u32 addr, int mem, u8 *word);
int set_port_mem(int port, u32 addr, int mem, const u8 *word);
int get_port_mem_sk(int port, u32 addr, int mem, u8 *word);
int set_port_mem_sk(int port, u32 addr, int mem, const u8 *word);
void mib_answer_preset(u8 *answer);
/* First word (k = 0) or word k of a MIB answer's value text. */
u32 mib_answer_word(const u8 *answer, int k);
int mib_table_dims(int group, int table, int *rows, int *items);
/* Port, dimension, state and image checks of a logic OID. */
int mib_entry_checks(int port, const char *oid, int *g, int *t, int *i, int *idx);
/* mib_read_logic without far-end entries. */
int mib_read_near(int port, const char *oid, u8 *answer);
/* The image table that holds the SELT status entry. */
#define SELT_GROUP 7
#define SELT_TABLE 32

/* ---- retransmission limits (vdsl_threshold.c) ---- */
int threshold_check(int port, const char *name, const char *value);

/* ---- standard OIDs (vdsl_stdoid.c) ---- */
int std_oid_rewrite(const char *std, char *out);
int get_port_data(int port, const char *std, u8 *answer);
int set_port_data(int port, const char *std, const char *value);

/* ---- far-end words (vdsl_remote.c) ---- */
void vdsl_remote_init(void);
int gpmr_bdy(int port, u32 addr, u8 *word);
int get_port_mem_remote(int port, u32 addr, u8 *word);

/* ---- host commands and port operations (vdsl_hostcmd.c) ---- */
int issue_host_command(int port, const char *command);
int init_modem(int port);
int reset_modem(int port);
int shutdown_chip(int port);
int shutdown_system(int port);
int enable_loopback(int port);
int disable_loopback(int port);

/* ---- PM counters (vdsl_counters.c) ---- */
long mib_handler_pmcounter(int port, int kind, int index);
int get_port_mib32(int port, const char *oid, u8 *answer);
int clear_port_mib32(int port, const char *oid);
int clear_port_stats(int port);
int get_retrain_log(int port, u32 *log31);
void counter32_reset_all(void);

/* ---- exported to other kernel code ---- */
#include "vdsl_kapi.h"

#endif
