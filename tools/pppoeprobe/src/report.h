// What the probe prints and what it tells the feedback script.
#pragma once

#include "offers.h"

#include <cstdio>
#include <string>

namespace pppoe {

void print_offer(FILE *out, const Offer &offer);
// After the search: the "none found" line, or a line end.
void print_summary(FILE *out, const OfferList &list);
// PPPOE_INTERFACE and the PPPOE_AC<n>_* lines, wire texts made printable.
std::string feedback_text(const std::string &ifname, const OfferList &list);

}  // namespace pppoe
