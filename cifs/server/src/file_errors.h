// Internal: DOS error words of the file commands (code x 65536 + class) and
// the statuses they pair with through csErrorReturn.
#pragma once
#include <cstdint>

struct CSShare;

namespace cs {

constexpr uint32_t errDos(uint32_t code) { return (code << 16) | 1u; }
constexpr uint32_t errSrv(uint32_t code) { return (code << 16) | 2u; }
constexpr uint32_t errHrd(uint32_t code) { return (code << 16) | 3u; }

// Access denied to a command that names files on IPC$ or a printer share, 0
// on a share with a folder: IPC$ has pipes only (with its empty path a name
// on it would be one from the disk's root), a printer's path is its device.
uint32_t refuseWithoutFolder(const CSShare *share);

}  // namespace cs
