// Internal: the rename worker with its replace-if-exists form.
#pragma once
#include "csinfo.h"

namespace cs {

// replace: an existing destination is replaced in the one rename(2), after
// both paths were checked; nothing is deleted beforehand.
uint32_t renameFile(const CSUser *user, const CSShare *share, uint32_t unicode, uint32_t attributes,
                    CMWchar *oldPath, CMWchar *newPath, bool replace);

// The path's last component is "." or "..", as a wildcard walk gives them.
bool isDotEntry(const CMWchar *path);

}  // namespace cs
