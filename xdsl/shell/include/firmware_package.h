/* The firmware package file: chip firmware images, the binary driver image,
 * the package version and the directory of system profiles. Every number in
 * the file is a package word (3 bytes, big-endian). The shell only reads it. */
#ifndef DRUVEL_FIRMWARE_PACKAGE_H
#define DRUVEL_FIRMWARE_PACKAGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FIRMWARE_PACKAGE_PATH "/lib/firmware/firmware_package.b"

/* Header fields (file offsets). */
#define PKG_DEFAULT_PROFILE 6
#define PKG_IMAGE_COUNT 9
#define PKG_PROFILE_COUNT 12
#define PKG_PROFILE_DIR 15
#define PKG_IMAGE_TABLE 39
#define PKG_VERSION 90
#define PKG_VERSION_SIZE 9
#define PKG_BINDRV_OFFSET 714
#define PKG_BINDRV_LENGTH 717
/* Images whose start and end words fit the header before the version. */
#define PKG_IMAGE_MAX 16

/* One profile directory entry: data offset, name length, name. */
#define PKG_DIR_ENTRY 72
#define PKG_NAME_MAX 72
/* A system profile name without its prefix, with its zero byte. */
#define SYSPROF_NAME_SIZE (PKG_NAME_MAX + 1)
/* A value text of a profile pair, with its zero byte. */
#define SYSPROF_VALUE_SIZE 1024

/* Where the package is read from; tests move it. */
extern const char *firmware_package_path;

int sysprof_find(const char *prefix, const char *name, const char *oid, char *value, size_t capacity);
int sysprof_apply(int port, const char *prefix, const char *name);
int apply_package_profile(int port, int number);
/* mode 0: the n-th name of the kind into name (SYSPROF_NAME_SIZE bytes);
 * mode 1: prints the kind's list. */
int sysprof_list(int mode, int n, const char *prefix, char *name);
int sysprof_exists(const char *prefix, const char *name);

/* The image table and the binary driver image: 0, or 100 after the
 * missing-file or malformed-package message. */
int package_image_count(uint32_t *count);
int package_image_span(uint32_t id, uint32_t *start, uint32_t *length);
int package_bindrv_span(uint32_t *start, uint32_t *length);
/* The 9 version bytes; zeros when the file is missing. */
void package_version(unsigned char version[PKG_VERSION_SIZE]);

#ifdef __cplusplus
}
#endif

#endif
