/* The MIB name table: every MIB name the shell knows with its logic OID,
 * generated at build time from tools/mib_names.txt. */
#ifndef DRUVEL_MIB_NAMES_H
#define DRUVEL_MIB_NAMES_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mib_name_row {
    const char *name;
    const char *oid;
} mib_name_row;

/* Ends with a row whose name is null. */
extern const mib_name_row mib_name_table[];
extern const unsigned mib_name_count;

/* The OID of a name (exact, case-sensitive; first row that matches), or null. */
const char *mib_name_lookup(const char *name);
/* The name of a logic OID (first row that matches), or null. */
const char *mib_name_of(const char *oid);

/* Rewrites a standard OID into the entry OID and port number the driver
 * takes (into out, outsize bytes); 0, 100 (malformed or too long) or 101
 * (a table this build does not support). */
int roid_split(const char *text, char *out, unsigned outsize, int *port_number);

#ifdef __cplusplus
}
#endif

#endif
