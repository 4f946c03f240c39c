/*
 * Board hooks. This board wires no GPIO lines, reset line or HPI window to
 * the driver: the chip is reached only through EBM frames, and its reset
 * line through the boot interface's network driver. The hooks are empty.
 */
#include "vdsl_priv.h"

static void config_gpiomode(void) {}
static void config_gpiodir(void) {}
static void config_addr(void) {}
static void config_misc(void) {}

void soc_vdsl_misc_init(void)
{
	config_gpiomode();
	config_gpiodir();
	config_addr();
	config_misc();
}

void soc_cleanup(void) {}
void soc_set_gpioval(u32 mask) { (void)mask; }
void soc_clr_gpioval(u32 mask) { (void)mask; }
void soc_set_gpiodir_out(u32 mask) { (void)mask; }
void soc_set_gpiodir_in(u32 mask) { (void)mask; }
void soc_delay_after_reset_chip(void) {}

volatile u8 *soc_get_hpi_addr(int port)
{
	(void)port;
	return NULL;
}

/* The chip's bus window (garnel_port); not mapped on this board. */
volatile u8 *soc_get_bus_window(void)
{
	return NULL;
}
