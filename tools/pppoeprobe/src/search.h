// The discovery itself: PADI cycles and the offers that come back.
#pragma once

#include "offers.h"

#include <cstdio>

namespace pppoe {

struct Link {
    int socket = -1;
    int ifindex = 0;
    zmo_mac_addr_t own_mac{};
};

// One PADI to the broadcast address; false (message on err) when it did not
// go out whole.
bool padi_send(const Link &link, FILE *err);

enum class Received { Nothing, Offer, Failed };
// One frame, read as an offer when it is one.
Received pado_receive(const Link &link, Offer *offer, FILE *err);

// Cycles until the wait time is over or a termination signal comes; each new
// or changed offer is printed on out. False when a poll, send or receive
// failed.
bool search(const Link &link, unsigned long wait_s, unsigned long period_ms, OfferList *list, FILE *out,
            FILE *err);

}  // namespace pppoe
