// Key by key against the exact bytes the editor writes.
#include "fw_test/matchers.h"
#include "line_editor.h"

#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "shell_fixture.h"

using fw_test::HasSubstr;
using fw_test::Not;

namespace {

using shelltest::take;

const std::string L = "\x1b[D";
const std::string R = "\x1b[C";
const std::string UP = "\x1b[A";
const std::string DOWN = "\x1b[B";

bool ends_with(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class LineEditorTest : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        cli_print_mask = CLI_MASK_INTERACTIVE;
        editor_.set_special_chars(0x7f, 0x15);
        editor_.begin_line();
    }

    // Feeds keys; returns what was written. A newline starts the next line.
    std::string keys(const std::string &text)
    {
        for (unsigned char c : text)
            if (editor_.feed(c))
                editor_.begin_line();
        return take();
    }

    static std::string row(const char *name, const char *help)
    {
        char text[256];
        std::snprintf(text, sizeof text, "%-16s - %s\n", name, help);
        return text;
    }

    cli::LineEditor editor_;
};

TEST_F(LineEditorTest, TabCompletesAUniquePrefixWithABlank)
{
    EXPECT_EQ(keys("pro"), "pro");
    EXPECT_EQ(keys("\t"), "files ");
    EXPECT_EQ(editor_.line(), "profiles ");
}

TEST_F(LineEditorTest, SecondTabListsTheDirectoryBelow)
{
    keys("pro\t");
    std::string out = keys("\t");
    EXPECT_EQ(out.rfind("\n" + row("line-template", "xDSL line configuration template"), 0), 0u) << out;
    EXPECT_THAT(out, HasSubstr(row("pre-define", "xDSL pre-define configuration")));
    EXPECT_THAT(out, Not(HasSubstr("?")));
    EXPECT_TRUE(ends_with(out, "\n\nrouter>profiles ")) << out;
}

TEST_F(LineEditorTest, TabListsCandidatesAndKeepsTheirCommonPrefix)
{
    keys("s");
    std::string want =
        "\n" + row("show", "Display xDSL informatons") + row("script", "Executes a CLI script file") +
        row("shellscript", "Executes a SHELL script file") + row("save", "Save configuration") + "\nrouter>s";
    EXPECT_EQ(keys("\t"), want);
    EXPECT_EQ(editor_.line(), "s");

    keys("\x15");
    keys("profiles lin");
    std::string out = keys("\t");
    EXPECT_EQ(editor_.line(), "profiles line-") << "common prefix of the three line-* words";
    EXPECT_TRUE(ends_with(out, "\n\nrouter>profiles line-")) << out;
}

TEST_F(LineEditorTest, TabOnAnEmptyLineListsEverythingButQuestionMark)
{
    std::string out = keys("\t");
    EXPECT_EQ(out.rfind("\n" + row("interface", "Commands for interfaces"), 0), 0u);
    EXPECT_THAT(out, HasSubstr(row("quit", "Exit this CLI session") + "\nrouter>"));
    EXPECT_THAT(out, Not(HasSubstr("?")));
    EXPECT_EQ(editor_.line(), "");
}

TEST_F(LineEditorTest, TabAfterALeafShowsItsHelp)
{
    keys("quit");
    EXPECT_EQ(keys("\t"), " \n" + row("quit", "Exit this CLI session") + "router>quit ");
    EXPECT_EQ(editor_.line(), "quit ");
}

TEST_F(LineEditorTest, TabAfterABadWordDoesNothing)
{
    keys("foo ");
    EXPECT_EQ(keys("\t"), "");
    EXPECT_EQ(editor_.line(), "foo ");
}

TEST_F(LineEditorTest, TabKeepsTheTextAfterTheCursor)
{
    keys("pX" + L);
    EXPECT_EQ(keys("\t"), "rofiles X" + L);
    EXPECT_EQ(editor_.line(), "profiles X");
    EXPECT_EQ(editor_.cursor(), 9u);
}

TEST_F(LineEditorTest, QuestionMarkHelps)
{
    keys("quit");
    EXPECT_EQ(keys("?"), "\n" + row("quit", "Exit this CLI session") + "router>quit");
    EXPECT_EQ(editor_.line(), "quit") << "? is never inserted";

    keys("\x15profiles ");
    std::string out = keys("?");
    // The current directory (the root) is listed, as "help" does.
    EXPECT_EQ(out.rfind("\n" + row("interface", "Commands for interfaces"), 0), 0u) << out;
    EXPECT_TRUE(ends_with(out, "\nrouter>profiles ")) << out;

    keys("\x15quit x");
    EXPECT_EQ(keys("?"), "") << "a word after a leaf: nothing";
}

