/*
 * Firmware start phases, binary driver loading and the lazy check of the
 * image against the running chip.
 */
#include "vdsl_priv.h"

#define CHIP_SIGNATURE 0x474154
#define CHIP_SIGNATURE_ADDR 0x6C36
#define FALLBACK_POINTER_ADDR 0x3F
#define TABLE_END_MARKER 0xEAEAEA
#define SIGNATURE_READS 20

static int bd_loaded;
static int hdr_check_pending = 1;

void vdsl_firmware_init(void)
{
	memset(bd_image, 0, sizeof(bd_image));
	bd_len = 0;
	bd_loaded = 0;
	hdr_check_pending = 1;
	add_start_count = 0;
}

static u32 word_value(const u8 *w)
{
	return (u32)w[0] << 16 | (u32)w[1] << 8 | w[2];
}

/* The firmware writes its signature word once it runs. */
static int check_signature(int port)
{
	u8 w[3] = { 0, 0, 0 };
	int i, rc = 0;

	PRINTL(PL_FW, "\n");
	msleep(100);
	for (i = 0; i < SIGNATURE_READS; i++) {
		rc = new_dsp_get(port, CHIP_SIGNATURE_ADDR, EBM_MEM_X, w);
		if (rc == 0)
			break;
		msleep(100);
	}
	if (rc) {
		PRINTL(PL_ERR, "Read signature timed out\n");
		PRINTL(PL_FATAL, "check_signature_() failed...\n");
		return rc;
	}
	if (word_value(w) != CHIP_SIGNATURE) {
		PRINTL(PL_ERR, "Bad signature: 0x%x (ret=%d)\n", word_value(w), 0);
		PRINTL(PL_FATAL, "check_signature_() failed...\n");
		return VDSL_ERR_FAILED;
	}
	set_status_idle_chip(port);
	PRINTL(PL_MAP, "set_mapper_ports_: map[%i] set to %x.\n", port, 1);
	return 0;
}

int download_firmware(int port, int phase, u32 len, const u8 *data)
{
	int rc = 0;

	(void)len;
	(void)data;
	if (vdsl_port_refused(port))
		return VDSL_ERR_FAILED;
	vdsl_busy_take();
	if (down_interruptible(&vdsl_chip_sem)) {
		vdsl_busy_release();
		return -ERESTARTSYS;
	}
	if (phase == 1) {
		if (auto_reset) {
			PRINTL(PL_ERR, "Resetting Chip...\n");
			rc = reset_chip(port);
			if (rc) {
				printk("Chip reset failed.\n");
				goto out;
			}
		}
		hdr_check_pending = 1;
		bd_loaded = 0;
	} else if (phase == 3) {
		rc = check_signature(port);
	}
out:
	up(&vdsl_chip_sem);
	vdsl_busy_release();
	return rc;
}

int load_firmware_bindrv(int phase, u32 len, const u8 *data)
{
	int rc;

	switch (phase) {
	case 1:
		/* A new image replaces the old one: nothing may read it half
		 * loaded, and it is checked again before its first use. */
		memset(bd_image, 0, sizeof(bd_image));
		bd_len = 0;
		bd_loaded = 0;
		hdr_check_pending = 1;
		return 0;
	case 2:
		return len ? bd_append(data, len) : 0;
	case 3:
		vdsl_busy_take();
		if (down_interruptible(&vdsl_chip_sem)) {
			vdsl_busy_release();
			return -ERESTARTSYS;
		}
		if (bd_layout_check()) {
			PRINTL(PL_ERR, "Binary Driver malformed (%u bytes)!!\n", bd_len);
			rc = VDSL_ERR_BINDRV_SIGNATURE;
		} else {
			bd_loaded = 1;
			rc = calibrate_interval_time();
			if (rc)
				PRINTL(PL_ERR, "Time calibration failed!!\n");
		}
		up(&vdsl_chip_sem);
		vdsl_busy_release();
		return rc;
	default:
		return 0;
	}
}

static int read_logged(int port, u32 addr, u8 *w, int step)
{
	int rc = new_dsp_get(port, addr, EBM_MEM_X, w);

	if (rc)
		PRINTL(PL_ERR, "DSP read %d failed (from 0x%x).\n", step, addr);
	PRINTL(PL_ERR, "from %x %02x %02x %02x\n", addr, w[0], w[1], w[2]);
	return rc;
}

