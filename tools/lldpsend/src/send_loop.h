// Sending the announcement every minute until told to stop.
#pragma once

#include "options.h"

namespace lldp {

// A raw packet socket bound to the settings' interface and chassis address,
// non-blocking; -1 after the reason was logged.
int open_send_socket(const SendSettings &settings);

// One frame, retried while the socket is busy; true when it went out whole.
bool send_frame(int s, const SendSettings &settings, const uint8_t *frame, size_t len);

void lldp_send_loop(int s, const SendSettings &settings);

}  // namespace lldp
