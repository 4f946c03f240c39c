#include "offers.h"

#include <algorithm>

namespace pppoe {

OfferList::Added OfferList::add(Offer offer)
{
    auto it = std::find_if(offers_.begin(), offers_.end(), [&](const Offer &o) {
        return o.ac_name == offer.ac_name && zmo_mac_addr_is_equal(&o.mac, &offer.mac);
    });
    Added added = Added::New;
    if (it != offers_.end()) {
        bool same = it->has_error == offer.has_error && (!it->has_error || it->error == offer.error) &&
                    it->services == offer.services;
        added = same ? Added::Same : Added::Changed;
        offers_.erase(it);
    } else if (offers_.size() >= kMaxOffers) {
        return Added::Full;
    }
    offers_.push_back(std::move(offer));
    return added;
}

}  // namespace pppoe
