/*
 * Far-end words through the chip's mailbox: the request (tag, address,
 * count) goes into 2.1.123 and the command word 2.1.87; the chip answers
 * "51" in 2.1.87 with the tag in 2.1.91 and the word in 2.1.94, or "49"
 * when it cannot.
 */
#include "vdsl_priv.h"

#define OID_MBOX_REQUEST "2.1.123"
#define OID_MBOX_COMMAND "2.1.87"
#define OID_MBOX_TAG "2.1.91"
#define OID_MBOX_DATA "2.1.94"
#define MBOX_READ_REMOTE "81407d"
#define MBOX_ATTEMPTS 3
#define MBOX_POLLS 10
#define MBOX_POLL_MS 50
#define TAG_BASE 0x200000u

static u32 remote_tag = 128;

static u32 next_tag(void)
{
	if (remote_tag < 128)
		remote_tag = 129;
	else if (remote_tag >= 1000000)
		remote_tag = 128;
	else
		remote_tag++;
	return TAG_BASE + remote_tag;
}

void vdsl_remote_init(void)
{
	remote_tag = 128;
}

/* One attempt: 0 when the chip answered our tag, else the retry code, or
 * -1 when the request could not be written. */
static int mbox_attempt(int port, u32 addr, u8 *answer)
{
	char request[19];
	u32 tag = next_tag();
	int poll, code = 1;

	snprintf(request, sizeof(request), "%06x%06x%06x", tag & 0xFFFFFF, addr & 0xFFFFFF, 1);
	if (mib_write_logic(port, OID_MBOX_REQUEST, request) ||
	    mib_write_logic(port, OID_MBOX_COMMAND, MBOX_READ_REMOTE))
		return -1;
	if (mib_read_logic(port, OID_MBOX_COMMAND, answer))
		return 2;
	for (poll = 0; poll < MBOX_POLLS; poll++) {
		const char *status = (const char *)answer + 2;

		if (status[0] == '5' && status[1] == '1') {
			if (mib_read_logic(port, OID_MBOX_TAG, answer))
				return 4;
			/* Our tag: done; another request's answer: keep polling. */
			if (mib_answer_word(answer, 0) == tag)
				return 0;
			code = 3;
		} else if (status[0] == '4' && status[1] == '9') {
			return 5;
		} else {
			msleep(MBOX_POLL_MS);
		}
		if (poll + 1 < MBOX_POLLS && mib_read_logic(port, OID_MBOX_COMMAND, answer))
			return 2;
	}
	return code;
}

/* Runs under the caller's chip semaphore. */
int gpmr_bdy(int port, u32 addr, u8 *word)
{
	u8 *answer;
	int attempt, rc;

	if (vdsl_port_refused(port))
		return VDSL_ERR_FAILED;
	if (vdsl_port_disabled(port)) {
		PRINTL(PL_PARAM, "Port %i: Port disabled\n", port);
		return VDSL_ERR_FAILED;
	}
	answer = kmalloc(2048, GFP_KERNEL);
	if (!answer)
		return -ENOMEM;
	rc = VDSL_ERR_FAILED;
	for (attempt = 1; attempt <= MBOX_ATTEMPTS; attempt++) {
		int code = mbox_attempt(port, addr, answer);

		if (code < 0) {
			rc = VDSL_ERR_NOT_FOUND;
			break;
		}
		if (code == 0) {
			u32 v;

			rc = mib_read_logic(port, OID_MBOX_DATA, answer);
			if (rc == 0) {
				v = mib_answer_word(answer, 0);
				word[0] = (v >> 16) & 0xFF;
				word[1] = (v >> 8) & 0xFF;
				word[2] = v & 0xFF;
			}
			break;
		}
		PRINTL(PL_ERR, "gpmr_bdy: retry %d, res %x\n", attempt, code);
	}
	kfree(answer);
	return rc;
}

int get_port_mem_remote(int port, u32 addr, u8 *word)
{
	int rc;

	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	rc = gpmr_bdy(port, addr, word);
	up(&vdsl_chip_sem);
	return rc;
}
