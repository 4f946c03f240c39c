// Internal: the volume a share's folder lies on, for the file-system levels
// and the allocation-size check.
#pragma once
#include "csinfo.h"
#include "syfiles.h"

namespace cs {

// 0, or the status pair of a share path that cannot be converted or a
// volume that cannot be read.
uint32_t shareVolume(const CSShare *share, SYVolumeInformation *volume);

}  // namespace cs
