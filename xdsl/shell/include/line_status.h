/* Line status displays and the failure-reason heading of the support dumps. */
#ifndef DRUVEL_LINE_STATUS_H
#define DRUVEL_LINE_STATUS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Prints the failure-reason heading of port index port and runs its
 * display from the root directory; the dispatcher's result. */
int print_failure_reason(int port);

#ifdef __cplusplus
}
#endif

#endif
