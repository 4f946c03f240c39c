/*
 * Host commands: a command number written as text into entry 2.1.7, then
 * the "go" flag 2.1.8, which the chip clears when it has taken the command.
 * The port operations built on them keep the port's state record.
 */
#include "vdsl_priv.h"

#define OID_HOST_COMMAND "2.1.7"
#define OID_HOST_GO "2.1.8"
#define OID_PHY_STATUS "2.1.5"
#define GO_POLLS 100
#define GO_POLL_MS 20
#define CONNECT_TRIES 10
#define SETTLE_MS 500

u32 mib_answer_word(const u8 *answer, int k)
{
	char digits[7];

	memcpy(digits, answer + 2 + 6 * k, 6);
	digits[6] = 0;
	return (u32)simple_strtoul(digits, NULL, 16);
}

/* Runs under the caller's chip semaphore. */
int issue_host_command(int port, const char *command)
{
	u8 *answer = kmalloc(MIB_ANSWER_SIZE, GFP_KERNEL);
	int rc, polls = 0;

	if (!answer)
		return -ENOMEM;
	for (;;) {
		rc = mib_read_logic(port, OID_HOST_GO, answer);
		if (rc)
			goto out;
		if (mib_answer_word(answer, 0) == 0)
			break;
		if (++polls == GO_POLLS) {
			PRINTL(PL_ERR, "Issue host command failed!!\n");
			rc = VDSL_ERR_FAILED;
			goto out;
		}
		msleep(GO_POLL_MS);
	}
	rc = mib_write_logic(port, OID_HOST_COMMAND, command);
	if (!rc)
		rc = mib_write_logic(port, OID_HOST_GO, "1");
out:
	kfree(answer);
	return rc;
}

static void set_state(int port, u8 state)
{
	if (port >= 0 && port < MAX_PORTS)
		port_info[port].state = state;
}

/* Command "0": stop and initialise the port, then let it settle. */
static int stop_port(int port, int interruptible)
{
	int rc;

	if (interruptible) {
		if (down_interruptible(&vdsl_chip_sem))
			return -ERESTARTSYS;
	} else {
		down(&vdsl_chip_sem);
	}
	rc = issue_host_command(port, "0");
	PRINTL(PL_ERR, "disconnect_port return %i\n", rc);
	if (rc == 0)
		set_state(port, VDSL_STATE_IDLE);
	msleep(SETTLE_MS);
	up(&vdsl_chip_sem);
	return rc;
}

int init_modem(int port)
{
	return stop_port(port, 1);
}

int reset_modem(int port)
{
	return stop_port(port, 1);
}

int shutdown_chip(int port)
{
	return stop_port(port, 0);
}

int shutdown_system(int port)
{
	stop_port(port, 0);
	return 0;
}

int disconnect_port(int port)
{
	int rc;

	down(&vdsl_chip_sem);
	rc = issue_host_command(port, "4");
	PRINTL(PL_ERR, "disconnect_port return %i\n", rc);
	if (rc == 0)
		set_state(port, VDSL_STATE_IDLE);
	connect_status = 0;
	up(&vdsl_chip_sem);
	return rc;
}
EXPORT_SYMBOL(disconnect_port);

int enable_loopback(int port)
{
	int rc;

	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	if (issue_host_command(port, "4") == 0) {
		set_state(port, VDSL_STATE_IDLE);
		connect_status = 0;
	}
	rc = issue_host_command(port, "5");
	PRINTL(PL_ERR, "enable_loopback return %i\n", rc);
	up(&vdsl_chip_sem);
	return rc;
}

int disable_loopback(int port)
{
	int rc;

	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	rc = issue_host_command(port, "6");
	PRINTL(PL_ERR, "disable_loopback return %i\n", rc);
	up(&vdsl_chip_sem);
	return rc;
}

/*
 * Command "3", then the line phase; repeated until the chip has left idle.
 * The port counts as handshaking whatever the chip did.
 */
int connect_port(int port)
{
	u8 *answer = kmalloc(MIB_ANSWER_SIZE, GFP_KERNEL);
	int rc = 0, tries;

	if (!answer)
		return -ENOMEM;
	if (down_interruptible(&vdsl_chip_sem)) {
		kfree(answer);
		return -ERESTARTSYS;
	}
	/* A port in reset stays there: it must not look as if it trained. */
	if (vdsl_port_refused(port) || vdsl_port_disabled(port)) {
		rc = VDSL_ERR_FAILED;
		goto out;
	}
	for (tries = 0; tries < CONNECT_TRIES; tries++) {
		PRINTL(PL_ERR, "connect_port return %i\n", issue_host_command(port, "3"));
		msleep(SETTLE_MS);
		rc = mib_read_logic(port, OID_PHY_STATUS, answer);
		if (rc == 0) {
			u32 v = mib_answer_word(answer, 0);

			PRINTL(PL_PORT, "Phystatus = 0x%08x\n", v);
			if ((v >> 8) & 3)
				break;
		}
	}
	set_state(port, VDSL_STATE_HANDSHAKE);
	connect_status = 1;
out:
	up(&vdsl_chip_sem);
	kfree(answer);
	return rc;
}
EXPORT_SYMBOL(connect_port);
