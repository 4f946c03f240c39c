// Internal: the SMB2 dispatch context as the dispatcher's sources share it.
#pragma once
#include "cssmb2.h"

namespace cs2 {

struct Context {
    uint16_t savedFid;
    const CMSmb2Header *current;
    uint32_t encrypted;
    // The SessionId of the transform header that carried the message.
    CMUint64 transformSid;
};

Context &context();

}  // namespace cs2
