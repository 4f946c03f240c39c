// lldprecv's socket, its poll loop and the report of each frame.
#pragma once

#include "neighbour.h"

#include <string>

namespace lldp {

constexpr const char *kFeedbackFile = "/tmp/run/vessik.fb";

// The feedback text's arguments go through the base library's format, which
// keeps control bytes of a field from starting lines of their own.
bool report_neighbour(const Neighbour &n, bool debug, const char *file = kFeedbackFile);

// A raw packet socket for LLDP on every interface, non-blocking; -1 after
// the reason was logged.
int open_recv_socket();

// One frame off the socket, reported when it is an LLDPDU that says who sent it.
void lldp_receive(int s, bool debug);

// Until a termination signal or an interrupted poll.
void lldp_receive_loop(int s, bool debug);

}  // namespace lldp
