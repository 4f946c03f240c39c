// The store's fixed tables: per-type keys and bodies, and the parameter
// rows of the line, channel and alarm profiles.
#pragma once

#include <cstddef>

namespace profiles {

struct ParamRow {
    const char *name;
    const char *help;
    const char *oid;
    const char *value;  // null: the first system profile of sysprefix
    const char *sysprefix;
};

struct TypeInfo {
    const char *table_key;
    const char *index_key;
    int tokens;               // values after the name in a stored record
    const ParamRow *rows;     // types 2, 3, 5, 6
    const char *const *oids;  // types 7-10
    const int *lengths;       // types 7-10: zero characters per slot
    const char *heading;      // the listing's heading
};

// Indexed by type 1-10; 0 is no type.
const TypeInfo &type_info(int type);
bool valid_type(int type);
bool is_template(int type);
bool is_breakpoint_type(int type);

extern const ParamRow kLineProfileRows[54];

// The row of the line profile table with that parameter name, or null.
const ParamRow *line_row(const char *name);
int line_row_index(const char *name);

}  // namespace profiles
