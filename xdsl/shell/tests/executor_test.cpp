#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <iterator>
#include <thread>
#include <vector>

#include "fw_test/matchers.h"
#include "cli_command.h"
#include "cli_print.h"
#include "shell_command.h"
#include "shell_fixture.h"

using fw_test::HasSubstr;
using fw_test::Not;

namespace {

using shelltest::take;

class ExecutorTest : public shelltest::ShellTest {};

TEST(StrTrim, Cases)
{
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"   ", ""},  {"show ?", "show"}, {"?", ""},  {"  show  \n", "show"},
        {"a??", "a"}, {"\t x \t", "x"},   {"x", "x"}, {"show summary ??", "show summary"},
    };
    for (const auto &c : cases) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s", c.in);
        EXPECT_STREQ(str_trim(buf), c.out) << '"' << c.in << '"';
    }
}

TEST_F(ExecutorTest, NothingToRunReturnsZeroSilently)
{
    for (const char *line : {"", "\n", "# comment", "#", "    ", "   \n"}) {
        EXPECT_EQ(run(line), CLI_DONE) << '"' << line << '"';
        EXPECT_EQ(take(), "") << '"' << line << '"';
    }
}

TEST_F(ExecutorTest, DirectoryWordsMoveTheUserAndSetThePrompt)
{
    EXPECT_EQ(run("profiles line-profile set"), CLI_DONE);
    EXPECT_STREQ(cli_prompt(), "router (profiles line-profile set)>");
    EXPECT_EQ(run("exit"), CLI_DONE);
    EXPECT_STREQ(cli_prompt(), "router (profiles line-profile)>");
    EXPECT_EQ(run("set"), CLI_DONE);
    EXPECT_EQ(run("home"), CLI_DONE);
    EXPECT_STREQ(cli_prompt(), "router>");
    EXPECT_EQ(current_directory, cli_root_directory);
    EXPECT_EQ(run("interface"), CLI_DONE);
    EXPECT_EQ(run("exit"), CLI_DONE) << "exit below the root goes home";
    EXPECT_STREQ(cli_prompt(), "router>");
}

TEST_F(ExecutorTest, LeafCommandRunsInsideAndTheUserStaysWhereTheyWere)
{
    ASSERT_EQ(run("util"), CLI_DONE);
    take();
    // "misc help" runs help inside (util misc), then the user is back in (util).
    EXPECT_EQ(run("misc help"), CLI_DONE);
    std::string out = take();
    EXPECT_EQ(out.rfind("pktcount         - Pkt tx/rx count information\n", 0), 0u) << out;
    EXPECT_STREQ(cli_prompt(), "router (util)>");
    EXPECT_EQ(run("misc pktcount"), CLI_DONE);
    EXPECT_STREQ(cli_prompt(), "router (util misc pktcount)>");
}

