// The generated tree against the directory list it was written from.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli_command.h"
#include "command_tree.h"
#include "shell_fixture.h"

namespace {

std::vector<std::string> names(const cli_dir_row *table)
{
    std::vector<std::string> out;
    for (const cli_dir_row *row = table; row->name; row++)
        out.push_back(row->name);
    return out;
}

const cli_directory_info *find_dir(const std::string &path)
{
    for (unsigned i = 0; i < cli_directory_count; i++)
        if (path == cli_directories[i].path)
            return &cli_directories[i];
    return nullptr;
}

// Own words per directory (before the built-in rows), and the first and last of them.
struct Expect {
    const char *path;
    size_t own;
    const char *first;
    const char *last;
    char flag;
};

const Expect kTree[] = {
    {"", 7, "interface", "save", 'R'},
    {"interface", 1, "xdsl", "xdsl", 'H'},
    {"interface xdsl", 6, "set", "iop", 'H'},
    {"interface xdsl set", 4, "oidbit", "mibname", 'N'},
    {"interface xdsl show", 13, "summary", "pvc", 'H'},
    {"interface xdsl show table", 6, "line", "pmlineinitcurr", 'H'},
    {"interface xdsl dump", 2, "table", "mem", 'N'},
    {"interface xdsl dump table", 12, "all", "ginpst", 'N'},
    {"interface xdsl pvc", 4, "basic", "default", 'N'},
    {"interface xdsl g.inp", 10, "etr", "table", 'N'},
    {"interface xdsl iop", 3, "list", "apply", 'N'},
    {"profiles", 8, "line-template", "pre-define", 'H'},
    {"profiles line-template", 4, "new", "set", 'N'},
    {"profiles line-template set", 2, "line-profile", "chan-profile", 'N'},
    {"profiles line-profile", 4, "new", "set", 'N'},
    {"profiles line-profile set", 54, "SYS", "IOT", 'N'},
    {"profiles chan-profile", 4, "new", "set", 'N'},
    {"profiles chan-profile set", 10, "minDataRateDsCh1", "minInp8UsCh1", 'N'},
    {"profiles alarm-template", 4, "new", "set", 'N'},
    {"profiles alarm-template set", 2, "line-alarm-profile", "chan-alarm-profile", 'N'},
    {"profiles line-alarm-profile", 4, "new", "set", 'N'},
    {"profiles line-alarm-profile set", 12, "xtucFecs", "shrtInt", 'N'},
    {"profiles chan-alarm-profile", 4, "new", "set", 'N'},
    {"profiles chan-alarm-profile set", 4, "cvThresXtuc", "correctedThresXtur", 'N'},
    {"profiles port", 3, "show", "set", 'N'},
    {"profiles port set", 4, "line-template", "active", 'N'},
    {"profiles pre-define", 15, "vn-new", "show", 'N'},
    {"show", 33, "summary", "loop-back", 'H'},
    {"util", 20, "df", "mgt-iface", 'H'},
    {"util misc", 8, "pktcount", "statdelay", 'H'},
    {"util misc pktcount", 2, "show", "clear", 'H'},
    {"util selt", 3, "calibrate", "show", 'H'},
};

TEST(CommandTree, ThirtyTwoDirectoriesWithTheirWordsInOrder)
{
    ASSERT_EQ(cli_directory_count, 32u);
    ASSERT_EQ(sizeof kTree / sizeof kTree[0], 32u);
    for (const Expect &e : kTree) {
        SCOPED_TRACE(e.path);
        const cli_directory_info *dir = find_dir(e.path);
        ASSERT_NE(dir, nullptr);
        EXPECT_EQ(dir->flag, e.flag);
        std::vector<std::string> words = names(dir->table);
        std::vector<std::string> tail;
        if (e.flag == 'R')
            tail = {"help", "exit", "quit", "?"};
        else if (e.flag == 'H')
            tail = {"help", "exit", "home", "quit", "?"};
        else
            tail = {"exit", "home", "quit", "?"};
        ASSERT_EQ(words.size(), e.own + tail.size());
        EXPECT_EQ(words.front(), e.first);
        EXPECT_EQ(words[e.own - 1], e.last);
        EXPECT_EQ(std::vector<std::string>(words.begin() + static_cast<long>(e.own), words.end()), tail);
        std::set<std::string> unique(words.begin(), words.end());
        EXPECT_EQ(unique.size(), words.size()) << "a word twice in one directory";
    }
}

TEST(CommandTree, RowsPointWhereTheirWordsLead)
{
    for (unsigned i = 0; i < cli_directory_count; i++) {
        const cli_directory_info &dir = cli_directories[i];
        SCOPED_TRACE(dir.path);
        std::string path = dir.path;
        for (const cli_dir_row *row = dir.table; row->name; row++) {
            std::string word = row->name;
            EXPECT_EQ(row->reserved, 0u);
            ASSERT_NE(row->handler, nullptr);
            ASSERT_NE(row->help, nullptr);
            EXPECT_NE(std::string(row->help), "");
            if (word == "exit") {
                if (path.empty()) {
                    EXPECT_EQ(row->subdirectory, nullptr);
                    EXPECT_EQ(row->handler, cmd_quit);
                } else {
                    std::string parent =
                        path.find(' ') == std::string::npos ? "" : path.substr(0, path.rfind(' '));
                    EXPECT_EQ(row->subdirectory, find_dir(parent)->table);
                    if (parent.empty()) {
                        EXPECT_EQ(row->handler, cmd_home);
                    }
                }
            } else if (word == "home") {
                EXPECT_EQ(row->subdirectory, cli_root_directory);
                EXPECT_EQ(row->handler, cmd_home);
            } else if (row->subdirectory) {
                std::string sub = path.empty() ? word : path + " " + word;
                const cli_directory_info *target = find_dir(sub);
                ASSERT_NE(target, nullptr) << sub;
                EXPECT_EQ(row->subdirectory, target->table);
                EXPECT_STREQ(cli_directory_label(target->table), ("(" + sub + ")").c_str());
            }
        }
    }
}

class CommandTreeWalk : public shelltest::ShellTest {};

// Every directory can be entered by its path, and shows its label in the prompt.
TEST_F(CommandTreeWalk, EveryDirectoryIsReachableByItsPath)
{
    for (unsigned i = 1; i < cli_directory_count; i++) {
        const cli_directory_info &dir = cli_directories[i];
        cmd_home(nullptr, nullptr);
        ASSERT_EQ(run(dir.path), CLI_DONE) << dir.path;
        EXPECT_EQ(current_directory, dir.table) << dir.path;
        EXPECT_EQ(std::string(cli_prompt()), std::string("router ") + dir.label + ">");
    }
}

TEST(CommandTree, HelpTextsGivenWithTheCommands)
{
    std::map<std::string, std::string> expect = {
        {"show serviceinfo", "Show full Service Info"},
        {"show zmohwid", "Show ZMO Hardware ID"},
        {"interface xdsl show table scstatussegment", "Show xdsl2SCStatusSegmentTable"},
        {"interface xdsl show delt", "DELT loop diagnostic function"},
        {"interface xdsl dump table ginpst", "Dump g.inp status table"},
        {"profiles line-profile set raUsTimeUs", "Upstream up-shift  time interval"},
        {"profiles chan-profile set minInp8UsCh1", "Us min impulse noise protection in 8.625kHz(symbol) CH1"},
        {"interface xdsl", "Commands for xdsl interfaces?"},
        {"show", "Display xDSL informatons"},
    };
    for (const auto &kv : expect) {
        std::string path = kv.first;
        std::string parent = path.substr(0, path.rfind(' ') == std::string::npos ? 0 : path.rfind(' '));
        std::string word = path.substr(path.rfind(' ') == std::string::npos ? 0 : path.rfind(' ') + 1);
        const cli_directory_info *dir = find_dir(parent);
        ASSERT_NE(dir, nullptr) << path;
        const cli_dir_row *found = nullptr;
        for (const cli_dir_row *row = dir->table; row->name; row++)
            if (word == row->name)
                found = row;
        ASSERT_NE(found, nullptr) << path;
        EXPECT_EQ(std::string(found->help), kv.second) << path;
    }
}

}  // namespace