/* 1 when the signature block at address is sound. */
static int check_source_address_(int port, u32 address)
{
	u8 w[3] = { 0, 0, 0 };
	u32 p, v;

	PRINTL(PL_ERR, "check_source_address_ %x for port %d\n", address, port);
	read_logged(port, address + 4, w, 1);
	p = word_value(w);
	read_logged(port, p + 5, w, 2);
	v = word_value(w);
	if (v != CHIP_SIGNATURE) {
		PRINTL(PL_ERR, "check_source_address_: xdslSorvaniSignature failed (%x)\n", v);
		return 0;
	}
	read_logged(port, address + 1, w, 3);
	v = word_value(w);
	if (w[0] != 0xEA) {
		PRINTL(PL_ERR, "check_source_address_: XdslMibTableEndMarker prefix failed (%x)\n", v);
		return 0;
	}
	read_logged(port, v & 0xFFFF, w, 4);
	v = word_value(w);
	if (v != TABLE_END_MARKER) {
		PRINTL(PL_ERR, "check_source_address_: XdslMibTableEndMarker failed (%x)\n", v);
		return 0;
	}
	PRINTL(PL_ERR, "check_source_address_: success\n");
	return 1;
}

/* Runs under the chip semaphore. */
int check_binary_driver(int port)
{
	u8 w[3] = { 0, 0, 0 };
	char chip_ver[8], image_ver[12];
	u32 base, i, count;
	int rc;

	if (!hdr_check_pending)
		return 0;
	if (!bd_loaded) {
		PRINTL(PL_ERR, "Binary Driver doesn't load!!\n");
		return VDSL_ERR_NO_BINDRV;
	}
	if (bd_len < 4 || memcmp(bd_image, "VROS", 4) != 0) {
		PRINTL(PL_ERR, "Binary Driver Signature mismatch!!\n");
		return VDSL_ERR_BINDRV_SIGNATURE;
	}

	rc = new_dsp_get(port, bd_word(4), EBM_MEM_X, w);
	snprintf(chip_ver, sizeof(chip_ver), "%02X%02X%02X", w[0], w[1], w[2]);
	snprintf(image_ver, sizeof(image_ver), "%06X", bd_word(3));
	/* A version mismatch alone is reported, not refused. */
	if (strncmp(chip_ver, image_ver, 6) != 0)
		PRINTL(PL_ERR, "mib version not compatiable!!\n");

	if (check_source_address_(port, bd_word(4))) {
		base = bd_word(6);
	} else {
		rc = new_dsp_get(port, FALLBACK_POINTER_ADDR, EBM_MEM_Y, w);
		if (rc || !check_source_address_(port, word_value(w)))
			return VDSL_ERR_BINDRV_SOURCE;
		base = word_value(w) + 9;
	}

	/* A table start that could not be read leaves the check pending: a
	 * wrong start would misplace every entry of its table. */
	count = bd_word(7);
	add_start_count = 0;
	for (i = 0; i < count; i++) {
		rc = new_dsp_get(port, base + i, EBM_MEM_X, w);
		if (rc)
			return rc;
		add_start[i] = (u16)(w[1] << 8 | w[2]);
	}
	add_start_count = count;
	hdr_check_pending = 0;
	return 0;
}

int get_mib2_header(int port)
{
	int rc;

	if (vdsl_port_refused(port))
		return VDSL_ERR_FAILED;
	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	rc = check_binary_driver(port);
	up(&vdsl_chip_sem);
	return rc;
}

/* Seconds left in the current 15-minute interval and in the day. */
int calibrate_interval_time(void)
{
	struct timeval now;
	struct tm tm;
	char text[16];
	long secs;

	if (port_info[0].state == VDSL_STATE_DISABLE) {
		PRINTL(PL_ERR, "Port%i disabled\n", 0);
		return 0;
	}
	do_gettimeofday(&now);
	if (now.tv_sec < 0) {
		printk("Time transform failed!\n");
		return -EINVAL;
	}
	time_to_tm(now.tv_sec, 0, &tm);
	secs = 900 - (tm.tm_min % 15) * 60 - tm.tm_sec;
	snprintf(text, sizeof(text), "%lx", secs);
	mib_write_logic(0, "2.1.13", text);
	secs = 86400 - tm.tm_hour * 3600 - tm.tm_min * 60 - tm.tm_sec;
	snprintf(text, sizeof(text), "%lx", secs);
	mib_write_logic(0, "2.1.14", text);
	return 0;
}
