/* The xDSL profile store: ten profile types in one list, the port template
 * map, their persistence in the configuration manager, their displays and
 * their application to the port. */
#ifndef DRUVEL_VDSL_PROFILES_H
#define DRUVEL_VDSL_PROFILES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Profile types; PROFILE_ALL only for profiles_load. */
#define PROFILE_LINE_TEMPLATE 1
#define PROFILE_LINE 2
#define PROFILE_CHANNEL 3
#define PROFILE_ALARM_TEMPLATE 4
#define PROFILE_LINE_ALARM 5
#define PROFILE_CHANNEL_ALARM 6
#define PROFILE_VIRTUAL_NOISE 7
#define PROFILE_DPBO_EPSD 8
#define PROFILE_RFI_BANDS 9
#define PROFILE_PSD_MASKS 10
#define PROFILE_ALL 11

/* Text fields: names and command words, terminating zero included. */
#define PROFILE_NAME_SIZE 256
#define PROFILE_NAME_MAX 20
#define PROFILE_COUNT_MAX 30
#define PROFILE_OID_SIZE 24
/* The longest value text the store takes. */
#define PROFILE_VALUE_MAX 240
#define PROFILE_DEFAULT_NAME "DEFVAL"

/* States of a record. */
#define PROFILE_CHANGED '*'
#define PROFILE_STORED 'X'

/* Store states. */
#define PROFILE_STORE_EMPTY 0
#define PROFILE_STORE_PARTLY 1
#define PROFILE_STORE_LOADED 2

typedef struct profile_record profile_record;

/* One type's bookkeeping. */
typedef struct profile_descriptor {
    uint32_t next_sequence;
    uint32_t count;
    uint32_t dirty;
    uint32_t loaded;
} profile_descriptor;

/* Store. */
const profile_record *profile_find(int type, const char *name);
int new_vdsl_profiles_fun(int type, const char *name);
int profile_remove(int type, const char *name, const char *table_key);
int update_profile_value_fun(const char *name, int type, const char *oid, const char *parameter,
                             uint32_t number, const char *text);
int update_psd_type_profile_fun(const char *name, int type, const char *oid, int index, int tone,
                                float level);
int vdsl_profiles_map_port_fun(int type, const char *name, char *mark);
void free_vdsl_profiles_fun(void);

/* Store state, descriptors and the port template map (port 1). */
int profile_store_state(void);
const profile_descriptor *profile_type_descriptor(int type);
const char *port_line_template(void);
const char *port_alarm_template(void);
void port_map_set(const char *line_template, const char *alarm_template);

/* Record fields. */
const char *profile_record_name(const profile_record *record);
char profile_record_state(const profile_record *record);
uint32_t profile_record_sequence(const profile_record *record);
/* Value text of slot index (0 first; templates: their two names), or null. */
const char *profile_record_value(const profile_record *record, int index);
int profile_record_slots(const profile_record *record);

/* Persistence. */
int profiles_load(int type);
int profile_load(int type, int token_count, const char *index_key, const char *table_key);
void save_vdsl_profiles_fun(int type, const char *index_key, const char *table_key);
int profiles_save_all(void);
int profiles_renumber_all(void);
int profiles_renumber_type(int type, const char *table_key);

/* Breakpoint words. */
void psd_word_to_text(char *tone, char *level, const char *word);
void vn_word_to_text(char *tone, char *level, const char *word);
void psd_text_to_word(const char *tone, const char *level, char *word);
void vn_text_to_word(const char *tone, const char *level, char *word);
uint32_t hex_text_to_uint(const char *text, int n);

/* Displays. */
int display_vdsl_profiles_fun(const char *name, int type, int mode);
int display_vdsl_parent_profile_fun(const char *name, int type);
void vn_tables_display(const char *name, const char *downstream, const char *upstream);
int psdmask_tables_display_fun(const char *name, const char *downstream, const char *upstream, int type);
void rfi_tables_display(const char *name, const char *text);

/* Commands. */
int profile_create(const char *text);
int profile_delete(const char *text);
int profiles_main_vdslprofile_show(const char *text);

/* Applying. */
int profiles_apply_port(int port, const char *name, int type);
int port_set_line_template(char *rest);
int port_set_alarm_template(char *rest);

#ifdef __cplusplus
}
#endif

#endif
