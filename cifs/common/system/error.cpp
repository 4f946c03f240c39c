// The last error and its mappings to SMB errors and to system errors.
#include "syerror.h"

#include <cerrno>

namespace {

constexpr uint32_t smb(uint32_t errorClass, uint32_t code) { return code << 16 | errorClass; }

struct StackError {
    int32_t code;
    int32_t systemError;
};

// Searched in order; a code listed twice takes its first entry.
constexpr StackError kStackToSystem[] = {
    {0xFF0003, EINVAL},      {0xFF03EA, ENOENT},    {0xFF03EB, ENOENT},  {0xFF03EC, EMFILE},
    {0xFF03F3, EMEDIUMTYPE}, {0xFF03F5, EIO},       {0xFF03F9, EXDEV},   {0xFF03FA, EMFILE},
    {0xFF0438, EEXIST},      {0xFF043F, ENOTEMPTY}, {0xFF0462, ENOBUFS}, {0xFF0463, ENAMETOOLONG},
    {0xFF049F, EEXIST},      {0xFF0BB7, EPERM},     {0xFF03F4, EPERM},   {0xFF0BD2, ENODEV},
    {0xFF0BD5, EPERM},       {0xFF0BD6, EROFS},     {0xFF0BDF, ENOSPC},  {0xFF03F7, ENXIO},
    {0xFF0BD1, ESPIPE},      {0xFF0479, ENOTEMPTY},
};
static_assert(sizeof kStackToSystem / sizeof kStackToSystem[0] == 22, "22 stack codes");

}  // namespace

extern "C" {

const SYSmbErrorPair sysToSmbErrorMap[SY_SMB_ERROR_MAP_SIZE] = {
    {ENOENT, smb(1, 2)},  {EBADF, smb(1, 6)},  {EACCES, smb(1, 5)}, {ENOTEMPTY, smb(1, 145)},
    {EEXIST, smb(1, 80)}, {EXDEV, smb(1, 17)}, {EMFILE, smb(1, 4)}, {ENAMETOOLONG, smb(1, 123)},
    {ENOSPC, smb(3, 39)}, {EROFS, smb(1, 5)},  {EMLINK, smb(1, 4)}, {EISDIR, smb(1, 2)},
};

void sySetLastVxError(int32_t code) { errno = code; }

uint32_t syGetLastSmbError(void) { return errno == 0 ? 0 : udGetSmbError(errno); }

uint32_t udGetSmbError(int32_t err)
{
    for (const SYSmbErrorPair &pair : sysToSmbErrorMap)
        if (pair.systemError == err)
            return pair.smbError;
    return SY_SMB_GENERAL_ERROR;
}

int32_t udVxToSystemError(int32_t code)
{
    for (const StackError &e : kStackToSystem)
        if (e.code == code)
            return e.systemError;
    return code == 0 ? 0 : -1;
}

}  // extern "C"
