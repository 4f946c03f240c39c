// Start-up of the link-layer daemons.
#pragma once

namespace tools {

// The base library and its default signal handlers; false with the log
// line written when either fails.
bool start_base();

}  // namespace tools
