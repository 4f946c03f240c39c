// Inside the profile store: the record list and the bookkeeping that the
// persistence, display, command and apply files share.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "line_display.h"
#include "vdsl_profiles.h"

struct profile_record {
    std::string name;
    char state = PROFILE_CHANGED;
    uint32_t sequence = 0;
    int type = 0;
    // Slot OIDs and value texts in slot order; a template has two names
    // and no OIDs.
    std::vector<std::string> oids;
    std::vector<std::string> values;
};

namespace profiles {

// All records of all types, in creation and load order.
std::list<profile_record> &records();
profile_descriptor &descriptor(int type);
void set_store_state(int state);

// Finds without loading.
profile_record *lookup(int type, const std::string &name);
// Finds, loading the type first when it is not loaded.
profile_record *find(int type, const char *name);

// The record with the type's defaults, appended; null after its message.
profile_record *make(int type, const char *name);

// Numbers of stored records the loader refused: their keys stay as stored,
// so no other record may take the number and the index keeps naming them.
std::vector<uint32_t> &refused(int type);

// The port template map.
std::string &map_line();
std::string &map_alarm();

void mark_changed(profile_record &r);

// True after "Can't modify Default Profile" when name is the default
// profile, which no command changes.
bool refuse_default(const char *name);

using line_display::port_enabled;
using line_display::port_flag;

// Splits text at blanks; a word of PROFILE_NAME_SIZE characters or more
// is refused with a message (false).
bool split_words(const char *text, std::vector<std::string> &words);

}  // namespace profiles
