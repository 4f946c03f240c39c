// The offers found so far, in order of arrival; a repeat replaces its
// entry and moves to the end.
#pragma once

#include "pado.h"

#include <vector>

namespace pppoe {

class OfferList {
public:
    enum class Added { New, Changed, Same };
    // Same AC name and address is a repeat; it differs when its error text
    // or its services do.
    Added add(Offer offer);
    const std::vector<Offer> &offers() const { return offers_; }

private:
    std::vector<Offer> offers_;
};

} // namespace pppoe
