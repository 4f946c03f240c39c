// A fake xDSL device behind the shell's device calls: it records every open,
// request and close, and answers MIB and chip word requests from maps.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fakedev {

struct Request {
    unsigned long number;
    std::vector<unsigned char> block;  // as the shell passed it
};

struct Device {
    int opens = 0, closes = 0, open_now = 0;
    bool open_fails = false;
    std::vector<Request> requests;
    std::map<std::string, std::string> values;  // logic OID -> value text
    std::map<std::string, int> failures;        // logic OID -> driver result
    std::map<unsigned long, unsigned> words;    // mem << 24 | address -> word
    std::map<std::string, unsigned> lengths;    // "g.t.i" -> words (0x7617, 0x762B)
    std::map<std::string, unsigned> addresses;  // entry -> X address of 0x762B (else 0x1000)
    unsigned char state = 2;
    // Private requests of the boot interface: (interface, request) in order.
    std::vector<std::pair<std::string, unsigned long>> resets;
    // The boot interface driver's service record; the interfaces asked for it.
    std::string service = std::string(200, '\0');
    int service_answer = 0;
    std::vector<std::string> service_asked;
    // Replaces the built-in answers when set.
    std::function<int(unsigned long, unsigned char *, std::size_t)> handler;

    std::vector<unsigned long> numbers() const;
};

Device &device();
void reset();
// The built-in answers, for a handler that changes only some requests.
int builtin_answer(unsigned long number, unsigned char *block, std::size_t size);

}  // namespace fakedev
