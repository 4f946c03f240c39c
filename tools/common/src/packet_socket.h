// The link-layer tools' raw packet socket.
#pragma once

#include <cstdint>

namespace tools {

// A non-blocking, close-on-exec packet socket queueing frames of one
// protocol (network order; 0 queues none). -1 with the log line written
// ("unable to open <role> socket: ...") when a step fails.
int open_packet_socket(uint16_t protocol, const char *role);

}  // namespace tools