TEST_F(ExecutorTest, UnknownWordsAnswerNoSuchCommand)
{
    struct Case {
        const char *line;
        const char *prompt_after;
    } cases[] = {
        {"Show", "router>"},  // case matters
        {"sh", "router>"},    // no abbreviation
        {"profiles foo", "router>"},
        {"show foo", "router>"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(run(c.line), CLI_NO_SUCH_COMMAND) << c.line;
        EXPECT_EQ(take(), "No such command.\n") << c.line;
        EXPECT_STREQ(cli_prompt(), c.prompt_after) << c.line;
        EXPECT_EQ(current_directory, cli_root_directory);
    }
}

TEST_F(ExecutorTest, QuitAndRootExitEndTheShell)
{
    EXPECT_EQ(run("quit"), CLI_QUIT);
    EXPECT_EQ(run("exit"), CLI_QUIT);
    EXPECT_EQ(run("profiles port set quit"), CLI_QUIT);
}

TEST_F(ExecutorTest, EveryTreeCommandReachesItsHandler)
{
    // The diagnostics that came last are handlers too: their usage answers.
    EXPECT_EQ(run("util dumpsoc"), CLI_DONE);
    EXPECT_EQ(take(), "Usage:cmd <portid>\n");
    EXPECT_EQ(run("show delt"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage: cmd <portid>\n");
    EXPECT_EQ(run("interface xdsl show table scstatussegment 1"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage: cmd <portid> <hlinear/hlog/qln/snr/bitsalloc/gainalloc>\n");
    EXPECT_STREQ(cli_prompt(), "router>");
}

TEST_F(ExecutorTest, HelpListsLooksUpOrRefuses)
{
    ASSERT_EQ(run("help"), CLI_DONE);
    std::string all = take();
    EXPECT_THAT(all, Not(HasSubstr("?"))) << "rows named ? are not listed";
    EXPECT_EQ(all.rfind("interface        - Commands for interfaces\n", 0), 0u) << all;
    EXPECT_THAT(all, HasSubstr("quit             - Exit this CLI session\n"));

    EXPECT_EQ(run("help q"), CLI_DONE);
    EXPECT_EQ(take(), all) << "a one-character argument lists everything";
    EXPECT_EQ(run("help quit"), CLI_DONE);
    EXPECT_EQ(take(), "quit             - Exit this CLI session\n");
    EXPECT_EQ(run("help nothing"), CLI_DONE);
    EXPECT_EQ(take(), "No help for such command.\n");
    EXPECT_EQ(run("?"), CLI_DONE);
    EXPECT_EQ(take(), all);
}

TEST_F(ExecutorTest, SaveOnlyConfirms)
{
    EXPECT_EQ(run("save"), CLI_DONE);
    EXPECT_EQ(take(), "Configuration saved\n");
}

TEST_F(ExecutorTest, VariablesExpandThroughTheConfigurationManager)
{
    store("CLI_HOSTNAME", "router");
    take();
    EXPECT_EQ(run("show $CLI_HOSTNAME$"), CLI_NO_SUCH_COMMAND);
    EXPECT_EQ(take(), "show router\nNo such command.\n");
    EXPECT_EQ(run("he$MISSING$lp quit"), CLI_DONE) << "an absent key contributes nothing";
    EXPECT_EQ(take(), "help quit\nquit             - Exit this CLI session\n");
}

TEST_F(ExecutorTest, UnclosedVariableRunsTheTextBeforeIt)
{
    EXPECT_EQ(run("help quit $oops"), CLI_DONE);
    EXPECT_EQ(take(), "Variable format error!!\nquit             - Exit this CLI session\n");
    EXPECT_EQ(run("$"), CLI_DONE);
    EXPECT_EQ(take(), "Variable format error!!\n");
}

TEST_F(ExecutorTest, VariableNamesAreLettersDigitsAndUnderscore)
{
    for (const char *line : {"show $a;touch x$", "show $A B$", "show $../x$", "show $$"}) {
        EXPECT_EQ(run(line), CLI_FAILED) << line;
        EXPECT_THAT(take(), HasSubstr("refused")) << line;
    }
    EXPECT_EQ(argv_log(), "") << "a refused name never reaches the configuration manager";
}

TEST_F(ExecutorTest, OverlongLinesAreRefusedNotCut)
{
    store("LONG", std::string(250, 'x'));
    take();
    std::string line = "help $LONG$ $LONG$ $LONG$";
    EXPECT_EQ(run(line), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("too long after variable expansion"));

    std::string typed = "help " + std::string(600, 'y');
    EXPECT_EQ(run(typed), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("too long"));

    std::string fits = "help " + std::string(506, 'y');
    EXPECT_EQ(fits.size(), 511u);
    EXPECT_EQ(run(fits), CLI_DONE);
    EXPECT_EQ(take(), "No help for such command.\n");
}

TEST_F(ExecutorTest, ScriptRunsLinesFromTheRootAndStopsAtQuit)
{
    std::string path = write_file("s.cli", "help quit\nprofiles\nline-profile\nquit\nhelp save\n");
    EXPECT_EQ(run("script " + path), CLI_QUIT);
    std::string out = take();
    EXPECT_EQ(out, "Running script " + path +
                       ":\n>>help quit\n\nquit             - Exit this CLI session\n"
                       ">>profiles\n\n>>line-profile\n\nNo such command.\n>>quit\n\n");
}

TEST_F(ExecutorTest, ScriptUsageMissingFileAndNesting)
{
    EXPECT_EQ(run("script"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage: script <file_name>\n");
    EXPECT_EQ(run("script " + dir_ + "/none"), CLI_FAILED);
    EXPECT_EQ(take(), "Script file " + dir_ + "/none was not found.\n");

    // A script that runs itself stops at the nesting limit instead of the stack's end.
    std::string path = dir_ + "/self.cli";
    write_file("self.cli", "script " + path + "\n");
    EXPECT_EQ(run("script " + path), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("nested too deep"));
    EXPECT_STREQ(cli_prompt(), "router>");
}

TEST_F(ExecutorTest, ShellScriptRunsTheNamedFileThroughTheShell)
{
    std::string marker = dir_ + "/ran";
    std::string path = write_file("run.sh", "echo \"$1\" > " + marker + "\n");
    EXPECT_EQ(run("shellscript " + path + " hello"), CLI_DONE);
    EXPECT_EQ(take(), "Running shell script " + path + ":\n");
    std::ifstream in(marker);
    std::string word;
    in >> word;
    EXPECT_EQ(word, "hello");

    EXPECT_EQ(run("shellscript"), CLI_USAGE);
    take();
    EXPECT_EQ(run("shellscript " + dir_ + "/none.sh&"), CLI_FAILED);
    EXPECT_EQ(take(), "Script file " + dir_ + "/none.sh& was not found.\n");
}

TEST(SplitShellCommand, ExpandedValuesStayOneWord)
{
    struct Case {
        const char *text;
        std::vector<std::pair<size_t, size_t>> spans;  // offsets of expanded stretches
        std::vector<std::string> words;
        bool background;
    } cases[] = {
        {"run.sh a  b", {}, {"run.sh", "a", "b"}, false},
        {"run.sh x; touch /tmp/p", {{7, 22}}, {"run.sh", "x; touch /tmp/p"}, false},
        {"run.sh pre-x y-post", {{11, 14}}, {"run.sh", "pre-x y-post"}, false},
        {"run.sh  end", {{7, 7}}, {"run.sh", "", "end"}, false},
        {"run.sh&", {}, {"run.sh"}, true},
        {"run.sh a &", {}, {"run.sh", "a"}, true},
        {"run.sh a&", {{7, 9}}, {"run.sh", "a&"}, false},  // an expanded '&' is text
        {"   ", {}, {}, false},
    };
    for (const Case &c : cases) {
        std::vector<cli::TextSpan> spans;
        for (auto &o : c.spans)
            spans.push_back({c.text + o.first, c.text + o.second});
        ShellCommand got = split_shell_command(c.text, spans);
        EXPECT_EQ(got.words, c.words) << c.text;
        EXPECT_EQ(got.background, c.background) << c.text;
    }
}

TEST_F(ExecutorTest, ShellScriptGetsStoredValuesAsArgumentsNeverAsSyntax)
{
    std::string out = dir_ + "/args";
    std::string path = write_file("args.sh", "printf '%s|' \"$#\" \"$@\" > " + out + "\n");
    std::string planted = dir_ + "/planted";
    store("EVIL", "x; touch " + planted);
    EXPECT_EQ(run("shellscript " + path + " $EVIL$ two"), CLI_DONE);
    take();
    std::ifstream in(out);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "2|x; touch " + planted + "|two|");
    EXPECT_FALSE(std::ifstream(planted).good());
}

TEST_F(ExecutorTest, ShellScriptWithTrailingAmpersandDoesNotWait)
{
    std::string marker = dir_ + "/late";
    std::string path = write_file("slow.sh", "sleep 1; echo done > " + marker + "\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run("shellscript " + path + " &"), CLI_DONE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));
    EXPECT_FALSE(std::ifstream(marker).good());
    for (int i = 0; i < 50 && !std::ifstream(marker).good(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(std::ifstream(marker).good());
}

TEST_F(ExecutorTest, ScriptRefusesAnOverlongLineAndRunsTheNext)
{
    std::string path = write_file("long.cli", "help " + std::string(5000, 'x') + " quit\nhelp quit\n");
    EXPECT_EQ(run("script " + path), CLI_DONE);
    std::string out = take();
    EXPECT_NE(out.find("Line too long (at most 4095 characters): not run.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("quit             - "), std::string::npos) << out;
    EXPECT_EQ(out.find("No help for such command."), std::string::npos) << out;
}

TEST_F(ExecutorTest, ScriptOfAnEndlessLineReturns)
{
    EXPECT_EQ(run("script /dev/zero"), CLI_FAILED);
    EXPECT_NE(take().find("the rest is not read"), std::string::npos);
}

TEST_F(ExecutorTest, InvalidPortPrintsAtThePortLevel)
{
    EXPECT_EQ(invalid_port(1), CLI_INVALID_PORT);
    EXPECT_EQ(take(), "Invalid portid=1\n\n");
    cli_print_mask = CLI_MASK_INTERACTIVE;
    invalid_port(3);
    EXPECT_EQ(take(), "");
}

TEST_F(ExecutorTest, PrintKeyValueFindsTheKey)
{
    std::string path = write_file("kv.txt", "A=1\nSELT_DATA=/tmp/x=ignored\nB\n");
    std::FILE *f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(print_key_value(f, "SELT_DATA"), CLI_DONE);
    EXPECT_EQ(take(), "Value = /tmp/x\n");
    std::rewind(f);
    EXPECT_EQ(print_key_value(f, "C"), CLI_FAILED);
    EXPECT_EQ(take(), "No C value.\n");
    std::fclose(f);
}

}  // namespace
