/* SMB message signatures: SMB1 (MD5, 8 bytes), SMB 2.x (HMAC-SHA256) and
 * SMB 3.x (AES-128-CMAC), 16 bytes each. The message starts at the protocol
 * identifier; signature points at the message's own signature field. extra
 * is an optional fragment that follows the message in the MAC. */
#ifndef CMSIGN_H
#define CMSIGN_H

#include "cmtypes.h"

#define CM_SMB1_SIGNATURE_OFFSET 14
#define CM_SMB1_SIGNATURE_SIZE 8
#define CM_SMB1_FLAGS2_OFFSET 10
#define CM_SMB1_FLAGS2_SIGNATURE 0x0004
#define CM_SMB2_SIGNATURE_OFFSET 48
#define CM_SMB2_SIGNATURE_SIZE 16
#define CM_SMB2_FLAGS_OFFSET 16
#define CM_SMB2_FLAGS_SIGNED 0x00000008u

VX_API void cmSmbCalculateMessageSignature(const uint8_t *key, uint32_t keyLength, uint32_t sequenceNumber,
                                           uint8_t *message, uint32_t messageLength, const uint8_t *extra,
                                           uint32_t extraLength, const uint8_t *response,
                                           uint32_t responseLength, uint8_t *signature);
VX_API void cmSmb2CalculateMessageSignature(const uint8_t *key, uint32_t keyLength, uint8_t *message,
                                            uint32_t messageLength, const uint8_t *extra,
                                            uint32_t extraLength, uint8_t *signature);
VX_API void cmSmb3CalculateMessageSignature(const uint8_t *key, uint32_t keyLength, uint8_t *message,
                                            uint32_t messageLength, const uint8_t *extra,
                                            uint32_t extraLength, uint8_t *signature);

#endif
