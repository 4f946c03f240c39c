/* Interim blob type for the cryptography while the memory layer is not in this branch. */
#ifndef CMCRYPTBLOB_H
#define CMCRYPTBLOB_H

#include <stdint.h>

typedef struct CMBlob {
    uint8_t *data; /* null when there is no data */
    uint32_t len;  /* bytes */
} CMBlob;

#endif
