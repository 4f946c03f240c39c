// Line tuning of "util misc": bit swapping, user PSD masks and tone blackouts,
// written straight into the chip's MIB.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cfgmgr_access.h"
#include "chip_answers.h"
#include "cli_command.h"
#include "cli_print.h"
#include "psd_mask.h"
#include "vdsl_request.h"

using chip_answers::InsertResult;
using chip_answers::ToneSection;

namespace {

constexpr uint32_t kBitSwapUs = 0x200000, kBitSwapDs = 0x400000;
constexpr unsigned kTopTone = 8191;
constexpr size_t kPsdCharsUs = 96, kPsdCharsDs = 192;
const char kBlackoutOid[] = "0.9.4";

void say(const char *text) { cli_print(CLI_LEVEL_ORDINARY, "%s", text); }

// A word of the rest of the line; the line bounds it.
std::vector<char> word_buffer(const char *rest) { return std::vector<char>(std::strlen(rest) + 1); }

const char *answer_text(const unsigned char *answer)
{
    return reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT;
}

// The blacked-out sections as the chip keeps them: the request's answer
// after "Getting MIB failed." when they cannot be read.
int read_blackout(int port, std::vector<ToneSection> &list)
{
    unsigned char answer[VDSL_BLOCK_SIZE];
    if (int rc = mib_get_logic(port, kBlackoutOid, answer)) {
        say("Getting MIB failed.");
        return rc;
    }
    list = chip_answers::decode_blackout_list(answer_text(answer));
    return 0;
}

int write_blackout(int port, const std::vector<ToneSection> &list)
{
    return mib_set_logic(port, kBlackoutOid, chip_answers::encode_blackout_list(list).c_str());
}

void say_range(const char *format, unsigned first, unsigned last)
{
    cli_print(CLI_LEVEL_ORDINARY, format, static_cast<int>(first), static_cast<int>(last));
}

}  // namespace

