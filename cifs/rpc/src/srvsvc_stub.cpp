// The server service as the pipe table knows it until the interface is
// built: it binds, and every opnum is answered as out of range.
#include "csdcerpc.h"

extern "C" {

__attribute__((weak)) const CSDcerpcInterface *csRpcSrvsvc(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "srvsvc",
        {0xc8, 0x4f, 0x32, 0x4b, 0x70, 0x16, 0xd3, 0x01, 0x12, 0x78, 0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88},
        3,
        0,
        54,
        nullptr,
        nullptr};
    return &kInterface;
}

}  // extern "C"
