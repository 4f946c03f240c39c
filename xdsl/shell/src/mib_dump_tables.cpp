// "interface xdsl dump table": fixed groups of logic MIB entries printed as
// raw name and value pairs for support work.
#include <cstdio>
#include <cstring>

#include "cli_command.h"
#include "cli_print.h"
#include "mib_names.h"
#include "vdsl_request.h"

namespace {

struct Group {
    const char *word;
    const char *title;
    const char *const *oids;
    size_t count;
};

// Entry lists in printing order; the names come from the MIB name table.
const char *const kGinpSt[] = {"3.4.1",  "3.4.1.2",  "3.4.2",  "3.4.2.2",  "3.4.3",  "3.4.3.2",
                               "3.4.4",  "3.4.4.2",  "3.4.5",  "3.4.5.2",  "3.4.6",  "3.4.6.2",
                               "3.4.7",  "3.4.7.2",  "3.4.8",  "3.4.8.2",  "3.4.9",  "3.4.9.2",
                               "3.4.10", "3.4.10.2", "3.4.11", "3.4.11.2", "3.4.12", "3.4.12.2",
                               "3.4.13", "3.4.13.2", "3.4.14", "3.4.14.2", "3.4.15", "3.4.15.2",
                               "3.4.16", "3.4.16.2", "3.4.17", "3.4.17.2", "3.4.18", "3.4.18.2"};
const char *const kGinpConf[] = {"3.3.2",  "3.3.3",  "3.3.4",  "3.3.5",  "3.3.6",  "3.3.7",  "3.3.8",
                                 "3.3.9",  "3.3.10", "3.3.11", "3.3.12", "3.3.13", "3.3.14", "3.3.15",
                                 "3.3.16", "3.3.17", "3.3.18", "3.3.19", "3.3.20", "3.3.21", "3.3.22",
                                 "3.3.23", "3.3.24", "3.3.25", "3.3.26", "3.3.27"};
const char *const kRfi[] = {"0.9.5"};
const char *const kVns[] = {"0.9.25", "0.9.26", "0.9.27", "0.9.28"};
const char *const kSra[] = {"0.9.6",  "0.9.7",  "0.9.8",  "0.9.9",  "0.9.10",
                            "0.9.11", "0.9.12", "0.9.13", "0.9.14", "0.9.15"};
const char *const kDpbo[] = {"0.9.37", "0.9.36", "0.9.38", "0.9.39", "0.9.40", "0.9.41", "0.9.42", "0.9.43"};
const char *const kUpbo[] = {"0.9.44",   "0.9.45", "0.11.2",   "0.11.2.2", "0.11.2.3",
                             "0.11.2.4", "0.11.3", "0.11.3.2", "0.11.3.3", "0.11.3.4"};
const char *const kChanProfile[] = {"0.12.15", "0.12.14", "0.12.13", "0.12.12", "0.12.11", "0.12.10",
                                    "0.12.7",  "0.12.6",  "0.12.3",  "0.12.2",  "0.9.16",  "0.9.17",
                                    "0.9.18",  "0.9.19",  "0.9.20",  "0.9.21",  "0.9.22",  "0.9.23"};
const char *const kBandProfile[] = {"0.10.1",  "0.10.9",  "0.9.35",  "0.10.4",  "0.10.5",  "0.9.4",
                                    "0.10.8",  "0.10.3",  "0.10.7",  "0.10.2",  "0.10.10", "0.10.14",
                                    "0.10.15", "0.9.57",  "0.9.58",  "2.1.108", "2.1.109", "2.1.110",
                                    "2.1.111", "2.1.112", "2.1.113", "2.1.114", "2.1.115"};
const char *const kInterface[] = {"2.1.30", "2.1.32", "2.1.328", "2.1.146", "2.1.12"};
const char *const kSys[] = {"2.1.9", "2.1.118", "2.1.385", "2.1.107", "1.1.1", "1.1.2", "2.1.133"};

#define GROUP(word, title, list)                                                                             \
    {                                                                                                        \
        word, title, list, sizeof list / sizeof *list                                                        \
    }
const Group kGroups[] = {
    GROUP("sys", "System table of line %u: (%06x_%06x_%06x_%s)", kSys),
    GROUP("interface", "Interface table of line %u: (%06x_%06x_%06x_%s)", kInterface),
    GROUP("bandprofile", "Band profile table of line %u: (%06x_%06x_%06x_%s)", kBandProfile),
    GROUP("chanprofile", "Channel profile table of line %u: (%06x_%06x_%06x_%s)", kChanProfile),
    GROUP("upbo", "UPBO table of line %u: (%06x_%06x_%06x_%s)", kUpbo),
    GROUP("dpbo", "DPBO table of line %u: (%06x_%06x_%06x_%s)", kDpbo),
    GROUP("sra", "SRA table of line %u: (%06x_%06x_%06x_%s)", kSra),
    GROUP("vns", "VNS table of line %u: (%06x_%06x_%06x_%s)", kVns),
    GROUP("rfi", "RFI table of line %u: (%06x_%06x_%06x_%s)", kRfi),
    GROUP("ginpconf", "G.inp configuration table of line %u: (%06x_%06x_%06x_%s)", kGinpConf),
    GROUP("ginpst", "G.inp status table of line %u: (%06x_%06x_%06x_%s)", kGinpSt),
};
#undef GROUP

const Group &group(const char *word)
{
    for (const Group &g : kGroups)
        if (std::strcmp(g.word, word) == 0)
            return g;
    return kGroups[0];
}

int dump_group(const Group &g, char *rest)
{
    unsigned number = 0;
    if (std::sscanf(rest, "%u", &number) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <portid>");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(static_cast<int>(number > 1000 ? 1000 : number), &port) != 0)
        return CLI_FAILED;
    unsigned char state = 0;
    xdsl_get_opstate(port, &state);
    if (state == VDSL_STATE_DISABLE) {
        cli_print(CLI_LEVEL_ORDINARY, "%s", "");
        return CLI_FAILED;
    }
    uint32_t v1 = 0, v2 = 0, v3 = 0;
    char side[3] = "";
    mib_get_chip_version(port, &v1, &v2, &v3, side);
    cli_print(CLI_LEVEL_ORDINARY, g.title, number, v1, v2, v3, side);
    static unsigned char answer[VDSL_BLOCK_SIZE];
    int rc = 0;
    for (size_t i = 0; i < g.count; i++) {
        std::memset(answer, 0, sizeof answer);
        rc = mib_get_logic(port, g.oids[i], answer);
        const char *name = mib_name_of(g.oids[i]);
        // A failed read shows an empty value rather than a stale one.
        cli_print(CLI_LEVEL_ORDINARY, "%-42s|%s", name ? name : g.oids[i],
                  rc == 0 ? reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT : "");
    }
    cli_print(CLI_LEVEL_ORDINARY, "%s", "");
    return rc;
}

}  // namespace

#define DUMP_COMMAND(word)                                                                                   \
    extern "C" int cmd_dump_table_##word(char *rest, const cli_dir_row *)                                    \
    {                                                                                                        \
        return dump_group(group(#word), rest);                                                               \
    }
DUMP_COMMAND(sys)
DUMP_COMMAND(interface)
DUMP_COMMAND(bandprofile)
DUMP_COMMAND(chanprofile)
DUMP_COMMAND(upbo)
DUMP_COMMAND(dpbo)
DUMP_COMMAND(sra)
DUMP_COMMAND(vns)
DUMP_COMMAND(rfi)
DUMP_COMMAND(ginpconf)
DUMP_COMMAND(ginpst)
#undef DUMP_COMMAND

extern "C" int cmd_dump_table_all(char *rest, const cli_dir_row *)
{
    int rc = 0;
    for (const Group &g : kGroups) {
        // Each group parses its own copy: the text is the same for all.
        char copy[CLI_LINE_SIZE];
        std::snprintf(copy, sizeof copy, "%s", rest);
        rc = dump_group(g, copy);
    }
    return rc;
}
