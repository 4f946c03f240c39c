// The local security authority as the pipe table knows it until the interface is built: it
// binds, and every opnum is answered as out of range. The interface's own
// file replaces this one.
#include "csdcerpc.h"

extern "C" {

__attribute__((weak)) const CSDcerpcInterface *csRpcLsa(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "lsarpc",
        {0x78, 0x57, 0x34, 0x12, 0x34, 0x12, 0xcd, 0xab, 0xef, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab},
        0,
        0,
        69,
        nullptr,
        nullptr};
    return &kInterface;
}

// Its directory-services companion on the same pipe.
__attribute__((weak)) const CSDcerpcInterface *csRpcLsads(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "lsarpc",
        {0x6a, 0x28, 0x19, 0x39, 0x0c, 0xb1, 0xd0, 0x11, 0x9b, 0xa8, 0x00, 0xc0, 0x4f, 0xd9, 0x2e, 0xf5},
        0,
        0,
        1,
        nullptr,
        nullptr};
    return &kInterface;
}

}  // extern "C"