extern "C" int cmd_bitswap(char *rest, const cli_dir_row *)
{
    int number;
    std::vector<char> direction = word_buffer(rest), onoff = word_buffer(rest);
    int n = std::sscanf(rest, "%i %s %s", &number, direction.data(), onoff.data());
    const std::string dir = n >= 2 ? direction.data() : "", sw = n >= 3 ? onoff.data() : "";
    if (n != 3 || (dir != "us" && dir != "ds") || (sw != "on" && sw != "off")) {
        say("Usage: cmd <port id> <us/ds> <on/off>");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    uint32_t word = 0;
    if (mib_get_hex(port, "2.1.9", &word) != 0) {
        say("Setting MIB value failed.");
        return CLI_FAILED;
    }
    const uint32_t bit = dir == "us" ? kBitSwapUs : kBitSwapDs;
    word = sw == "on" ? word | bit : word & ~bit;
    char value[16];
    std::snprintf(value, sizeof value, "%x", word);
    if (mib_set_logic(port, "2.1.9", value) != 0) {
        say("Setting MIB value failed.");
        return CLI_FAILED;
    }
    return CLI_DONE;
}

extern "C" int cmd_psd_set(char *rest, const cli_dir_row *)
{
    int number;
    std::vector<char> direction = word_buffer(rest), psd = word_buffer(rest);
    if (std::sscanf(rest, "%i %s %s", &number, direction.data(), psd.data()) != 3) {
        say("Usage: cmd <portid> <us/ds> <psd_values>");
        say("psd_values is 96 hex encode for upstream and 192 hex encode for downstream");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    const std::string dir = direction.data();
    if (dir != "us" && dir != "ds") {
        say("The direction is not acceptable.");
        return CLI_USAGE;
    }
    // The check refuses every length but the direction's own, before anything is stored.
    if (psd_sequence_check(dir.c_str(), psd.data()) != 0) {
        say("The PSD mask is illegal.");
        return CLI_USAGE;
    }
    if (int rc = mib_set_logic(port, dir == "us" ? "0.10.8" : "0.10.7", psd.data())) {
        say("Error setting MIB value.");
        return rc;
    }
    char key[32];
    std::snprintf(key, sizeof key, "USR_PSD_MASK_%cS_P%d", dir == "us" ? 'U' : 'D', number);
    if (cfgmgr_write(key, psd.data()) != 0) {
        say("cfgmgr updates config failed.");
        return CLI_FAILED;
    }
    return CLI_DONE;
}

extern "C" int cmd_psd_show(char *rest, const cli_dir_row *)
{
    int number;
    std::vector<char> direction = word_buffer(rest);
    if (std::sscanf(rest, "%i %s", &number, direction.data()) != 2) {
        say("Usage: cmd <portid> <direction>");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    const std::string dir = direction.data();
    if (dir != "us" && dir != "ds")
        return CLI_USAGE;
    unsigned char answer[VDSL_BLOCK_SIZE];
    if (int rc = mib_get_logic(port, dir == "us" ? "0.10.8" : "0.10.7", answer)) {
        say("Error getting MIB value.");
        return rc;
    }
    const std::string text(answer_text(answer));
    cli_print(CLI_LEVEL_ORDINARY, "PSDs: %s",
              text.substr(0, dir == "us" ? kPsdCharsUs : kPsdCharsDs).c_str());
    return CLI_DONE;
}

extern "C" int cmd_show_black_tone(char *rest, const cli_dir_row *)
{
    int number;
    if (std::sscanf(rest, "%i", &number) != 1) {
        say("Usage: cmd <portid>");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    std::vector<ToneSection> list;
    if (int rc = read_blackout(port, list))
        return rc;
    say("Index\tStart Tone\tLast Tone");
    for (size_t i = 0; i < list.size(); i++)
        cli_print(CLI_LEVEL_ORDINARY, "%5d\t%10d\t%9d", static_cast<int>(i + 1),
                  static_cast<int>(list[i].first), static_cast<int>(list[i].last));
    say(" ");
    return CLI_DONE;
}

extern "C" int cmd_black_tone(char *rest, const cli_dir_row *)
{
    int number;
    unsigned first, last;
    if (std::sscanf(rest, "%i %u %u", &number, &first, &last) != 3 || (first == 0 && last == 0)) {
        say("Usage: cmd <portid> <start tone> <last tone>");
        say("Tone range: 0 ~ 8191");
        say("Tone range [0, 0] is not allowed to black");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    if (last < first || first > kTopTone || last > kTopTone) {
        say("Tone range is illegal.");
        return CLI_USAGE;
    }
    std::vector<ToneSection> list;
    if (int rc = read_blackout(port, list)) {
        say_range("[%d, %d] black failed.", first, last);
        return rc;
    }
    switch (chip_answers::blackout_insert(list, first, last)) {
    case InsertResult::Overlap:
        say("Overlapped mask not allowed.");
        return CLI_FAILED;
    case InsertResult::Full:
        say("No room for another section: 32 sections are blacked out.");
        say_range("[%d, %d] black failed.", first, last);
        return CLI_FAILED;
    case InsertResult::Done:
        break;
    }
    if (int rc = write_blackout(port, list)) {
        say("Settng MIB failed.");
        say_range("[%d, %d] black failed.", first, last);
        return rc;
    }
    say_range("[%d, %d] has been blacked out.", first, last);
    return CLI_DONE;
}

extern "C" int cmd_disblack_tone(char *rest, const cli_dir_row *)
{
    int number, section;
    if (std::sscanf(rest, "%i %i", &number, &section) != 2) {
        say("Usage: cmd <portid> <section idx>");
        say("run showBlackedTone cmd to have the section idx");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    std::vector<ToneSection> list;
    if (int rc = read_blackout(port, list)) {
        say("Setting MIB failed.");
        return rc;
    }
    if (section <= 0 || static_cast<size_t>(section) > list.size()) {
        say("Tone index is illegal.");
        return CLI_USAGE;
    }
    list.erase(list.begin() + (section - 1));
    if (int rc = write_blackout(port, list)) {
        say("Setting MIB failed.");
        return rc;
    }
    say("Target tone section has been disblacked.");
    return CLI_DONE;
}
