/* The board's service record as the boot interface's network driver hands
 * it out: five text fields at fixed places. */
#ifndef DRUVEL_SERVICE_INFO_H
#define DRUVEL_SERVICE_INFO_H

#ifdef __cplusplus
extern "C" {
#endif

#define SERVICE_INFO_SIZE 200

/* The record into a buffer of SERVICE_INFO_SIZE bytes: 0, or 100. */
int get_service_info(unsigned char *record);

#ifdef __cplusplus
}
#endif

#endif
