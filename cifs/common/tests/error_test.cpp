// The last error and its maps to SMB and system errors.
#include "syerror.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(Errors, SystemToSmb)
{
    struct {
        int err;
        uint32_t smb;
    } cases[] = {
        {ENOENT, 0x20001},  {EBADF, 0x60001},    {EACCES, 0x50001}, {ENOTEMPTY, 0x910001},
        {EEXIST, 0x500001}, {EXDEV, 0x110001},   {EMFILE, 0x40001}, {ENAMETOOLONG, 0x7B0001},
        {ENOSPC, 0x270003}, {EROFS, 0x50001},    {EMLINK, 0x40001}, {EISDIR, 0x20001},
        {EPERM, 0x10002},   {0xFF0003, 0x10002},
    };
    for (auto &c : cases)
        EXPECT_EQ(udGetSmbError(c.err), c.smb) << c.err;
}

TEST(Errors, LastError)
{
    sySetLastVxError(0);
    EXPECT_EQ(syGetLastSmbError(), 0u);
    sySetLastVxError(ENOSPC);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(syGetLastSmbError(), 0x270003u);
    sySetLastVxError(CM_ERR_NOMEM);
    EXPECT_EQ(errno, 0xFF03F0);
    EXPECT_EQ(syGetLastSmbError(), SY_SMB_GENERAL_ERROR);
}

TEST(Errors, StackToSystem)
{
    struct {
        int32_t code, err;
    } cases[] = {
        {0xFF0463, ENAMETOOLONG},
        {0xFF0003, EINVAL},
        {0xFF03F3, EMEDIUMTYPE},
        {0xFF0BB7, EPERM},
        {0xFF0479, ENOTEMPTY},
        {0xFF0BDF, ENOSPC},
        {0, 0},
        {0xFF0004, -1},
        {ENOENT, -1},
    };
    for (auto &c : cases)
        EXPECT_EQ(udVxToSystemError(c.code), c.err) << std::hex << c.code;
}

}  // namespace
