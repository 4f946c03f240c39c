// Internal: a client's name as a local path under its share.
#pragma once
#include "csshares.h"

namespace cs {

// A share whose names are files under its folder: not "IPC$", whose names
// are pipes, nor a printer, whose names are print jobs.
inline bool hasFolder(const CSShare *share) { return share && !share->isIpc && !share->isPrinter; }

// cmCifsNtohFilename under the share's folder; null also for a share that
// has no folder of its own ("IPC$", a printer): its names are pipes and
// print jobs, and no name of it may reach the host's files.
CMWchar *shareLocalPath(CMWchar *path, const CSShare *share, const void *name, uint32_t unicode,
                        uint32_t wildcards);

}  // namespace cs
