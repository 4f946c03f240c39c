/*
 * The port's state record and the status queries.
 */
#include "vdsl_priv.h"

struct vdsl_port_info port_info[MAX_PORTS];
u8 connect_status;

void init_port_info(void)
{
	memset(port_info, 0, sizeof(port_info));
	port_info[0].state = VDSL_STATE_DISABLE;
	connect_status = 0;
}

int vdsl_port_disabled(int port)
{
	return port < 0 || port >= MAX_PORTS || port_info[port].state == VDSL_STATE_DISABLE;
}

void set_status_idle_chip(int port)
{
	if (port >= 0 && port < MAX_PORTS)
		port_info[port].state = VDSL_STATE_IDLE;
}

int get_op_status(int port, u8 *state)
{
	if (check_param(1, port))
		return VDSL_ERR_FAILED;
	*state = port_info[port].state;
	return 0;
}

/* Bits 9-8 of the physical status entry give the line phase. */
int get_phy_status(int port, u8 *state, u8 *connected)
{
	int rc = 0;

	if (check_param(1, port))
		return VDSL_ERR_FAILED;
	if (port_info[port].state == VDSL_STATE_DISABLE) {
		if (state)
			*state = VDSL_STATE_DISABLE;
	} else if (state) {
		if (in_interrupt()) {
			*state = port_info[port].state;
		} else {
			u8 *answer = kmalloc(MIB_ANSWER_SIZE, GFP_KERNEL);

			if (!answer)
				return -ENOMEM;
			vdsl_busy_take();
			rc = get_port_data_logic(port, "2.1.5", answer);
			if (rc) {
				*state = VDSL_STATE_ERROR;
			} else {
				u32 v = (u32)simple_strtoul((const char *)answer + 2, NULL, 16);

				PRINTL(PL_PORT, "Phystatus = 0x%08x\n", v);
				*state = VDSL_STATE_IDLE + ((v >> 8) & 3);
			}
			vdsl_busy_release();
			kfree(answer);
		}
	}
	if (connected)
		*connected = connect_status;
	return rc;
}
EXPORT_SYMBOL(get_phy_status);
