// System errors in the client's mode, and the access mask of an SMB1 open mode.
#include "dispatch_frame.h"

#include "syerror.h"

namespace {

struct ErrorRow {
    uint32_t dos;
    uint32_t nt;
};

// First match wins; the success row is compared with 0.
constexpr ErrorRow kSmbToNt[] = {
    {0, 0x00000000},
    {0x00010002, 0xC0000001},
    {0x00010001, 0xC0000002},
    {0x00570001, 0xC0000003},
    {0x00180003, 0xC0000004},
    {0x00060001, 0xC0000008},
    {0x000B0001, 0xC000000D},
    {0x00220003, 0xC0000012},
    {0x00150003, 0xC0000013},
    {0x001B0003, 0xC0000015},
    {0x00080001, 0xC0000017},
    {0x00050001, 0xC0000022},
    {0x000C0001, 0xC0000022},
    {0x00EA0001, 0x80000005},
    {0x00120001, 0x80000006},
    {0x007B0001, 0xC0000033},
    {0x00020001, 0xC0000034},
    {0x00B70001, 0xC0000035},
    {0x00030001, 0xC000003A},
    {0x00170003, 0xC000003E},
    {0x00200001, 0xC0000043},
    {0x00210001, 0xC0000055},
    {0x00210003, 0xC000002A},
    {0x00020002, 0xC000006A},
    {0x00270003, 0xC000007F},
    {0x001F0003, 0xC0000098},
    {0x001A0003, 0xC000009E},
    {0x00130003, 0xC00000A2},
    {0x00150003, 0xC00000A3},
    {0x00E60001, 0xC00000AD},
    {0x00E70001, 0xC00000AE},
    {0x00E90001, 0xC00000B0},
    {0x00E80001, 0xC00000B1},
    {0xFFFF0002, 0xC00000BB},
    {0x00420001, 0xC00000CB},
    {0x00430001, 0xC00000CC},
    {0x00110001, 0xC00000D4},
    {0x00910001, 0xC0000101},
    {0x00570001, 0xC0000103},
    {0x00040001, 0xC000011F},
    {0x00340002, 0xC000020A},
    // The system layer's "name exists" (ERRDOS/80) is a name collision, as
    // ERRDOS/183 is: without this row an NT client got 0xFFFFFFFF.
    {0x00500001, 0xC0000035},
};

}  // namespace

extern "C" {

uint32_t csErrorGetLast(void)
{
    uint32_t error = syGetLastSmbError();
    if (error == 0)
        error = SY_SMB_GENERAL_ERROR;
    if (!cs::gFrame.ntStatusMode)
        return error;
    for (const ErrorRow &row : kSmbToNt)
        if (row.dos == error)
            return row.nt;
    return 0xFFFFFFFFu;
}

uint32_t convertVxAccessToNtAccess(uint16_t mode)
{
    switch (mode & 7) {
    case 0:
        return 0x80000001u;
    case 1:
        return 0x40000002u;
    case 2:
        return 0xC0000003u;
    case 4:
        return 0x00100180u;
    default:
        return 0;
    }
}

}  // extern "C"
