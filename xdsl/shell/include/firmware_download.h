/* Bringing firmware into the chip: the chunk requests of the driver and the
 * download of an image and the binary driver image from the package. */
#ifndef DRUVEL_FIRMWARE_DOWNLOAD_H
#define DRUVEL_FIRMWARE_DOWNLOAD_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Data bytes of one chunk of the binary driver image or a flash file. */
#define FIRMWARE_CHUNK_SIZE 512

int firmware_download_chunk(int port, int phase, unsigned length);
int bindrv_load_chunk(int phase, unsigned length, const unsigned char *data);
int flash_write_chunk(int phase, unsigned length, const unsigned char *data);
int package_download(int port, unsigned id, const char *boot_if, const char *mac);

#ifdef __cplusplus
}
#endif

#endif
