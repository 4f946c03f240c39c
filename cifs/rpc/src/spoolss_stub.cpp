// The print spooler as the pipe table knows it until the interface is built: it
// binds, and every opnum is answered as out of range. The interface's own
// file replaces this one.
#include "csdcerpc.h"

extern "C" {

__attribute__((weak)) const CSDcerpcInterface *csRpcSpoolss(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "spoolss",
        {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0xcd, 0xab, 0xef, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab},
        1,
        0,
        96,
        nullptr,
        nullptr};
    return &kInterface;
}

}  // extern "C"
