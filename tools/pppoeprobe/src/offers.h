// The offers found so far, in order of arrival; a repeat replaces its
// entry and moves to the end.
#pragma once

#include "pado.h"

#include <vector>

namespace pppoe {

// A LAN has a few concentrators; one that floods offers under ever new
// names or addresses must not take the router's memory with it.
constexpr size_t kMaxOffers = 256;

class OfferList {
public:
    enum class Added { New, Changed, Same, Full };
    // Same AC name and address is a repeat; it differs when its error text
    // or its services do. A new one finds no room once kMaxOffers are kept.
    Added add(Offer offer);
    const std::vector<Offer> &offers() const { return offers_; }

private:
    std::vector<Offer> offers_;
};

}  // namespace pppoe
