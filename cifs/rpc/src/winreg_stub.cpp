// The registry as the pipe table knows it until the interface is built: it
// binds, and every opnum is answered as out of range. The interface's own
// file replaces this one.
#include "csdcerpc.h"

extern "C" {

__attribute__((weak)) const CSDcerpcInterface *csRpcWinReg(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "winreg",
        {0x01, 0xd0, 0x8c, 0x33, 0x44, 0x22, 0xf1, 0x31, 0xaa, 0xaa, 0x90, 0x00, 0x38, 0x00, 0x10, 0x03},
        1,
        0,
        35,
        nullptr,
        nullptr};
    return &kInterface;
}

}  // extern "C"