TEST_F(LineEditorTest, HistoryUpAndDown)
{
    EXPECT_EQ(keys(UP), "") << "nothing to recall on the first line";
    keys("show\n");
    keys("util\n");
    EXPECT_EQ(keys(UP), "util");
    EXPECT_EQ(keys(UP), "\b\b\b\bshow");
    EXPECT_EQ(keys(UP), "");
    EXPECT_EQ(keys(DOWN), "\b\b\b\butil");
    EXPECT_EQ(keys(DOWN), "\b \b\b \b\b \b\b \b") << "back to the empty line being typed";
    EXPECT_EQ(editor_.line(), "");
}

TEST_F(LineEditorTest, RecallOfAShorterLineRubsOutTheSurplus)
{
    keys("ab\n");
    keys("wxyz");
    EXPECT_EQ(keys(UP), "\b \b\b \b\b\bab");
    EXPECT_EQ(keys(DOWN), "\b\bwxyz") << "the typed line was kept in its entry";
}

TEST_F(LineEditorTest, EmptyLinesAddNoHistory)
{
    keys("a\n");
    keys("\n");
    keys("\n");
    EXPECT_EQ(keys(UP), "a");
    EXPECT_EQ(keys(UP), "");
}

TEST_F(LineEditorTest, BackspaceEchoes)
{
    keys("ab");
    EXPECT_EQ(keys("\x7f"), "\b \b");
    EXPECT_EQ(editor_.line(), "a");
    keys("bc" + L + L);
    EXPECT_EQ(keys("\x7f"), "\bbc \b" + L + L);
    EXPECT_EQ(editor_.line(), "bc");
    EXPECT_EQ(keys("\x7f"), "") << "nothing before the cursor";
    EXPECT_EQ(keys(R + "\x1b[3"), R + "\bc \b" + L) << "ESC [ 3 deletes like backspace";
    EXPECT_EQ(editor_.line(), "c");
    EXPECT_EQ(keys("\b"), "") << "0x08 at the start: nothing";
}

TEST_F(LineEditorTest, DeleteKeySequenceSwallowsItsTilde)
{
    keys("ab");
    EXPECT_EQ(keys("\x1b[3~"), "\b \b");
    EXPECT_EQ(keys("~"), "~") << "a later ~ is a plain key";
    EXPECT_EQ(editor_.line(), "a~");
}

TEST_F(LineEditorTest, KillErasesTheWholeLine)
{
    keys("abc" + L);
    EXPECT_EQ(keys("\x15"), R + "\b \b\b \b\b \b");
    EXPECT_EQ(editor_.line(), "");
}

TEST_F(LineEditorTest, InsertInsideRedrawsTheRest)
{
    keys("ac");
    EXPECT_EQ(keys(L), L);
    EXPECT_EQ(keys("b"), "bc" + L);
    EXPECT_EQ(editor_.line(), "abc");
    EXPECT_EQ(editor_.cursor(), 2u);
    EXPECT_EQ(keys(L + L + L), L + L) << "no move before the start";
}

TEST_F(LineEditorTest, EscapeSequencesAndStrayKeys)
{
    EXPECT_EQ(keys("\x1b[x"), "x") << "unknown sequence: the key is inserted";
    EXPECT_EQ(keys("\x1b"
                   "A"),
              "A")
        << "no bracket: a plain letter";
    EXPECT_EQ(keys("["), "[");
    EXPECT_EQ(editor_.line(), "xA[");
}

TEST_F(LineEditorTest, LineHoldsAtMost4095Characters)
{
    std::string full(4095, 'x');
    EXPECT_EQ(keys(full), full);
    EXPECT_EQ(keys("y"), "");
    EXPECT_EQ(editor_.line().size(), 4095u);
}

TEST_F(LineEditorTest, NewlineEndsTheLine)
{
    keys("show");
    EXPECT_TRUE(editor_.feed('\n'));
    EXPECT_EQ(take(), "\n");
    EXPECT_EQ(editor_.line(), "show");
}

TEST_F(LineEditorTest, AnalysisOfWords)
{
    struct Case {
        const char *text;
        size_t words;
        bool blank, bad, incomplete, at_leaf;
    } cases[] = {
        {"profiles line-profile", 2, false, false, false, false},
        {"  profiles   line-profile ", 3, true, false, false, false},
        {"profiles lin", 2, false, false, true, false},
        {"profiles foo bar", 3, false, true, false, false},
        {"quit", 1, false, false, false, true},
        {"quit x", 2, false, true, true, false},
        {"aaaaaaaaaaaaaaaaaaaaa", 0, false, false, false, false},  // over 20 characters
    };
    for (const Case &c : cases) {
        cli::WordAnalysis a = cli::complete_word(c.text);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(a.words.size(), c.words);
        EXPECT_EQ(a.ends_with_blank, c.blank);
        EXPECT_EQ(a.bad_word, c.bad);
        EXPECT_EQ(a.incomplete, c.incomplete);
        EXPECT_EQ(a.reached == nullptr, c.at_leaf);
    }
}

}  // namespace
