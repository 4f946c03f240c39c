// Walks a message as a chain of compounded SMB2 headers, as the dispatcher
// does, reading each header and its body offsets.
#include "cmsmbheader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CMBufferReader r;
    cmBufferReaderInit(&r, data, (uint32_t)size);
    for (int hops = 0; hops < 1000; ++hops) {
        CMSmb2Header h;
        const uint8_t *start = cmBufferReaderGetPosition(&r);
        cmSmb2HeaderRead(&h, &r);
        if (cmBufferReaderIsOverrun(&r))
            break;
        // A body offset from the header, as handlers take them from requests.
        uint16_t offset;
        cmBufferReadUint16(&r, &offset);
        cmSmb2HeaderSetReaderOffset(&h, &r, offset);
        cmSmb2HeaderAlignReader(&h, &r, 8);
        uint8_t peek[4];
        cmBufferReadBytes(&r, peek, sizeof peek);
        if (!cmSmb2HeaderShiftNext(&h, &r))
            break;
        const uint8_t *next = cmBufferReaderGetPosition(&r);
        // Each hop moves forward by at least a header and lands on a whole one.
        if (next < start + CM_SMB2_HEADER_SIZE || next + CM_SMB2_HEADER_SIZE > data + size)
            std::abort();
        if (cmBufferReaderIsOverrun(&r))
            break;
    }
    CMSmb2TransformHeader t;
    CMBufferReader tr;
    cmBufferReaderInit(&tr, data, (uint32_t)size);
    cmSmb2TransformHeaderRead(&t, &tr);
    return 0;
}
