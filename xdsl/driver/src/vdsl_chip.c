/*
 * Chip reset through the board hooks, and the diagnostic requests that
 * exercise them: HPI tests, GPIO test, bus window marks.
 */
#include "vdsl_priv.h"

#define SV_GPIO_SET(mask) soc_set_gpioval(mask)
#define SV_GPIO_CLR(mask) soc_clr_gpioval(mask)
/* The reset line's mask; a board with the line wired picks its pin. */
#define RESET_LINE_MASK 0

static const u8 hpi_pattern[8] = { 0x00, 0x6C, 0x31, 0x00, 0x00, 0x00, 0x45, 0x71 };

static void set_disabled(int port)
{
	if (port >= 0 && port < MAX_PORTS)
		port_info[port].state = VDSL_STATE_DISABLE;
}

int reset_chip(int port)
{
	if (port >= 2)
		return 1;
	SV_GPIO_SET(RESET_LINE_MASK);
	udelay(1000);
	SV_GPIO_CLR(RESET_LINE_MASK);
	udelay(1000);
	SV_GPIO_SET(RESET_LINE_MASK);
	soc_delay_after_reset_chip();
	/* One chip: whichever port was named, port 0 is reset. */
	set_disabled(0);
	return 0;
}

/* One level on the reset line; only port 0 has a state record. */
static int reset_line(int port, int high)
{
	if (port >= 2)
		return 1;
	if (high)
		SV_GPIO_SET(RESET_LINE_MASK);
	else
		SV_GPIO_CLR(RESET_LINE_MASK);
	set_disabled(port);
	return 0;
}

int reset_chip_high(int port)
{
	return reset_line(port, 1);
}

int reset_chip_low(int port)
{
	return reset_line(port, 0);
}

static void print_bytes(const char *title, const u8 *bytes, int n)
{
	int i;

	printk("%s", title);
	for (i = 0; i < n; i++)
		printk("%02x ", bytes[i]);
	printk("\n");
}

/* "HPI test", then the pattern written to the window; NULL without one. */
static volatile u8 *hpi_write_pattern(int port)
{
	volatile u8 *win = soc_get_hpi_addr(port);
	unsigned int i;

	printk("HPI test\n");
	if (!win)
		return NULL;
	for (i = 0; i < sizeof(hpi_pattern); i++)
		*win = hpi_pattern[i];
	print_bytes("Sent data:\n", hpi_pattern, sizeof(hpi_pattern));
	return win;
}

int hpi_test(int port)
{
	volatile u8 *win = hpi_write_pattern(port);
	u8 got[sizeof(hpi_pattern)];
	unsigned int i;

	if (!win)
		return -1;
	for (i = 0; i < sizeof(got); i++)
		got[i] = *win;
	print_bytes("Received data:\n", got, sizeof(got));
	return 0;
}

int hpi_test_write_only(int port)
{
	return hpi_write_pattern(port) ? 0 : -1;
}

int hpi_test_read_only_fixsize(int port)
{
	volatile u8 *win;
	u8 got[16];
	int i;

	printk("hpi_test_read_only_fixsize: Reading %i bytes\n", (int)sizeof(got));
	win = soc_get_hpi_addr(port);
	if (!win)
		return -1;
	for (i = 0; i < (int)sizeof(got); i++)
		got[i] = *win;
	print_bytes("Received data:\n", got, sizeof(got));
	return 0;
}

int hpi_test_read_only(void)
{
	u8 word[3];

	printk("HPI test\n");
	return new_dsp_get(0, 0, 0, word);
}

/* b0 pin, b1 type (1 direction, 2 level, 3 direction of no pin), b2 value. */
void vdsl_gpio_test(const u8 *b)
{
	int pin = b[0], type = b[1], value = b[2];
	u32 mask;

	/* A shift of 32 or more has no pin behind it. */
	if (pin >= 32) {
		printk("vdsl_gpio_test: invalid pin\n");
		return;
	}
	mask = 1u << pin;
	printk("vdsl_gpio_test: pin=%d hex=%x, type=%d, value=%d\n", pin, mask, type, value);
	if (type < 1 || type > 3) {
		printk("vdsl_gpio_test: invalid type\n");
		return;
	}
	if (value != 0 && value != 1) {
		printk("vdsl_gpio_test: invalid value\n");
		return;
	}
	switch (type) {
	case 1:
		if (value)
			soc_set_gpiodir_in(mask);
		else
			soc_set_gpiodir_out(mask);
		break;
	case 2:
		if (value)
			soc_set_gpioval(mask);
		else
			soc_clr_gpioval(mask);
		break;
	case 3:
		if (value)
			soc_set_gpiodir_in(0);
		else
			soc_set_gpiodir_out(0);
		break;
	}
}

/* Without a mapped window there is nothing to mark. */
void vdsl_bus_mark(u32 offset)
{
	volatile u8 *win = soc_get_bus_window();

	if (win)
		win[offset] = 0;
}
