// Internal: DOS error words of the file commands (code x 65536 + class) and
// the statuses they pair with through csErrorReturn.
#pragma once
#include <cstdint>

namespace cs {

constexpr uint32_t errDos(uint32_t code) { return (code << 16) | 1u; }
constexpr uint32_t errSrv(uint32_t code) { return (code << 16) | 2u; }
constexpr uint32_t errHrd(uint32_t code) { return (code << 16) | 3u; }

}  // namespace cs
