/* Base types and export rules of libvx's C interface. */
#ifndef CMTYPES_H
#define CMTYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define VX_EXTERN_C extern "C"
#else
#define VX_EXTERN_C extern
#endif
#define VX_API VX_EXTERN_C __attribute__((visibility("default")))

/* One UTF-16 code unit in host order. */
typedef uint16_t CMWchar;

/* The stack's 64-bit value: two words, low first. */
typedef struct CMUint64 {
    uint32_t low;
    uint32_t high;
} CMUint64;

/* A signed 64-bit operand: the magnitude and a sign word (0xFFFFFFFF = negative). */
typedef struct CMInt64 {
    uint32_t low;
    uint32_t high;
    uint32_t sign;
} CMInt64;

/* The stack's own errno values: 0xff0000 plus a number. */
#define CM_ERRNO(n) (0xFF0000 + (n))
#define CM_ERR_GENERAL CM_ERRNO(0x0003) /* failure, not found, too long */
#define CM_ERR_EXISTS CM_ERRNO(0x0016)
#define CM_ERR_NOMEM CM_ERRNO(0x03F0)
#define CM_ERR_CTRL_FAILED CM_ERRNO(0x07D1)
#define CM_ERR_NO_ROOM CM_ERRNO(0x0829)
#define CM_ERR_CTRL_TIMEOUT CM_ERRNO(0x0BB7)
#define CM_ERR_DB_NOT_STARTED CM_ERRNO(0x0BCD)

#endif
