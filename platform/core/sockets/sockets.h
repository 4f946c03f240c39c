// The management core's sockets for outside programs: SCGI and the
// base library's core-client protocol.
#pragma once

#include <string>

namespace CoreSockets {

struct Options {
    std::string routes;  // JSON file: request URI -> answer; read at each request (scgi_server.cpp)
    std::string log;     // one JSON line per SCGI request: its pairs in order and its body
    std::string user = "admin";
    std::string password = "admin";
    std::string events;  // FIFO: "TYPE XML" lines pushed to every event connection
};

// Each runs until the process ends; false when its socket can't be made.
bool ScgiServe(const Options &o);
bool ClientServe(const Options &o);

}  // namespace CoreSockets
